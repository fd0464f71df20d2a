#include "cli/LinePlot.h"

#include "audio/Fft.h"
#include "display/SpectrogramDrawing.h"
#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"
#include "vexlin/ToneFrameAnalyzer.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace parvane::cli {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The spectrogram's transform: 8192 points at 48000 Hz are bins of 5.9 Hz,
// as fine as Analyze Mode's 32K blocks, over 170 ms.
constexpr unsigned kTransformPoints = 8192;
constexpr double kFloorDb = 70.0; // the darkest colour lies this far below the loudest bin
// A heard stretch this close to either end of the audio is cut by it (the
// detector needs its window to settle and lags by half of it).
constexpr int kCutMs = 40;

const QColor kCandidateColour(0, 220, 255);

bool EndsWith(const std::string& text, const std::string& tail)
{
    if (text.size() < tail.size())
        return false;
    return std::equal(tail.rbegin(), tail.rend(), text.rbegin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// One column per pixel: the Hann-windowed power spectrum around that time,
// in dB, sampled at each pixel row's frequency (linear between bins).
QImage Spectrogram(const LinePlotData& data, const LinePlotLayout& layout)
{
    const int width = layout.spectrogramWidth;
    const int height = layout.spectrogramHeight;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::black);
    const size_t count = data.mono.size();
    if (count == 0 || data.sampleRate <= 0)
        return image;

    std::vector<double> window(kTransformPoints), input(kTransformPoints), real(kTransformPoints),
        imag(kTransformPoints);
    for (unsigned i = 0; i < kTransformPoints; ++i)
        window[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * i / (kTransformPoints - 1));
    const double binHz = static_cast<double>(data.sampleRate) / kTransformPoints;
    const int topBin = std::min<int>(kTransformPoints / 2 - 1, static_cast<int>(LinePlotLayout::kTopHz / binHz) + 2);

    std::vector<std::vector<double>> columns(width, std::vector<double>(topBin + 1, 0.0));
    double loudest = 1e-12;
    for (int x = 0; x < width; ++x) {
        const double centre = (x + 0.5) / width * static_cast<double>(count);
        const long start = static_cast<long>(centre) - static_cast<long>(kTransformPoints / 2);
        for (unsigned i = 0; i < kTransformPoints; ++i) {
            const long at = start + static_cast<long>(i);
            const double sample = at >= 0 && at < static_cast<long>(count) ? data.mono[at] : 0.0;
            input[i] = sample * window[i];
        }
        FFT(kTransformPoints, false, input.data(), nullptr, real.data(), imag.data());
        for (int bin = 0; bin <= topBin; ++bin) {
            const double power = real[bin] * real[bin] + imag[bin] * imag[bin];
            columns[x][bin] = power;
            if (bin > 0)
                loudest = std::max(loudest, power);
        }
    }
    const double loudestDb = draw::PowerDb(loudest);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const double hertz = (height - 0.5 - y) / height * LinePlotLayout::kTopHz;
            const double at = hertz / binHz;
            const int below = std::min(static_cast<int>(at), topBin - 1);
            const double t = at - below;
            const double power = columns[x][below] * (1.0 - t) + columns[x][below + 1] * t;
            image.setPixelColor(x, y, draw::Heat(draw::DbLevel(draw::PowerDb(power), loudestDb, loudestDb - kFloorDb)));
        }
    }
    return image;
}

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void DrawPlot(QPainter& painter, const LinePlotData& data, const LinePlotLayout& layout)
{
    const QRect area(layout.spectrogramLeft, layout.spectrogramTop, layout.spectrogramWidth, layout.spectrogramHeight);
    painter.fillRect(QRect(0, 0, LinePlotLayout::kWidth, LinePlotLayout::kHeight), QColor(24, 24, 28));
    painter.drawImage(area.topLeft(), Spectrogram(data, layout));

    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    const QColor text(225, 225, 225);

    // Title.
    QFont bold = font;
    bold.setPixelSize(15);
    bold.setBold(true);
    painter.setFont(bold);
    painter.setPen(text);
    painter.drawText(QRect(layout.spectrogramLeft, 8, 900, 22), Qt::AlignLeft | Qt::AlignVCenter, Text(data.title));
    painter.setFont(font);

    // Frequency axis, with the 100 to 900 Hz band that Analyze Mode counts.
    painter.save();
    painter.setPen(text);
    painter.translate(12, area.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-60, -10, 120, 20), Qt::AlignCenter, QStringLiteral("Hz"));
    painter.restore();
    draw::DrawFrequencyRuler(painter, area, 1000, 100, 100.0, 900.0, text,
                             [&layout](double hertz) { return layout.Y(hertz); });

    // Time axis.
    painter.setPen(text);
    const double seconds = layout.seconds;
    double step = 0.5;
    for (double candidate : {0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 30.0, 60.0}) {
        step = candidate;
        if (seconds / candidate <= 12)
            break;
    }
    const int axisY = area.bottom() + 1;
    for (double at = 0.0; at <= seconds + 1e-9; at += step) {
        const int x = layout.X(at);
        painter.drawLine(x, axisY, x, axisY + 4);
        painter.drawText(QRect(x - 30, axisY + 5, 60, 14), Qt::AlignHCenter | Qt::AlignTop,
                         QString::number(at, 'g', 4) + QStringLiteral(" s"));
    }

    // Candidates, highest count first; a label that would overlap one
    // already drawn is left out (its marker stays).
    std::vector<int> labelled;
    const int markerX = area.right() + 2;
    int shown = 0;
    for (const PlotCandidate& candidate : data.candidates) {
        if (candidate.frequencyHz < 0 || candidate.frequencyHz > LinePlotLayout::kTopHz || shown >= 8)
            continue;
        ++shown;
        const int y = layout.Y(candidate.frequencyHz);
        QPainterPath arrow;
        arrow.moveTo(markerX, y);
        arrow.lineTo(markerX + 9, y - 5);
        arrow.lineTo(markerX + 9, y + 5);
        arrow.closeSubpath();
        painter.fillPath(arrow, kCandidateColour);
        const bool crowded = std::any_of(labelled.begin(), labelled.end(), [y](int other) { return std::abs(other - y) < 15; });
        if (crowded)
            continue;
        labelled.push_back(y);
        painter.setPen(kCandidateColour);
        painter.drawText(QRect(markerX + 12, y - 8, LinePlotLayout::kWidth - markerX - 12, 16),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 Hz \u00d7%2").arg(std::lround(candidate.frequencyHz)).arg(candidate.count));
    }
    painter.setPen(text);
    painter.drawText(QRect(markerX + 2, area.top() - 20, LinePlotLayout::kWidth - markerX - 2, 16),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("candidates"));

    // The stretches where the detector heard the tone, with their on times
    // in the bars and the off times in the gaps.
    const QRect lane(area.left(), layout.laneTop, area.width(), layout.laneHeight);
    painter.drawText(QRect(area.left(), lane.top() - 18, area.width(), 16), Qt::AlignLeft | Qt::AlignVCenter,
                     data.toneHz.empty() ? QStringLiteral("tone heard: no tone found")
                                         : QStringLiteral("tone heard (on and off times in ms)"));
    QFont small = font;
    small.setPixelSize(11);
    painter.setFont(small);
    // A stretch cut by either end of the audio lasted longer than seen.
    const int totalMs = static_cast<int>(layout.seconds * 1000.0);
    std::vector<draw::StripStretch> strip;
    for (const HeardStretch& stretch : HeardToneStretches(data.mono, data.sampleRate, data.toneHz))
        strip.push_back({stretch.beginMs, stretch.endMs, stretch.beginMs <= kCutMs || stretch.endMs + kCutMs >= totalMs});
    draw::DrawHeardStrip(painter, lane, strip, [&](int ms) { return layout.X(ms / 1000.0); });

    // Caption: the tone list, then the tone's components.
    QFont caption = font;
    caption.setPixelSize(20);
    caption.setBold(true);
    painter.setFont(caption);
    painter.setPen(Qt::white);
    const int captionTop = lane.bottom() + 22;
    painter.drawText(QRect(area.left(), captionTop, LinePlotLayout::kWidth - area.left() - 10, 30),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     data.caption.empty() ? QStringLiteral("no busy tone found") : Text(data.caption));
    painter.setFont(font);
    painter.setPen(text);
    QString components;
    for (int hertz : data.toneHz)
        components += (components.isEmpty() ? QString() : QStringLiteral(" + ")) + QString::number(hertz) +
                      QStringLiteral(" Hz");
    if (!components.isEmpty())
        painter.drawText(QRect(area.left(), captionTop + 32, LinePlotLayout::kWidth - area.left() - 10, 18),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("tone: ") + components + QStringLiteral("   (dashed lines: the 100 to 900 Hz band that Analyze Mode counts)"));
}

