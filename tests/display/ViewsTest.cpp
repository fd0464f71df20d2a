#include "audio/AudioGlobals.h"
#include "audio/AudioManagerWnd.h"
#include "display/Reflect.h"
#include "display/TimeLine.h"
#include "display/WaveAllView.h"
#include "display/WaveShow.h"
#include "tests/audio/FakeAudioBackend.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QThread>

#include <cmath>
#include <numbers>

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "display_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

// Keeps CaptureBlockBytes for one test.
struct BlockBytes {
    int32_t saved = CaptureBlockBytes;
    explicit BlockBytes(int32_t bytes) { CaptureBlockBytes = bytes; }
    ~BlockBytes() { CaptureBlockBytes = saved; }
};

bool IsGrid(QRgb pixel)
{
    return QColor(pixel) == CWaveShow::GridColour();
}

// Renders the widget as it is on screen.
QImage Rendered(QWidget& widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class Views : public ::testing::Test {
protected:
    void SetUp() override { parent.resize(700, 400); }
    // Creates a view 606 pixels wide for 32 KiB blocks, on the spectrum
    // scale of 48000 Hz.
    void Place(CWaveShow& view)
    {
        ASSERT_TRUE(view.Create(QRect(0, 0, 606, 232), &parent, 1000));
        view.SetScale(0, 48000 * 0.5f / 100);
    }

    QApplication& app = App(); // before any widget
    BlockBytes bytes{32768};
    QWidget parent;
};

TEST_F(Views, A606PixelSpectrumViewFor32KiBlocksHas40point96BinsAnd6point06PixelsABar)
{
    CReflect view;
    Place(view);
    EXPECT_EQ(view.FramesPerBlock(), 8192);
    EXPECT_EQ(view.Channels(), 2);
    EXPECT_EQ(view.DrawingWidth(), 606);
    EXPECT_FLOAT_EQ(view.BinsPerBar(), 40.96f);
    EXPECT_FLOAT_EQ(view.PixelsPerBar(), 6.06f);
    EXPECT_FLOAT_EQ(view.Analysis().BinsPerBar(), 40.96f);
    EXPECT_TRUE(view.IsSpectrum());
    // 232 + 5 tall, less ruler, strip and 1, plus 4.
    EXPECT_EQ(view.DrawingRect().height(), 237 - 39 + 4);
    // The ruler sits above the caption strip, both inside the bottom of the rectangle.
    EXPECT_EQ(view.Ruler()->geometry(), QRect(-1, 192, 609, 20));
    EXPECT_EQ(view.CaptionStrip()->geometry(), QRect(0, 214, 606, 18));
    EXPECT_EQ(view.CaptionStrip()->RightText(), QString::fromUtf8("\u5355\u4F4D\uFF1A10Hz"));
}

TEST_F(Views, TheGridOfA606PixelDrawingHasDottedVerticalLinesEvery12Pixels)
{
    CWaveShow view;
    Place(view);
    parent.show();
    const QImage image = Rendered(view);
    const int height = view.DrawingRect().height();
    // Count grid pixels down each column, away from the horizontal lines.
    std::vector<int> columns;
    for (int x = 20; x < 606; ++x) {
        int grey = 0;
        for (int y = 0; y < height; ++y)
            grey += IsGrid(image.pixel(x, y)) && (y % (height / 8)) > 2;
        if (grey > height / 4)
            columns.push_back(x);
    }
    ASSERT_FALSE(columns.empty());
    for (size_t i = 0; i < columns.size(); ++i)
        EXPECT_EQ(columns[i], 24 + 12 * static_cast<int>(i)) << i;
    EXPECT_EQ(columns.back(), 600);
    // Dotted: a grid column alternates with the black background.
    int changes = 0;
    for (int y = 5; y < 60; ++y)
        changes += IsGrid(image.pixel(36, y)) != IsGrid(image.pixel(36, y + 1));
    EXPECT_GT(changes, 20);
    // The light ticks at the left edge and the middle line.
    EXPECT_EQ(QColor(image.pixel(3, height / 2)), CWaveShow::TickColour());
    EXPECT_TRUE(IsGrid(image.pixel(301, height / 2)) || IsGrid(image.pixel(302, height / 2)));
}

TEST_F(Views, TheRulerLabelsRunFrom0To2400InStepsOf240At48000Hz)
{
    CReflect view;
    Place(view);
    const CTimeLine& ruler = *view.Ruler();
    EXPECT_FLOAT_EQ(ruler.Range(), 24000);
    EXPECT_FLOAT_EQ(ruler.Unit(), 240);
    EXPECT_EQ(ruler.TickSpacing(), 6);
    ASSERT_EQ(ruler.Labels().size(), 11u);
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(ruler.Labels()[i].text, QString::number(240 * i));
        EXPECT_EQ(ruler.Labels()[i].x, 60 * i - 16);
    }
    ASSERT_EQ(ruler.Ticks().size(), 101u);
    EXPECT_EQ(ruler.Ticks()[100].x, 600);
    EXPECT_EQ(ruler.Ticks()[10].bottom, static_cast<int>(20 / 1.8));
    EXPECT_EQ(ruler.Ticks()[5].bottom, static_cast<int>(20 / 2.5));
    EXPECT_EQ(ruler.Ticks()[1].bottom, 4);

    // On the rendered ruler: text beside every 10th tick, none beside the 5th ones.
    const QImage image = ruler.Surface().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor background = image.pixel(3, 1); // between the first two ticks
    auto inkBelowTicks = [&](int x0, int x1) {
        int ink = 0;
        for (int x = std::max(0, x0); x < std::min(image.width(), x1); ++x)
            for (int y = 12; y < image.height(); ++y)
                ink += QColor(image.pixel(x, y)) != background;
        return ink;
    };
    for (int k = 10; k <= 90; k += 10) {
        EXPECT_GT(inkBelowTicks(6 * k - 16, 6 * k + 4), 0) << k;
        EXPECT_EQ(inkBelowTicks(6 * (k + 5) - 3, 6 * (k + 5) + 3), 0) << k + 5;
    }
    // A tick line is drawn at every spacing.
    for (int k : {1, 37, 99})
        EXPECT_NE(QColor(image.pixel(6 * k, 1)), background) << k;
}

