#include "audio/Fft.h"
#include "audio/SpectrumAnalysis.h"
#include "platform/DebugPrint.h"
#include "tests/audio/Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace parvane;
using parvane::test::StereoTone;

namespace {

// Collects the debug output of the analysis.
class DebugLines {
public:
    DebugLines()
    {
        SetDebugSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~DebugLines() { SetDebugSink({}); }
    int Count(const std::string& text) const
    {
        int count = 0;
        for (const auto& line : lines)
            count += line.find(text) != std::string::npos;
        return count;
    }
    std::vector<std::string> lines;
};

struct Analysis {
    MemoryAnalysisOutput output;
    SpectrumAnalysis analysis;
    uint32_t now = 1000;

    explicit Analysis(uint32_t rate = 48000)
    {
        output.frequencyLabel = "Freq";
        analysis.SetOutput(&output);
        analysis.SetSampleRate(rate);
        analysis.SetTickSource([this] { return now; });
    }
    void Feed(double hz, int frames = 8192, uint32_t rate = 48000)
    {
        const auto block = StereoTone(hz, frames, rate, 8000, 1234.0);
        analysis.AnalyseStereoBlock(block.data(), frames * 4);
    }
};

} // namespace

TEST(Fft, InverseOfForwardReturnsTheInput)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1000, 1000);
    for (unsigned count : {2u, 8u, 1024u, 16384u}) {
        std::vector<double> re(count), im(count), fr(count), fi(count), br(count), bi(count);
        for (unsigned i = 0; i < count; ++i) {
            re[i] = value(random);
            im[i] = value(random);
        }
        FFT(count, false, re.data(), im.data(), fr.data(), fi.data());
        FFT(count, true, fr.data(), fi.data(), br.data(), bi.data());
        for (unsigned i = 0; i < count; ++i) {
            ASSERT_NEAR(br[i], re[i], 1e-5) << count << " " << i;
            ASSERT_NEAR(bi[i], im[i], 1e-5) << count << " " << i;
        }
    }
}

TEST(Fft, MatchesTheDefinitionAndRefusesBadSizes)
{
    const unsigned n = 16;
    std::vector<double> re(n), fr(n, -1), fi(n, -1);
    for (unsigned i = 0; i < n; ++i)
        re[i] = std::cos(0.3 * i) + 0.5 * i;
    FFT(n, false, re.data(), nullptr, fr.data(), fi.data());
    for (unsigned k = 0; k < n; ++k) {
        double sr = 0, si = 0;
        for (unsigned t = 0; t < n; ++t) {
            sr += re[t] * std::cos(-2 * std::numbers::pi * k * t / n);
            si += re[t] * std::sin(-2 * std::numbers::pi * k * t / n);
        }
        EXPECT_NEAR(fr[k], sr, 1e-9);
        EXPECT_NEAR(fi[k], si, 1e-9);
    }

    std::vector<double> untouched(12, 42.0), alsoUntouched(12, 42.0);
    FFT(12, false, re.data(), nullptr, untouched.data(), alsoUntouched.data()); // not a power of two
    FFT(1, false, re.data(), nullptr, untouched.data(), alsoUntouched.data());
    FFT(8, false, nullptr, nullptr, untouched.data(), alsoUntouched.data());
    FFT(8, false, re.data(), nullptr, untouched.data(), nullptr);
    EXPECT_EQ(untouched, std::vector<double>(12, 42.0));
    EXPECT_EQ(alsoUntouched, std::vector<double>(12, 42.0));
}

TEST(Peak, SkipsDcTiesGoLowAndSilenceGivesZero)
{
    EXPECT_EQ(SpectrumAnalysis::FindPeak(std::vector<double>{9, 1, 5, 5, 2}.data(), 5), 2);
    EXPECT_EQ(SpectrumAnalysis::FindPeak(std::vector<double>{100, 0, 0, 0}.data(), 4), 0);
    EXPECT_EQ(SpectrumAnalysis::FindPeak(std::vector<double>(8, 0.0).data(), 8), 0);
    EXPECT_DOUBLE_EQ(SpectrumAnalysis::BinFrequency(48000, 75, 4096), 439.453125);
    EXPECT_DOUBLE_EQ(SpectrumAnalysis::BinFrequency(48000, 0, 0), 0.0);
}

