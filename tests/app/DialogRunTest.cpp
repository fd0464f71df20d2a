// Whole runs of the main dialog in real time against the virtual adapter's
// China preset (ring 1000 ms on, 4000 ms off; busy tone 450 Hz, 350 ms on,
// 350 ms off): Analyze Mode with the spectrum analysis, Verify Mode and Get
// Period with the tone-detection library. Each takes some seconds.
#include "DialogTestSupport.h"

#include "audio/AudioManagerWnd.h"
#include "audio/SpectrumWnd.h"
#include "display/SpectrogramDrawing.h"
#include "app/RunControl.h"
#include "device/DeviceOper.h"
#include "platform/Tick.h"

#include <QAction>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QListWidget>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>

namespace parvane::test {
namespace {

QString Status(CTestDlg& dialog)
{
    return static_cast<QLineEdit*>(dialog.Control(IDC_STATUS))->text();
}

using DialogRunTest = CnDialogTest;

TEST_F(DialogRunTest, AnalyzeRunCountsTheBinNearest450HzMostThenStopShowsMessage0)
{
    CTestDlg& d = *dialog;
    TraceLines trace;
    Click(d.Control(IDC_START));
    auto* frequencies = static_cast<QListWidget*>(d.Control(IDC_FREQ_LIST));
    auto* counts = static_cast<QListWidget*>(d.Control(IDC_COUNT_LIST));
    // About five seconds of busy tone once the call is answered.
    ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 10000));
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int row = 0; row < counts->count(); ++row)
                if (counts->item(row)->text().toInt() >= 25)
                    return true;
            return false;
        },
        20000));
    // Nobody opened the spectrum window: the engine's views stay in the
    // hidden frame and nothing watches the analysis.
    EXPECT_EQ(d.SpectrumWindow(), nullptr);
    ASSERT_NE(d.AudioManager(), nullptr);
    EXPECT_FALSE(d.AudioManager()->SpectrumView().Analysis().HasBlockObserver());
    EXPECT_EQ(d.AudioManager()->parentWidget(), d.Control(IDC_AUDIO_FRAME));
    EXPECT_FALSE(d.Control(IDC_AUDIO_FRAME)->isVisible());
    Click(d.Control(IDC_STOP));
    EXPECT_EQ(trace.Count("MessageBox: Analysis stopped."), 1);
    EXPECT_FALSE(adapter->IsOffHook());

    ASSERT_EQ(frequencies->count(), counts->count());
    int top = 0;
    for (int row = 1; row < counts->count(); ++row)
        if (counts->item(row)->text().toInt() > counts->item(top)->text().toInt())
            top = row;
    EXPECT_EQ(frequencies->item(top)->text(), QStringLiteral("451 Hz"));
    // A few blocks straddle a tone edge and peak elsewhere; they stay few.
    EXPECT_GE(counts->item(top)->text().toInt(), 25);
}

TEST_F(DialogRunTest, VerifyModeReportsAMatchOnceTenCyclesAreCounted)
{
    CTestDlg& d = *dialog;
    Click(d.Control(IDC_VERIFY_MODE));
    Type(d, IDC_FREQ1, "450");
    Type(d, IDC_FREQ2, "0");
    Type(d, IDC_ON_PERIOD, "350");
    Type(d, IDC_OFF_PERIOD, "350");
    Click(d.Control(IDC_START));
    ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 10000));
    const uint32_t answered = GetTickCount32();
    ASSERT_TRUE(WaitFor([&] { return Status(d).startsWith(QStringLiteral("No busy tone detected yet")); }, 3000))
        << Status(d).toStdString();
    ASSERT_TRUE(WaitFor([&] { return Status(d).startsWith(QStringLiteral("Busy tone matches")); }, 20000))
        << Status(d).toStdString();
    // Ten cycles of 700 ms were heard first.
    EXPECT_GE(GetTickCount32() - answered, 10 * 700u - 1000u);
    const std::string status = Status(d).toStdString();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(status, match, std::regex("count (\\d+)")));
    EXPECT_GE(std::stoi(match[1]), 10);
    Click(d.Control(IDC_STOP));
    ASSERT_TRUE(d.Run().WaitForWorkers(2000));
    EXPECT_EQ(Status(d).toStdString(), status);
    EXPECT_FALSE(adapter->IsOffHook());
}

