#include "audio/SpectrumWnd.h"

#include "audio/AudioManagerWnd.h"
#include "audio/Fft.h"
#include "display/SpectrogramDrawing.h"
#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"

#include <QComboBox>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

using parvane::SpectrumAnalysis;
using parvane::SpectrumBlock;
namespace draw = parvane::draw;
namespace vexlin = parvane::vexlin;

namespace {

constexpr int kMinimumWidth = 560;
constexpr int kMinimumHeight = 480;
constexpr double kPi = 3.14159265358979323846;
// The spectrogram's share of the window's height; the bars take the rest.
constexpr double kSpectrogramShare = 0.6;
// A block whose strongest bin is weaker than this names no tone.
constexpr double kQuietestToneDbfs = -50.0;
const QColor kText(225, 225, 225);
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

// ---- the spectrogram ---------------------------------------------------------------------

CSpectrogramView::CSpectrogramView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_window.resize(kTransformPoints);
    m_input.resize(kTransformPoints);
    m_real.resize(kTransformPoints);
    m_imag.resize(kTransformPoints);
    for (int i = 0; i < kTransformPoints; ++i)
        m_window[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (kTransformPoints - 1));
}

void CSpectrogramView::SetTexts(const SpectrumTexts& texts)
{
    m_texts = texts;
    Compose();
}

void CSpectrogramView::SetShownHz(double hertz)
{
    const double shown = std::clamp(hertz, SpectrumAnalysis::kHighestCounted, kHighestKeptHz);
    if (shown == m_shownHz)
        return;
    m_shownHz = shown;
    Compose();
}

void CSpectrogramView::SetCandidates(std::vector<SpectrumCandidate> candidates)
{
    m_candidates = std::move(candidates);
}

// The rows of the history (from its bottom, 0 Hz) that the band shows.
int CSpectrogramView::ShownRows() const
{
    const double binHz = static_cast<double>(m_sampleRate) / kTransformPoints;
    return std::clamp(static_cast<int>(m_shownHz / binHz) + 1, 1, m_history.height());
}

void CSpectrogramView::Feed(const SpectrumBlock& block)
{
    if (block.samples == nullptr || block.frames <= 0 || block.sampleRate == 0)
        return;
    if (block.sampleRate != m_sampleRate) {
        // Another rate starts the picture afresh: its columns are other times and bins.
        m_sampleRate = block.sampleRate;
        const int columns = static_cast<int>(int64_t{kHistoryMs} * m_sampleRate / 1000 / kHop);
        const double binHz = static_cast<double>(m_sampleRate) / kTransformPoints;
        const int rows = std::clamp(static_cast<int>(kHighestKeptHz / binHz) + 1, 2, kTransformPoints / 2);
        m_history = QImage(columns, rows, QImage::Format_RGB32);
        m_history.fill(Qt::black);
        m_columns = 0;
        m_pending.clear();
        m_samplesFed = 0;
        m_peakCounts.clear();
        m_toneHz = 0;
        m_detector.reset();
        m_stretches.clear();
    }
    m_pending.insert(m_pending.end(), block.samples, block.samples + block.frames);
    m_samplesFed += block.frames;
    size_t used = 0;
    for (; m_pending.size() - used >= static_cast<size_t>(kTransformPoints); used += kHop)
        AddColumn(m_pending.data() + used);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));

    // The strongest frequency now: the block's peak (its bins are the
    // finest) with the level of the newest column there.
    m_strongestHz = block.peakFrequency;
    m_strongestDbfs = -200.0;
    const double binHz = static_cast<double>(m_sampleRate) / kTransformPoints;
    const int at = static_cast<int>(std::lround(m_strongestHz / binHz));
    for (int bin = std::max(0, at - 1); bin <= at + 1 && bin < static_cast<int>(m_lastColumn.size()); ++bin)
        m_strongestDbfs = std::max(m_strongestDbfs, static_cast<double>(m_lastColumn[bin]));
    FollowTone(block.peakFrequency, m_strongestDbfs);

    // The tone detector hears the block's samples.
    if (m_detector) {
        m_samples16.resize(block.frames);
        for (int i = 0; i < block.frames; ++i)
            m_samples16[i] = static_cast<int16_t>(std::clamp(std::lround(block.samples[i]), -32768L, 32767L));
        const size_t before = m_frames.size();
        m_detector->Process(m_samples16.data(), m_samples16.size(), m_frames);
        // A frame's decision is about the window that ends with it.
        const int lag = m_detector->WindowMs() / 2;
        for (size_t i = before; i < m_frames.size(); ++i) {
            if (!m_frames[i].tone)
                continue;
            const int64_t ms = m_detectorStartMs + static_cast<int64_t>(i) - lag;
            if (!m_stretches.empty() && ms - m_stretches.back().endMs < vexlin::CadenceTracker::kSilenceSettleMs)
                m_stretches.back().endMs = ms + 1;
            else
                m_stretches.push_back({ms, ms + 1});
        }
        // Only the decisions since the last block are needed.
        m_detectorStartMs += static_cast<int64_t>(m_frames.size());
        m_frames.clear();
        while (!m_stretches.empty() && m_stretches.front().endMs < NowMs() - kHistoryMs)
            m_stretches.pop_front();
    }
    Compose();
}