// Painting text needs a QGuiApplication; a headless program gets one on the
// offscreen platform for as long as the picture is drawn.
std::unique_ptr<QGuiApplication> GuiForDrawing()
{
    if (QCoreApplication::instance() != nullptr)
        return nullptr;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "parvane-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int LinePlotLayout::X(double atSeconds) const
{
    if (seconds <= 0.0)
        return spectrogramLeft;
    return spectrogramLeft + static_cast<int>(std::lround(atSeconds / seconds * spectrogramWidth));
}

int LinePlotLayout::Y(double hertz) const
{
    return spectrogramTop + spectrogramHeight - 1 - static_cast<int>(std::lround(hertz / kTopHz * (spectrogramHeight - 1)));
}

LinePlotLayout LayoutFor(const LinePlotData& data)
{
    LinePlotLayout layout;
    layout.seconds = data.sampleRate > 0 ? static_cast<double>(data.mono.size()) / data.sampleRate : 0.0;
    return layout;
}

std::vector<HeardStretch> HeardToneStretches(std::span<const int16_t> mono, int sampleRate,
                                             const std::vector<int>& toneHz)
{
    std::vector<HeardStretch> stretches;
    if (toneHz.empty() || mono.empty())
        return stretches;
    const int frequency2 = toneHz.size() > 1 ? toneHz[1] : 0;
    if (!vexlin::BusyToneDetector::CheckRequest({toneHz[0], frequency2, 0, 0, 0}, sampleRate).empty())
        return stretches;
    vexlin::ToneFrameAnalyzer analyzer(sampleRate, toneHz[0], frequency2);
    std::vector<vexlin::ToneFrameAnalyzer::Frame> frames;
    analyzer.Process(mono.data(), mono.size(), frames);

    // A frame's decision is about the window that ends with it: an edge is
    // heard about half a window late.
    const int lag = analyzer.WindowMs() / 2;
    for (size_t ms = 0; ms < frames.size(); ++ms) {
        if (!frames[ms].tone)
            continue;
        const int at = std::max(0, static_cast<int>(ms) - lag);
        if (!stretches.empty() && at - stretches.back().endMs < vexlin::CadenceTracker::kSilenceSettleMs)
            stretches.back().endMs = at + 1;
        else
            stretches.push_back({at, at + 1});
    }
    std::erase_if(stretches, [](const HeardStretch& stretch) {
        return stretch.endMs - stretch.beginMs < vexlin::CadenceTracker::kToneSettleMs;
    });
    return stretches;
}

bool WriteLinePlot(const std::string& path, const LinePlotData& data, std::string& error)
{
    if (data.mono.empty()) {
        error = "nothing was heard, so there is nothing to plot";
        return false;
    }
    const std::unique_ptr<QGuiApplication> gui = GuiForDrawing();
    const LinePlotLayout layout = LayoutFor(data);
    const QString file = Text(path);
    if (EndsWith(path, ".svg")) {
        QSvgGenerator svg;
        svg.setFileName(file);
        svg.setSize(QSize(LinePlotLayout::kWidth, LinePlotLayout::kHeight));
        svg.setViewBox(QRect(0, 0, LinePlotLayout::kWidth, LinePlotLayout::kHeight));
        svg.setTitle(Text(data.title));
        QPainter painter;
        if (!painter.begin(&svg)) {
            error = "cannot write " + path;
            return false;
        }
        DrawPlot(painter, data, layout);
        painter.end();
        if (!QFile::exists(file) || QFile(file).size() == 0) {
            error = "cannot write " + path;
            return false;
        }
        return true;
    }
    QImage image(LinePlotLayout::kWidth, LinePlotLayout::kHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    DrawPlot(painter, data, layout);
    painter.end();
    if (!image.save(file, "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace parvane::cli