TEST_F(DialogRunTest, GetPeriodShowsTheMeasuredCadence)
{
    CTestDlg& d = *dialog;
    Click(d.Control(IDC_GET_PERIOD));
    Type(d, IDC_FREQ1, "450");
    Type(d, IDC_FREQ2, "0");
    Click(d.Control(IDC_START));
    ASSERT_TRUE(WaitFor([&] { return Status(d).startsWith(QStringLiteral("Busy tone found")); }, 25000))
        << Status(d).toStdString();
    const std::string status = Status(d).toStdString();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(status, match, std::regex("count (\\d+)\\), measured period (\\d+) ms")));
    EXPECT_GE(std::stoi(match[1]), 10);
    // The preset's 350 ms on and 350 ms off: a period of 350 ms in the
    // library's convention (the on time when on equals off).
    EXPECT_NEAR(std::stoi(match[2]), 350, 20);
    Click(d.Control(IDC_STOP));
}

// The spectrum window, opened from the context menu during an Analyze run on
// the 450 Hz line: the marked peak, the shaded band, a resize, a second Start
// and a close that leaves the run as it was.
TEST_F(DialogRunTest, SpectrumWindowMarksThe450HzPeakAndFollowsTheRunUntilClosed)
{
    CTestDlg& d = *dialog;
    std::unique_ptr<QMenu> menu(d.CreateContextMenu(&d));
    QAction* show = nullptr;
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Show spectrum"))
            show = action;
    ASSERT_NE(show, nullptr) << "the English pack names the item";
    show->trigger();
    CSpectrumWnd* window = d.SpectrumWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->IsWatching()) << "no analysis before the first Start";

    Click(d.Control(IDC_START));
    ASSERT_TRUE(window->IsWatching());
    ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 10000));
    // One bin of the 32K blocks: 48000 / 8192 Hz.
    const double bin = 48000.0 / 8192;
    CLiveSpectrumView& spectrum = window->SpectrumView();
    const auto markedNear450 = [&] { return std::abs(spectrum.MarkedFrequency() - 450.0) <= bin; };
    ASSERT_TRUE(WaitFor(markedNear450, 20000)) << spectrum.MarkedFrequency();

    // The marker is drawn at the bar of 450 Hz, and the counted band is shaded.
    const auto checkPicture = [&] {
        const QImage image = spectrum.DrawingSurface().toImage();
        const int x = spectrum.MarkedX();
        EXPECT_NEAR(spectrum.FrequencyAt(x), 450.0, CLiveSpectrumView::kShownHz / 100);
        int marked = 0;
        for (int y = 0; y < image.height(); ++y)
            marked += image.pixelColor(x, y) == CLiveSpectrumView::MarkerColour();
        EXPECT_GT(marked, image.height() / 4);
        const auto purple = [&](double hertz) {
            const QColor c = image.pixelColor(static_cast<int>(hertz / 24.0 * spectrum.PixelsPerBar()), image.height() / 2 - 3);
            return c.red() > c.green() + 30 && c.blue() > c.green() + 30;
        };
        EXPECT_TRUE(purple(800.0));
        EXPECT_FALSE(purple(1200.0));
    };
    checkPicture();

    const int widthBefore = spectrum.DrawingWidth();
    window->resize(window->width() + 200, window->height() + 100);
    ProcessEventsFor(50);
    EXPECT_GT(spectrum.DrawingWidth(), widthBefore);
    int shown = window->BlocksShown();
    ASSERT_TRUE(WaitFor([&] { return window->BlocksShown() > shown + 1 && markedNear450(); }, 5000));
    checkPicture();

    // A second Start brings a new engine; the window goes on with it.
    Click(d.Control(IDC_STOP));
    Click(d.Control(IDC_START));
    shown = window->BlocksShown();
    EXPECT_TRUE(WaitFor([&] { return window->BlocksShown() > shown + 2; }, 5000));

    // Closed: nothing watches the analysis, the engine's views are back where
    // they always were, and the run goes on counting.
    window->close();
    EXPECT_FALSE(window->IsWatching());
    EXPECT_FALSE(d.AudioManager()->SpectrumView().Analysis().HasBlockObserver());
    EXPECT_EQ(d.AudioManager()->parentWidget(), d.Control(IDC_AUDIO_FRAME));
    EXPECT_FALSE(d.Control(IDC_AUDIO_FRAME)->isVisible());
    shown = window->BlocksShown();
    ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 20000));
    auto* counts = static_cast<QListWidget*>(d.Control(IDC_COUNT_LIST));
    EXPECT_TRUE(WaitFor([&] { return counts->count() > 0; }, 10000));
    EXPECT_EQ(window->BlocksShown(), shown);
    Click(d.Control(IDC_STOP));
}