TEST_F(Views, SpectrumBarsAreDrawnOverAFreshCopyOfTheGrid)
{
    CReflect view;
    Place(view);
    parvane::MemoryAnalysisOutput output;
    output.frequencyLabel = "Freq";
    view.Analysis().SetOutput(&output);

    std::vector<int16_t> block(8192 * 2);
    for (int i = 0; i < 8192; ++i)
        block[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 440 * i / 48000.0));
    view.AnalyseStereoBlock(block.data(), 32768);
    EXPECT_EQ(view.CaptionStrip()->LeftText(), "Freq: 439 Hz");

    const QImage drawn = view.DrawingSurface().toImage().convertToFormat(QImage::Format_RGB32);
    const int height = view.DrawingRect().height();
    // 440 Hz lies in bar 2 (bins 62..102) at x = 12: a full-height green bar.
    auto green = [&](int x, int y) { return QColor(drawn.pixel(x, y)) == CWaveShow::TraceColour(); };
    EXPECT_TRUE(green(12, 3));
    EXPECT_TRUE(green(12, height - 1));
    EXPECT_FALSE(green(60, height / 2));

    // The next block's bars replace these completely.
    std::vector<int16_t> other(8192 * 2);
    for (int i = 0; i < 8192; ++i)
        other[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 1500 * i / 48000.0));
    view.AnalyseStereoBlock(other.data(), 32768);
    const QImage next = view.DrawingSurface().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_NE(QColor(next.pixel(12, 3)), CWaveShow::TraceColour());
    EXPECT_EQ(QColor(next.pixel(static_cast<int>(6 * 6.06f), 3)), CWaveShow::TraceColour()); // 1500 Hz: bar 6
}

