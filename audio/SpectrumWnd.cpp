#include "audio/SpectrumWnd.h"

#include "audio/AudioManagerWnd.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

using parvane::SpectrumAnalysis;
using parvane::SpectrumBlock;

namespace {

constexpr int kMinimumWidth = 520;
constexpr int kMinimumHeight = 380;
constexpr float kHzPerBar = static_cast<float>(CLiveSpectrumView::kShownHz / 100);

} // namespace

// ---- the spectrum view ---------------------------------------------------------------

CLiveSpectrumView::CLiveSpectrumView(QWidget* parent) : CWaveShow(parent)
{
    m_bSpectrum = 1;
}

double CLiveSpectrumView::FrequencyAt(int x) const
{
    const float pixelsPerBar = PixelsPerBar();
    return pixelsPerBar > 0 ? x / pixelsPerBar * kHzPerBar : 0.0;
}

// The bars follow the rule of the spectrum analysis (SpectrumAnalysis::
// ComputeBars) over the bins below kShownHz, scaled to the strongest of them.
double CLiveSpectrumView::Show(const SpectrumBlock& block)
{
    m_markedFrequency = 0.0;
    m_markedX = -1;
    if (m_drawing.isNull() || block.binCount <= 1 || block.sampleRate == 0)
        return 0.0;
    const double binHz = block.sampleRate * 0.5 / block.binCount;
    const int shownBins = std::min(block.binCount, static_cast<int>(kShownHz / binHz));
    const int peak = SpectrumAnalysis::FindPeak(block.power, shownBins);
    const float binsPerBar = static_cast<float>(shownBins / 100.0);
    const int height = m_rcDraw.height();
    const std::vector<parvane::SpectrumBar> bars =
        SpectrumAnalysis::ComputeBars(block.power, shownBins, peak, binsPerBar, PixelsPerBar(), height);

    RestoreBackground();
    QPainter painter(&m_drawing);
    QColor band = BandColour();
    band.setAlpha(110);
    const int bandLeft = static_cast<int>(SpectrumAnalysis::kLowestCounted / kHzPerBar * PixelsPerBar());
    const int bandRight = static_cast<int>(SpectrumAnalysis::kHighestCounted / kHzPerBar * PixelsPerBar());
    painter.fillRect(QRect(bandLeft, 0, bandRight - bandLeft, height), band);

    painter.setPen(m_tracePen);
    const parvane::SpectrumBar* tallest = nullptr;
    for (const auto& bar : bars) {
        painter.drawLine(bar.x, bar.bottom, bar.x, bar.top);
        if (tallest == nullptr || bar.top < tallest->top)
            tallest = &bar;
    }
    if (tallest != nullptr && block.power[peak] > 0.0) {
        m_markedX = tallest->x;
        m_markedFrequency = SpectrumAnalysis::BinFrequency(block.sampleRate, peak, block.binCount);
        // The strongest bar is drawn again in the marker colour, with a
        // dashed line above it up to its label.
        painter.setPen(QPen(MarkerColour(), 2));
        painter.drawLine(tallest->x, tallest->bottom, tallest->x, tallest->top);
        painter.setPen(QPen(MarkerColour(), 1, Qt::DashLine));
        painter.drawLine(m_markedX, 0, m_markedX, tallest->top);
        QFont font("Arial");
        font.setPixelSize(13);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(MarkerColour());
        const QString label = QString::number(std::lround(m_markedFrequency)) + QStringLiteral(" Hz");
        const int textWidth = painter.fontMetrics().horizontalAdvance(label) + 4;
        const int textX = m_markedX + 6 + textWidth < m_rcDraw.width() ? m_markedX + 6 : m_markedX - 6 - textWidth;
        painter.drawText(QRect(textX, 4, textWidth, 18), Qt::AlignLeft | Qt::AlignVCenter, label);
    }
    painter.end();
    update();
    return m_markedFrequency;
}

// ---- the waveform view ---------------------------------------------------------------