void CSpectrogramView::AddColumn(const double* samples)
{
    for (int i = 0; i < kTransformPoints; ++i)
        m_input[i] = samples[i] * m_window[i];
    FFT(kTransformPoints, false, m_input.data(), nullptr, m_real.data(), m_imag.data());
    // A full-scale sine at a bin's centre reads 0 dBFS: its magnitude is
    // 32768 times half the window's sum.
    const double fullScale = 32768.0 * kTransformPoints / 4.0;
    const int rows = m_history.height();
    m_lastColumn.resize(rows);
    for (int bin = 0; bin < rows; ++bin)
        m_lastColumn[bin] = static_cast<float>(
            draw::PowerDb((m_real[bin] * m_real[bin] + m_imag[bin] * m_imag[bin]) / (fullScale * fullScale)));
    // Newest on the right: every row moves one pixel to the left.
    const int width = m_history.width();
    for (int row = 0; row < rows; ++row) {
        auto* line = reinterpret_cast<QRgb*>(m_history.scanLine(row));
        std::memmove(line, line + 1, sizeof(QRgb) * (width - 1));
        line[width - 1] = draw::Heat(draw::DbLevel(m_lastColumn[rows - 1 - row], kTopDbfs, kFloorDbfs)).rgb();
    }
    m_columns = std::min(m_columns + 1, width);
}

// The strip follows the tone the blocks' peaks in the counted band name
// most often (to the nearest 10 Hz); another winner starts a new detector.
void CSpectrogramView::FollowTone(double peakHz, double peakDbfs)
{
    if (peakHz < SpectrumAnalysis::kLowestCounted || peakHz > SpectrumAnalysis::kHighestCounted ||
        peakDbfs < kQuietestToneDbfs)
        return;
    const int bucket = static_cast<int>(std::lround(peakHz / 10.0)) * 10;
    ++m_peakCounts[bucket];
    const auto most = std::max_element(m_peakCounts.begin(), m_peakCounts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most->first == m_toneHz)
        return;
    if (!vexlin::BusyToneDetector::CheckRequest({most->first, 0, 0, 0, 0}, static_cast<int>(m_sampleRate)).empty())
        return;
    m_toneHz = most->first;
    m_detector = std::make_unique<vexlin::ToneFrameAnalyzer>(static_cast<int>(m_sampleRate), m_toneHz, 0);
    m_detectorStartMs = m_samplesFed * 1000 / m_sampleRate;
    m_stretches.clear();
}

double CSpectrogramView::NowMs() const
{
    if (m_sampleRate == 0)
        return 0.0;
    return static_cast<double>(m_samplesFed) * 1000.0 / m_sampleRate;
}

QRect CSpectrogramView::SpectrogramArea() const
{
    const int bottom = height() - 4 - kStripHeight - 18 - 18;
    return QRect(kRulerWidth, kTitleHeight, std::max(1, width() - kRulerWidth - 10 - kCandidatesWidth),
                 std::max(1, bottom - kTitleHeight));
}

QRect CSpectrogramView::CandidatesArea() const
{
    const QRect area = SpectrogramArea();
    return QRect(area.right() + 12, area.top(), kCandidatesWidth - 8, area.height());
}

QRect CSpectrogramView::StripArea() const
{
    const QRect area = SpectrogramArea();
    return QRect(area.left(), height() - 4 - kStripHeight, area.width(), kStripHeight);
}

int CSpectrogramView::YOf(double hertz) const
{
    const QRect area = SpectrogramArea();
    if (m_history.isNull())
        return area.bottom();
    // The shown rows are the history's lowest; the top one holds the bin
    // rows-1, each drawn over area.height()/rows pixels.
    const double binHz = static_cast<double>(m_sampleRate) / kTransformPoints;
    const int rows = ShownRows();
    const double row = rows - 1 - hertz / binHz + 0.5;
    return area.top() + static_cast<int>(row * area.height() / rows);
}