// The spectrogram of the spectrum window during Analyze runs on the 450 Hz
// line, clean and with white noise 10 dB under the tone: along the tone's row
// the picture is lit for the on times and dark for the off times, the strip
// under it carries the heard tone about half of the time, and away from the
// tone a noisy line shows its noise floor where a clean one stays black.
TEST_F(DialogRunTest, SpectrogramShowsTheCadenceAndTheNoiseFloor)
{
    const std::string noisy = ::testing::TempDir() + "parvane-noisy-line.ini";
    // Tone peaks at -20 dBFS, -23 dBFS RMS; the noise 10 dB under that.
    std::ofstream(noisy) << "[call]\ntone = 450/350,0/350\nlevel = -20\nnoise = -33\n";
    for (const bool withNoise : {false, true}) {
        SCOPED_TRACE(withNoise ? "noisy line" : "clean line");
        if (withNoise) {
            dialog.reset();
            adapter = UseVirtualAdapter(noisy);
            dialog = StartDialog();
        }
        CTestDlg& d = *dialog;
        d.OnShowSpectrum();
        CSpectrumWnd* window = d.SpectrumWindow();
        ASSERT_NE(window, nullptr);
        CSpectrogramView& view = window->Spectrogram();
        Click(d.Control(IDC_START));
        ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 10000));
        // The tone starts a second after the answer; four seconds of it.
        const double answeredMs = view.NowMs();
        // The strongest level shown, at its highest while the tone sounds.
        double loudest = -200.0;
        ASSERT_TRUE(WaitFor(
            [&] {
                loudest = std::max(loudest, view.StrongestDbfs());
                return view.NowMs() > answeredMs + 5500;
            },
            15000));
        Click(d.Control(IDC_STOP));
        EXPECT_EQ(view.ToneHz(), 450);
        EXPECT_NEAR(loudest, -20.0, 4.0) << "the tone's peak level";

        // The candidates beside it are the dialog's, most counted first: the
        // tone leads, its count at most one block behind the list's.
        auto* frequencies = static_cast<QListWidget*>(d.Control(IDC_FREQ_LIST));
        auto* counts = static_cast<QListWidget*>(d.Control(IDC_COUNT_LIST));
        ASSERT_FALSE(view.Candidates().empty());
        int mostCounted = 0;
        for (int row = 1; row < counts->count(); ++row)
            if (counts->item(row)->text().toLong() > counts->item(mostCounted)->text().toLong())
                mostCounted = row;
        ASSERT_GT(counts->count(), 0);
        const long listed = counts->item(mostCounted)->text().toLong();
        EXPECT_EQ(view.Candidates().front().frequency, frequencies->item(mostCounted)->text());
        EXPECT_NEAR(view.Candidates().front().frequency.section(' ', 0, 0).toDouble(), 450.0, 3.0);
        EXPECT_GE(view.Candidates().front().count, listed - 1);
        EXPECT_LE(view.Candidates().front().count, listed);
        EXPECT_NEAR(static_cast<double>(view.Candidates().size()), frequencies->count(), 1.0);

        const double now = view.NowMs();
        const int from = view.XOf(now - 3500);
        const int to = view.XOf(now - 50);
        const double msPerPixel = static_cast<double>(CSpectrogramView::kHistoryMs) / view.SpectrogramArea().width();
        // Runs of lit and of dark pixels along the tone's row; the first and
        // the last are cut by the span. The band chosen in the window's
        // selector draws the same ten seconds again at once, so the pattern
        // holds in each.
        QComboBox& band = window->BandSelector();
        for (const int shownHz : {2400, 1000, 4000}) {
            SCOPED_TRACE(shownHz);
            const int index = band.findData(shownHz);
            ASSERT_GE(index, 0);
            band.setCurrentIndex(index);
            emit band.activated(index);
            EXPECT_EQ(view.ShownHz(), shownHz);
            const QImage image = view.Surface();
            const int toneRow = view.YOf(450);
            const QRect area = view.SpectrogramArea();
            EXPECT_NEAR(static_cast<double>(area.bottom() - toneRow) / area.height(), 450.0 / shownHz, 0.03)
                << "the tone's row lies where the band puts it";
            std::vector<std::pair<bool, double>> runs;
            for (int x = from; x < to; ++x) {
                const QColor c = image.pixelColor(x, toneRow);
                const bool lit = c.red() >= 240 && c.green() >= 150;
                if (runs.empty() || runs.back().first != lit)
                    runs.push_back({lit, 0.0});
                runs.back().second += msPerPixel;
            }
            EXPECT_GE(runs.size(), 8u);
            for (size_t i = 1; i + 1 < runs.size(); ++i)
                EXPECT_NEAR(runs[i].second, 350.0, 80.0) << (runs[i].first ? "on" : "off") << " run " << i;
        }
        band.setCurrentIndex(band.findData(2400));
        emit band.activated(band.currentIndex());

        const QImage image = view.Surface();
        int heard = 0;
        const QRect strip = view.StripArea();
        for (int x = from; x < to; ++x)
            heard += image.pixelColor(x, strip.top() + 4) == parvane::draw::kHeardColour; // above the numbers
        EXPECT_NEAR(static_cast<double>(heard) / (to - from), 0.5, 0.12);

        double brightness = 0;
        const int quietRow = view.YOf(1500);
        for (int x = from; x < to; ++x) {
            const QColor c = image.pixelColor(x, quietRow);
            brightness += (c.red() + c.green() + c.blue()) / 3.0 / (to - from);
        }
        if (withNoise)
            EXPECT_GT(brightness, 40.0) << "the noise floor shows";
        else
            EXPECT_LT(brightness, 10.0) << "a clean line is black away from the tone";
    }
}