TEST(Tracking, A440ToneAt8192FramesIsBin75Written439Hz)
{
    Analysis a;
    a.Feed(440.0);
    EXPECT_EQ(SpectrumAnalysis::FindPeak(a.analysis.RealSpectrum(), 4096), 75);
    EXPECT_EQ(a.output.frequencies.Texts(), std::vector<std::string>{"439 Hz"});
    EXPECT_EQ(a.output.counts.Texts(), std::vector<std::string>{"1"});
    EXPECT_EQ(a.output.frequencies.Rows()[0].data, 1);
    EXPECT_EQ(a.output.frequencyText, "Freq: 439 Hz");
    EXPECT_DOUBLE_EQ(a.analysis.LastFrequency(), 439.453125);
}

TEST(Tracking, OnlyFrequenciesFrom100To900HzAreCounted)
{
    // At 25600 Hz and 8192 frames a bin is 3.125 Hz: 100 and 900 Hz are bins.
    Analysis a(25600);
    DebugLines debug;
    for (double hz : {950.0, 100.0, 900.0, 96.875, 903.125})
        a.Feed(hz, 8192, 25600);
    EXPECT_EQ(a.output.frequencies.Texts(), (std::vector<std::string>{"100 Hz", "900 Hz"}));
    EXPECT_EQ(a.output.counts.Texts(), (std::vector<std::string>{"1", "1"}));
    // 950 Hz was never counted, yet it changed the label and the log.
    ASSERT_EQ(a.output.changes.GetCount(), 5);
    EXPECT_EQ(a.output.changes.GetText(0), "(950 Hz) happened,Last Freq(0 Hz) keep 1000 ms");
    EXPECT_EQ(a.output.frequencyText, "Freq: 903 Hz");
    EXPECT_EQ(a.output.changes.TopIndex(), 4);
    EXPECT_EQ(debug.Count("(950 Hz) happened"), 1);
}

TEST(Tracking, CountsGrowAlignedWithTheirRowsAndRepeatsLogNoChange)
{
    Analysis a;
    DebugLines debug;
    const double tones[] = {440, 440, 600, 440, 600, 300, 600};
    for (double hz : tones) {
        a.Feed(hz);
        a.now += 170;
    }
    EXPECT_EQ(a.output.frequencies.Texts(), (std::vector<std::string>{"439 Hz", "598 Hz", "299 Hz"}));
    EXPECT_EQ(a.output.counts.Texts(), (std::vector<std::string>{"3", "3", "1"}));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(std::to_string(a.output.frequencies.GetItemData(row)), a.output.counts.GetText(row));
    // Seven blocks, one repeat: six changes.
    EXPECT_EQ(a.output.changes.GetCount(), 6);
    EXPECT_EQ(debug.Count("Freq(439 Hz) Counts = 2"), 1);
    EXPECT_EQ(debug.Count("Freq(598 Hz) Counts = 3"), 1);
    // 440 lasted two blocks (340 ms) before 600 Hz took over.
    EXPECT_EQ(a.output.changes.GetText(1), "(598 Hz) happened,Last Freq(439 Hz) keep 340 ms");
    EXPECT_EQ(a.output.frequencies.TopIndex(), 2);
}

TEST(Tracking, SilenceIsZeroHzAndNotCounted)
{
    Analysis a;
    std::vector<int16_t> silence(8192 * 2, 0);
    a.analysis.AnalyseStereoBlock(silence.data(), 32768);
    EXPECT_EQ(a.output.frequencyText, "Freq: 0 Hz");
    EXPECT_EQ(a.output.frequencies.GetCount(), 0);
    EXPECT_EQ(a.output.changes.GetCount(), 0); // 0 Hz was already the last frequency
    EXPECT_EQ(a.analysis.LastChangeTick(), 1000u);
}