int CSpectrogramView::XOf(double streamMs) const
{
    const QRect area = SpectrogramArea();
    return area.left() + area.width() - static_cast<int>(std::lround((NowMs() - streamMs) * area.width() / kHistoryMs));
}

void CSpectrogramView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Compose();
}

void CSpectrogramView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), m_surface, event->rect());
}

void CSpectrogramView::Compose()
{
    if (width() <= 0 || height() <= 0)
        return;
    if (m_surface.size() != size())
        m_surface = QImage(size(), QImage::Format_RGB32);
    m_surface.fill(QColor(32, 32, 36));
    QPainter painter(&m_surface);
    QFont font("Arial");
    font.setPixelSize(12);
    painter.setFont(font);
    const QRect area = SpectrogramArea();
    if (m_history.isNull())
        painter.fillRect(area, Qt::black);
    else
        painter.drawImage(area, m_history, QRect(0, m_history.height() - ShownRows(), m_history.width(), ShownRows()));

    // The frequency ruler and the counted band.
    const int rulerStep = m_shownHz <= 1000 ? 200 : m_shownHz <= 2400 ? 400 : 500;
    draw::DrawFrequencyRuler(painter, area, static_cast<int>(m_shownHz + 0.5), rulerStep, SpectrumAnalysis::kLowestCounted,
                             SpectrumAnalysis::kHighestCounted, kText, [this](double hertz) { return YOf(hertz); });
    painter.setPen(kText);
    painter.drawText(QRect(0, 2, area.left() - 7, 16), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Hz"));

    // The time ruler: seconds before now.
    painter.setPen(kText);
    for (int ago = kHistoryMs / 1000; ago >= 0; --ago) {
        const int x = area.left() + area.width() - ago * area.width() * 1000 / kHistoryMs;
        painter.drawLine(x, area.bottom() + 1, x, area.bottom() + 4);
        if (ago % 2 == 0)
            painter.drawText(QRect(x - 20, area.bottom() + 4, 40, 14), Qt::AlignHCenter | Qt::AlignTop,
                             ago == 0 ? QStringLiteral("0 s") : QStringLiteral("-%1 s").arg(ago));
    }

    // The title line: the strongest frequency now with its level, and the band.
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(CLiveSpectrumView::MarkerColour());
    const QString strongest =
        m_sampleRate == 0 || m_strongestDbfs <= -199.0
            ? m_texts.waiting
            : QStringLiteral("%1: %2 Hz, %3 dBFS").arg(m_texts.strongest).arg(std::lround(m_strongestHz)).arg(m_strongestDbfs, 0, 'f', 1);
    painter.drawText(QRect(area.left(), 2, area.width(), kTitleHeight - 4), Qt::AlignLeft | Qt::AlignVCenter, strongest);
    painter.setFont(font);
    painter.setPen(kText);
    painter.drawText(QRect(area.left(), 2, area.width(), kTitleHeight - 4), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("- - -  ") + m_texts.band);

    // The strip of the heard tone, as it is measured.
    const QRect lane = StripArea();
    painter.drawText(QRect(lane.left(), lane.top() - 17, lane.width(), 16), Qt::AlignLeft | Qt::AlignVCenter,
                     m_toneHz == 0 ? m_texts.noTone : QStringLiteral("%1: %2 Hz").arg(m_texts.heard).arg(m_toneHz));
    std::vector<draw::StripStretch> strip;
    const double now = NowMs();
    for (size_t i = 0; i < m_stretches.size(); ++i) {
        const Stretch& stretch = m_stretches[i];
        const bool last = i + 1 == m_stretches.size();
        // A stretch too short to be a tone is left out once it has ended.
        if (!last && stretch.endMs - stretch.beginMs < vexlin::CadenceTracker::kToneSettleMs)
            continue;
        const bool cut = stretch.beginMs < now - kHistoryMs || (last && stretch.endMs + 60 >= m_detectorStartMs);
        strip.push_back({static_cast<int>(stretch.beginMs), static_cast<int>(stretch.endMs), cut});
    }
    QFont small = font;
    small.setPixelSize(11);
    painter.setFont(small);
    draw::DrawHeardStrip(painter, lane, strip, [this](int ms) { return XOf(ms); });
    DrawCandidates(painter);
    painter.end();
    update();
}

// Beside the spectrogram: the candidates, most counted first, the leader in
// the marker colour; as many rows as fit.
void CSpectrogramView::DrawCandidates(QPainter& painter)
{
    const QRect panel = CandidatesArea();
    QFont font("Arial");
    font.setPixelSize(12);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(kText);
    constexpr int kRowHeight = 16;
    painter.drawText(QRect(panel.left(), panel.top(), panel.width(), kRowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     m_texts.candidates);
    font.setBold(false);
    painter.setFont(font);
    int y = panel.top() + kRowHeight + 4;
    for (size_t i = 0; i < m_candidates.size() && y + kRowHeight <= panel.bottom(); ++i, y += kRowHeight) {
        painter.setPen(i == 0 ? CLiveSpectrumView::MarkerColour() : kText);
        const QRect row(panel.left(), y, panel.width(), kRowHeight);
        painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, m_candidates[i].frequency);
        painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, QString::number(m_candidates[i].count));
    }
}