// One vertical stroke per pixel column from the smallest to the largest
// sample it covers, full scale at the grid's 1.0 lines.
void CLiveWaveView::Show(const SpectrumBlock& block)
{
    if (m_drawing.isNull() || block.samples == nullptr || block.frames <= 0)
        return;
    RestoreBackground();
    QPainter painter(&m_drawing);
    painter.setPen(QPen(TraceColour(), 1));
    const int width = m_rcDraw.width();
    const double middle = m_rcDraw.height() / 2.0;
    const auto y = [&](double sample) { return static_cast<int>(std::lround(middle - sample / 32768.0 * middle)); };
    for (int x = 0; x < width; ++x) {
        const int from = static_cast<int>(static_cast<int64_t>(x) * block.frames / width);
        const int to = std::max(from + 1, static_cast<int>(static_cast<int64_t>(x + 1) * block.frames / width));
        const auto [low, high] = std::minmax_element(block.samples + from, block.samples + std::min(to, block.frames));
        painter.drawLine(x, y(*high), x, y(*low));
    }
    painter.end();
    update();
}

// ---- the window ------------------------------------------------------------------------

CSpectrumWnd::CSpectrumWnd(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(760, 520);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(32, 32, 36));
    setPalette(palette);
    setAutoFillBackground(true);
    const CAudioManagerWnd::Layout layout = CAudioManagerWnd::ComputeLayout(rect());
    m_waveform.Create(layout.waveform, this, 1000, false);
    m_spectrum.Create(layout.spectrum, this, 1000, false);
    m_spectrum.SetScale(0, kHzPerBar);
    if (m_spectrum.CaptionStrip())
        m_spectrum.CaptionStrip()->SetLeftText(QStringLiteral("Waiting for an Analyze Mode run"));
}

CSpectrumWnd::~CSpectrumWnd()
{
    Watch(false);
}

void CSpectrumWnd::Attach(SpectrumAnalysis* analysis)
{
    if (analysis == m_analysis)
        return;
    Watch(false);
    m_analysis = analysis;
    Watch(isVisible());
}

bool CSpectrumWnd::IsWatching() const
{
    return m_watching;
}

void CSpectrumWnd::Watch(bool on)
{
    if (m_analysis == nullptr) {
        m_watching = false;
        return;
    }
    if (on == m_watching)
        return;
    m_watching = on;
    if (on)
        m_analysis->SetBlockObserver([this](const SpectrumBlock& block) { OnBlock(block); });
    else
        m_analysis->SetBlockObserver(nullptr);
}

void CSpectrumWnd::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Watch(true);
}

void CSpectrumWnd::hideEvent(QHideEvent* event)
{
    Watch(false);
    QWidget::hideEvent(event);
}

void CSpectrumWnd::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Relayout();
}

void CSpectrumWnd::Relayout()
{
    const CAudioManagerWnd::Layout layout = CAudioManagerWnd::ComputeLayout(rect());
    m_waveform.Place(layout.waveform);
    m_spectrum.Place(layout.spectrum);
    m_scaledFor[0] = m_scaledFor[1] = 0; // the waveform's ruler is set again with the next block
}

void CSpectrumWnd::OnBlock(const SpectrumBlock& block)
{
    ++m_blocksShown;
    if (block.sampleRate != m_scaledFor[0] || static_cast<uint32_t>(block.frames) != m_scaledFor[1]) {
        // The waveform's ruler counts the block's milliseconds.
        m_scaledFor[0] = block.sampleRate;
        m_scaledFor[1] = static_cast<uint32_t>(block.frames);
        const double blockMs = block.sampleRate ? 1000.0 * block.frames / block.sampleRate : 0.0;
        m_waveform.SetScale(0, static_cast<float>(blockMs / 10));
        if (m_waveform.CaptionStrip())
            m_waveform.CaptionStrip()->SetRightText(QStringLiteral("ms"));
    }
    m_waveform.Show(block);
    double loudest = 0.0;
    for (int i = 0; i < block.frames; ++i)
        loudest = std::max(loudest, std::abs(block.samples[i]));
    if (m_waveform.CaptionStrip())
        m_waveform.CaptionStrip()->SetLeftText(
            loudest > 0 ? QStringLiteral("Peak level %1 dBFS").arg(20.0 * std::log10(loudest / 32768.0), 0, 'f', 1)
                        : QStringLiteral("Silence"));

    const double marked = m_spectrum.Show(block);
    if (m_spectrum.CaptionStrip())
        m_spectrum.CaptionStrip()->SetLeftText(
            QStringLiteral("Strongest: %1 Hz    shaded: %2 to %3 Hz, the band Analyze Mode counts")
                .arg(std::lround(marked > 0 ? marked : block.peakFrequency))
                .arg(SpectrumAnalysis::kLowestCounted)
                .arg(SpectrumAnalysis::kHighestCounted));
}
