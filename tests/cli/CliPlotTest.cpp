// parvane-cli --plot, run as a program over a recording made here: the
// picture shows the tone's band where it sounds and the stretches where the
// detector heard it.

#include "cli/LinePlot.h"
#include "tests/cli/CliTestSupport.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace parvane::cli;
using namespace parvane::cli::test;

namespace {

int Brightness(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    return c.red() + c.green() + c.blue();
}

bool Heard(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    return c.green() > 180 && c.red() < 140 && c.blue() < 120;
}

} // namespace

TEST(CliPlot, ShowsTheTonesBandAndItsOnAndOffStretches)
{
    const std::string directory = TemporaryDirectory();
    ToneSpec signal; // 450 Hz, 350 ms on, 350 ms off
    signal.durationMs = 6000;
    signal.leadingSilenceMs = 700;
    signal.noiseDbfs = -60;
    const std::string recording = directory + "/cn.wav";
    WriteWav(recording, MakeTone(signal), signal.rate);

    const std::string png = directory + "/cn.png";
    CliResult result = RunCli({"file", recording, "--plot", png});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png)));
    ASSERT_EQ(image.size(), QSize(LinePlotLayout::kWidth, LinePlotLayout::kHeight));

    LinePlotLayout layout;
    layout.seconds = signal.durationMs / 1000.0; // the leading silence included
    // Below the on and off times written in the lane.
    const int lane = layout.laneTop + layout.laneHeight - 5;
    // Cycle k: on from 0.7 + 0.7 k s for 0.35 s.
    int heardOn = 0, heardOff = 0, cycles = 0;
    for (double on = 0.7; on + 0.7 <= layout.seconds; on += 0.7, ++cycles) {
        const int middleOn = layout.X(on + 0.175);
        const int middleOff = layout.X(on + 0.525);
        // The band: bright at 450 Hz while the tone sounds, far brighter
        // than elsewhere and than in the gaps.
        EXPECT_GT(Brightness(image, middleOn, layout.Y(450)), 2 * Brightness(image, middleOn, layout.Y(250)) + 60)
            << on;
        EXPECT_GT(Brightness(image, middleOn, layout.Y(450)), Brightness(image, middleOff, layout.Y(450)) + 150) << on;
        heardOn += Heard(image, middleOn, lane);
        heardOff += Heard(image, middleOff, lane);
    }
    EXPECT_EQ(heardOn, cycles);
    EXPECT_EQ(heardOff, 0);
    EXPECT_FALSE(Heard(image, layout.X(0.35), lane)) << "the leading silence";
    // The lane holds one green run per cycle heard.
    int runs = 0;
    bool inside = false;
    for (int x = layout.X(0); x < layout.X(layout.seconds); ++x) {
        const bool heard = Heard(image, x, lane);
        runs += heard && !inside;
        inside = heard;
    }
    EXPECT_GE(runs, cycles);
    EXPECT_LE(runs, cycles + 1);

    // The same picture as SVG carries the tone list as its caption.
    const std::string svg = directory + "/cn.svg";
    result = RunCli({"file", recording, "--plot", svg});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::stringstream text;
    text << std::ifstream(svg).rdbuf();
    EXPECT_NE(text.str().find("<svg"), std::string::npos);
    EXPECT_NE(text.str().find("busy = 450/"), std::string::npos);

    // A picture that cannot be written is a failure, said so.
    result = RunCli({"file", recording, "--plot", directory + "/missing/cn.png"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("--plot: cannot write"), std::string::npos) << result.err;
    std::remove(png.c_str());
    std::remove(svg.c_str());
    std::remove(recording.c_str());
}

TEST(CliPlot, HeardStretchesFollowTheCadence)
{
    ToneSpec signal;
    signal.onMs = 500;
    signal.offMs = 250;
    signal.durationMs = 3000;
    const std::vector<int16_t> mono = MakeTone(signal);
    const std::vector<HeardStretch> stretches = HeardToneStretches(mono, 48000, {450});
    ASSERT_EQ(stretches.size(), 4u);
    // The first tone begins before the detector has settled: only its end is true.
    EXPECT_NEAR(stretches[0].endMs, 500, 15);
    for (size_t i = 1; i < stretches.size(); ++i) {
        EXPECT_NEAR(stretches[i].beginMs, 750 * static_cast<int>(i), 15) << i;
        EXPECT_NEAR(stretches[i].endMs - stretches[i].beginMs, 500, 15) << i;
    }
    EXPECT_TRUE(HeardToneStretches(mono, 48000, {}).empty());
    EXPECT_TRUE(HeardToneStretches(mono, 48000, {1200}).empty()) << "another tone is not heard";
}