TEST_F(Views, InitialiseLayoutNarrowsTheFrameToAHundredsWidthPlusSix)
{
    // 1043 pixels: 1037 after 6, remainder 37, so 18 off each side.
    const auto layout = CAudioManagerWnd::ComputeLayout(QRect(0, 0, 1043, 500));
    EXPECT_EQ(layout.waveform.left(), 18);
    EXPECT_EQ(layout.waveform.left() + layout.waveform.width(), 1043 - 18);
    EXPECT_EQ(layout.waveform.top(), 6);
    // H = 500: (H - 50) * 2 / 3 = 300, the waveform ends at 500 - 300 - 34.
    EXPECT_EQ(layout.waveform.top() + layout.waveform.height(), 166);
    EXPECT_EQ(layout.spectrum.top(), 171);
    EXPECT_EQ(layout.spectrum.top() + layout.spectrum.height(), 466);
    EXPECT_EQ(layout.spectrum.left(), 18);
    EXPECT_EQ(layout.spectrum.width(), 1007);

    const auto exact = CAudioManagerWnd::ComputeLayout(QRect(10, 20, 606, 300));
    EXPECT_EQ(exact.spectrum.left(), 10);
    EXPECT_EQ(exact.spectrum.width(), 606);
}

TEST_F(Views, TheAudioManagerReplacesItsEngineAndAnalysesOnlyTheCurrentOnesBlocks)
{
    parvane::test::FakeAudioBackend backend;
    backend.inputs = {"Tarnbox USB Audio"};
    parvane::test::ScopedAudioBackends installed({&backend});
    QWidget frame;
    frame.resize(1043, 500);
    parvane::MemoryAnalysisOutput output;
    output.frequencyLabel = "Freq";

    auto* manager = new CAudioManagerWnd;
    EXPECT_EQ(manager->Initialise(6, frame.rect()), 0); // no window yet
    ASSERT_TRUE(manager->Create(frame.rect(), &frame, 101));
    manager->SetAnalysisOutput(&output);
    ASSERT_EQ(manager->Initialise(6, frame.rect()), 1);
    CAudioEngine* first = CurrentAudioEngine();
    ASSERT_EQ(first, manager->Engine());
    EXPECT_TRUE(first->Recorder().IsRecording());
    EXPECT_EQ(manager->SpectrumView().geometry().left(), 18);
    EXPECT_FLOAT_EQ(manager->SpectrumView().Ruler()->Range(), 24000);

    std::vector<int16_t> tone(8192 * 2);
    for (int i = 0; i < 8192; ++i)
        tone[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 450 * i / 48000.0));
    backend.Capture(tone);
    for (int wait = 0; wait < 500 && output.frequencies.GetCount() == 0; ++wait) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_EQ(output.frequencies.Texts(), std::vector<std::string>{"451 Hz"});

    // A second Start: a new engine, the old one stopped and gone, and a
    // block it had posted is dropped.
    const uint64_t firstSerial = first->Serial();
    ASSERT_EQ(manager->Initialise(6, frame.rect()), 1);
    EXPECT_NE(CurrentAudioEngine()->Serial(), firstSerial);
    EXPECT_EQ(backend.captureOpens.load(), 2);
    manager->PostAudioInBlock(firstSerial, tone.data(), 32768);
    QCoreApplication::processEvents();
    EXPECT_EQ(output.frequencies.GetItemData(0), 1);
    // The engine refills its buffer before a lagging window thread gets to
    // the block: the window analyses what was captured, not the refill.
    manager->PostAudioInBlock(CurrentAudioEngine()->Serial(), tone.data(), 32768);
    for (int i = 0; i < 8192; ++i)
        tone[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * std::numbers::pi * 700 * i / 48000.0));
    QCoreApplication::processEvents();
    EXPECT_EQ(output.frequencies.Texts(), std::vector<std::string>{"451 Hz"});
    EXPECT_EQ(output.frequencies.GetItemData(0), 2);

    delete manager;
    EXPECT_EQ(CurrentAudioEngine(), nullptr);
}