// The adapter pulled out while each mode runs: the run ends with its own
// message, the line is free, the dialog refuses to start until the adapter
// is back, brings it up again by itself, and the next run is answered.
TEST_F(DialogRunTest, UnplugMidRunEndsTheRunAndTheNextStartAfterAReplugWorks)
{
    CTestDlg& d = *dialog;
    struct Case {
        int modeButton;
        const char* freq2;
        const char* on;
    };
    for (const Case& mode : {Case{IDC_ANALYZE_MODE, "", ""}, Case{IDC_VERIFY_MODE, "0", "350"},
                             Case{IDC_GET_PERIOD, "0", ""}}) {
        SCOPED_TRACE(mode.modeButton);
        TraceLines trace;
        Click(d.Control(mode.modeButton));
        if (mode.modeButton != IDC_ANALYZE_MODE) {
            Type(d, IDC_FREQ1, "450");
            Type(d, IDC_FREQ2, mode.freq2);
            if (*mode.on != '\0') {
                Type(d, IDC_ON_PERIOD, mode.on);
                Type(d, IDC_OFF_PERIOD, mode.on);
            }
        }
        Click(d.Control(IDC_START));
        ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 15000));
        ProcessEventsFor(500);
        ASSERT_TRUE(adapter->IsOffHook());

        adapter->Unplug();
        ASSERT_TRUE(WaitFor([&] { return Status(d).toStdString() == RunControl::kAdapterUnpluggedText; }, 5000))
            << Status(d).toStdString();
        EXPECT_EQ(trace.Count(std::string("MessageBox: ") + RunControl::kAdapterUnpluggedText), 1);
        EXPECT_EQ(d.Run().m_bIsWorking.load(), 0);
        EXPECT_TRUE(d.Control(IDC_START)->isEnabled());
        EXPECT_FALSE(d.Control(IDC_STOP)->isEnabled());
        EXPECT_EQ(MainDeviceOper->m_bLineAnswered.load(), 0);
        EXPECT_FALSE(adapter->IsOffHook());
        EXPECT_TRUE(d.Run().WaitForWorkers(3000));

        // Start is refused while it is out.
        Click(d.Control(IDC_START));
        EXPECT_EQ(trace.Count(std::string("MessageBox: ") + RunControl::kAdapterMissingText), 1);
        EXPECT_EQ(d.Run().m_bIsWorking.load(), 0);

        adapter->Replug();
        ASSERT_TRUE(WaitFor([&] { return Status(d).toStdString() == RunControl::kAdapterBackText; }, 5000))
            << Status(d).toStdString();
        EXPECT_EQ(MainDeviceOper->m_bDaaReady.load(), 1);
        EXPECT_TRUE(WaitFor([&] { return adapter->LedOn(); }, 1000));

        Click(d.Control(IDC_START));
        ASSERT_TRUE(WaitFor([&] { return d.Run().IsAnalysing(); }, 15000));
        EXPECT_TRUE(adapter->IsOffHook());
        Click(d.Control(IDC_STOP));
        EXPECT_TRUE(d.Run().WaitForWorkers(3000));
        EXPECT_FALSE(adapter->IsOffHook());
    }
}

} // namespace
} // namespace parvane::test