TEST(Tracking, FullListsTakeNoMoreRows)
{
    Analysis a;
    for (int i = 0; i < SpectrumAnalysis::kMaxListRows; ++i)
        a.output.frequencies.AddString("x");
    DebugLines debug;
    a.Feed(440);
    a.Feed(440);
    EXPECT_EQ(a.output.frequencies.GetCount(), SpectrumAnalysis::kMaxListRows);
    EXPECT_EQ(a.output.counts.GetCount(), 0);
    EXPECT_EQ(debug.Count("List is full"), 2);
    // The label and the change log still follow the tone.
    EXPECT_EQ(a.output.frequencyText, "Freq: 439 Hz");
    EXPECT_EQ(a.output.changes.GetCount(), 1);

    // A full change log keeps its lines; the trace still gets each change.
    for (int i = 1; i < SpectrumAnalysis::kMaxListRows; ++i)
        a.output.changes.AddString("x");
    a.Feed(600);
    EXPECT_EQ(a.output.changes.GetCount(), SpectrumAnalysis::kMaxListRows);
    EXPECT_EQ(a.output.frequencyText, "Freq: 598 Hz");
    EXPECT_EQ(debug.Count("(598 Hz) happened"), 1);
}

TEST(Tracking, ABlockOfNoPowerOfTwoFramesIsAnalysedFromItsOwnSpectrum)
{
    Analysis a;
    a.Feed(440);
    // 6000 frames: its leading 4096 are transformed, 11.7 Hz a bin.
    a.Feed(300, 6000);
    EXPECT_NEAR(a.analysis.LastFrequency(), 300.0, 11.8);
    for (int k = 0; k < 2048; ++k)
        ASSERT_TRUE(std::isfinite(a.analysis.RealSpectrum()[k])) << k;
    EXPECT_EQ(a.output.frequencies.GetCount(), 2);
}

TEST(Tracking, NothingHappensWhileNotAnalysingAndOversizedBlocksAreRefused)
{
    Analysis a;
    a.output.analysing = false;
    a.Feed(440);
    EXPECT_EQ(a.output.frequencies.GetCount(), 0);
    EXPECT_EQ(a.output.frequencyText, "");
    EXPECT_DOUBLE_EQ(a.analysis.LastFrequency(), 0.0);

    a.output.analysing = true;
    DebugLines debug;
    std::vector<int16_t> huge(2 * 65536, 100);
    a.analysis.AnalyseStereoBlock(huge.data(), 65536 * 4);
    EXPECT_EQ(debug.Count("not analysed"), 1);
    EXPECT_EQ(a.output.frequencies.GetCount(), 0);
}

TEST(Bars, FollowThePeakAndTheScale)
{
    // 32768-byte blocks in a 606-pixel view: 40.96 bins and 6.06 pixels a bar.
    std::vector<double> power(4096, 0.0);
    power[0] = 50;    // DC weaker than the peak: shown in bar 0
    power[75] = 400;  // bar 2: bins 62..102
    power[200] = 100; // bar 5: bins 185..225
    power[4095] = 200; // the last bar
    const auto bars = SpectrumAnalysis::ComputeBars(power.data(), 4096, 75, 40.96f, 6.06f, 202);
    ASSERT_EQ(bars.size(), 100u);
    EXPECT_EQ(bars[0], (SpectrumBar{0, static_cast<int>(202 * (1 - 50.0 / 400) + 2), 202}));
    EXPECT_EQ(bars[2], (SpectrumBar{12, 2, 202}));
    EXPECT_EQ(bars[5].top, static_cast<int>(202 * 0.75 + 2));
    EXPECT_EQ(bars[5].x, 30);
    EXPECT_EQ(bars[98].x, static_cast<int>(98 * 6.06f));
    EXPECT_EQ(bars[99], (SpectrumBar{606, static_cast<int>(202 * 0.5 + 2), 202}));
    for (int k : {1, 3, 4, 6, 50})
        EXPECT_EQ(bars[k].top, 204) << k; // empty bars have no height

    // DC at least as strong as the peak is left out of bar 0; silence draws nothing.
    power[0] = 1000;
    EXPECT_EQ(SpectrumAnalysis::ComputeBars(power.data(), 4096, 75, 40.96f, 6.06f, 202)[0].top, 204);
    std::vector<double> silent(4096, 0.0);
    for (const auto& bar : SpectrumAnalysis::ComputeBars(silent.data(), 4096, 0, 40.96f, 6.06f, 202))
        EXPECT_EQ(bar.top, 204);
}