// ---- the window ------------------------------------------------------------------------

CSpectrumWnd::CSpectrumWnd(QWidget* parent) : QWidget(parent, Qt::Window), m_spectrogram(this)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(820, 660);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(32, 32, 36));
    setPalette(palette);
    setAutoFillBackground(true);
    m_spectrum.Create(QRect(0, 0, 506, 100), this, 1000, false);
    m_spectrum.SetScale(0, kHzPerBar);
    m_band = new QComboBox(this);
    for (const int hertz : CSpectrogramView::kShownChoicesHz) {
        m_band->addItem(QStringLiteral("0 - %1 Hz").arg(hertz), hertz);
        if (hertz == CLiveSpectrumView::kShownHz)
            m_band->setCurrentIndex(m_band->count() - 1);
    }
    connect(m_band, &QComboBox::activated, this,
            [this](int index) { m_spectrogram.SetShownHz(m_band->itemData(index).toInt()); });
    Relayout();
    SetTexts(m_texts);
}

CSpectrumWnd::~CSpectrumWnd()
{
    Watch(false);
}

void CSpectrumWnd::SetTexts(const SpectrumTexts& texts)
{
    m_texts = texts;
    m_spectrogram.SetTexts(texts);
    m_band->setToolTip(texts.shown);
    if (m_spectrum.CaptionStrip()) {
        m_spectrum.CaptionStrip()->SetRightText(texts.unit);
        if (m_blocksShown == 0)
            m_spectrum.CaptionStrip()->SetLeftText(texts.waiting);
    }
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

// The spectrogram on top; under it the bars, their width narrowed as the
// audio manager's views are (a multiple of 100 plus 6) with room for their
// ruler and caption strip below.
void CSpectrumWnd::Relayout()
{
    const int split = static_cast<int>(height() * kSpectrogramShare);
    m_spectrogram.setGeometry(0, 0, width(), split);
    const QRect candidates = m_spectrogram.CandidatesArea();
    m_band->setGeometry(candidates.left(), 1, candidates.width(), CSpectrogramView::kTitleHeight - 2);
    const QRect columns = CAudioManagerWnd::ComputeLayout(rect()).spectrum;
    m_spectrum.Place(QRect(columns.left(), split + 6, columns.width(), std::max(20, height() - split - 6 - 40)));
    // Placing sets the view's scale again, and with it the hidden view's fixed unit text.
    if (m_spectrum.CaptionStrip())
        m_spectrum.CaptionStrip()->SetRightText(m_texts.unit);
}

// The candidates as the run counts them (the analysis writes them on this
// thread, after the block is shown, so they are one block behind).
void CSpectrumWnd::ReadCandidates()
{
    parvane::AnalysisOutput* output = m_analysis->Output();
    if (output == nullptr || !output->IsAnalysing())
        return;
    parvane::AnalysisList& list = output->FrequencyList();
    std::vector<SpectrumCandidate> candidates;
    candidates.reserve(static_cast<size_t>(list.GetCount()));
    for (int row = 0; row < list.GetCount(); ++row)
        candidates.push_back({QString::fromStdString(list.GetText(row)), list.GetItemData(row)});
    // Most counted first; equal counts keep the order of first sighting.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const SpectrumCandidate& a, const SpectrumCandidate& b) { return a.count > b.count; });
    m_spectrogram.SetCandidates(std::move(candidates));
}

void CSpectrumWnd::OnBlock(const SpectrumBlock& block)
{
    ++m_blocksShown;
    ReadCandidates();
    m_spectrogram.Feed(block);
    const double marked = m_spectrum.Show(block);
    if (m_spectrum.CaptionStrip())
        m_spectrum.CaptionStrip()->SetLeftText(QStringLiteral("%1: %2 Hz, %3 dBFS")
                                                   .arg(m_texts.strongest)
                                                   .arg(std::lround(marked > 0 ? marked : block.peakFrequency))
                                                   .arg(m_spectrogram.StrongestDbfs(), 0, 'f', 1));
}
