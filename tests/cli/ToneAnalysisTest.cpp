// The offline pieces of the front end: refining frequencies, measuring the
// cadence with the detector, the tone list, the report of an analysed
// recording, and reading recordings.

#include "audio/AnalysisOutput.h"
#include "cli/AnalysisReport.h"
#include "cli/Recording.h"
#include "cli/ToneProfile.h"
#include "cli/ToneRefinement.h"
#include "platform/DebugPrint.h"
#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>

using namespace parvane;
using namespace parvane::cli;
using namespace parvane::cli::test;

namespace {

// The analysis writes a trace line per block; the tests do not need them.
class QuietTrace : public ::testing::Test {
protected:
    void SetUp() override { m_previous = SetDebugSink([](const std::string&) {}); }
    void TearDown() override { SetDebugSink(m_previous); }

private:
    DebugSink m_previous;
};

// Bins of 32768-byte blocks unless told.
ToneComponents Refined(const ToneSpec& signal, std::vector<double> seeds, double binHz = 5.859375)
{
    const std::vector<int16_t> tone = MakeTone(signal);
    return ToneRefinement(tone, 48000).Refine(seeds, binHz);
}

ToneProfile Tone(std::vector<int> frequencies, std::vector<vexlin::CadencePair> cadence)
{
    ToneProfile profile;
    profile.frequencies = std::move(frequencies);
    profile.cadence = std::move(cadence);
    return profile;
}

} // namespace

using ToneRefinementTest = QuietTrace;

TEST_F(ToneRefinementTest, FindsASingleToneWellInsideABinFromItsCandidate)
{
    // 32768-byte blocks name 451.17 Hz (bin 77) for a 450 Hz tone, and
    // 398.4 Hz for 400.
    for (double frequency : {450.0, 400.0, 425.0, 441.3}) {
        ToneSpec signal;
        signal.frequency1 = frequency;
        signal.noiseDbfs = -50;
        const double bin = std::round(frequency / 5.859375) * 5.859375;
        const ToneComponents tone = Refined(signal, {bin, 0.0});
        ASSERT_EQ(tone.frequencies.size(), 1u) << frequency;
        EXPECT_NEAR(tone.frequencies[0], frequency, 0.3);
    }
}

TEST_F(ToneRefinementTest, FindsBothComponentsOfADualToneEvenWhenOneIsWeaker)
{
    for (double twist : {0.0, 6.0}) {
        ToneSpec signal;
        signal.frequency1 = 480;
        signal.frequency2 = 620;
        signal.onMs = signal.offMs = 500;
        signal.twistDb = twist;
        signal.noiseDbfs = -55;
        // The analysis sees mostly the stronger component.
        const ToneComponents tone = Refined(signal, {480.5});
        ASSERT_EQ(tone.frequencies.size(), 2u) << twist;
        EXPECT_NEAR(tone.frequencies[0], 480, 0.3);
        EXPECT_NEAR(tone.frequencies[1], 620, 0.3);
        EXPECT_NEAR(tone.twistDb, twist, 1.0);
    }
}

TEST_F(ToneRefinementTest, WideBinsOfSmallBlocksStillLeadToTheTone)
{
    // 2048-byte blocks: 93.75 Hz bins; 425 Hz is named 375 Hz.
    ToneSpec signal;
    signal.frequency1 = 425;
    const ToneComponents tone = Refined(signal, {375.0}, 93.75);
    ASSERT_EQ(tone.frequencies.size(), 1u);
    EXPECT_NEAR(tone.frequencies[0], 425, 0.3);
}

TEST_F(ToneRefinementTest, AHarmonicOrAFarWeakerToneIsNoSecondComponent)
{
    ToneSpec signal;
    signal.frequency1 = 400;
    signal.frequency2 = 800;
    signal.twistDb = 20;
    EXPECT_EQ(Refined(signal, {398.4}).frequencies.size(), 1u);
}

TEST_F(ToneRefinementTest, SilenceNoiseAndNoCandidatesGiveNoTone)
{
    ToneSpec silent;
    silent.levelDbfs = -120;
    EXPECT_TRUE(Refined(silent, {450}).frequencies.empty());
    EXPECT_TRUE(Refined(ToneSpec{}, {}).frequencies.empty());
    EXPECT_TRUE(ToneRefinement::FindToneStretches({}, 48000).empty());
}

TEST_F(ToneRefinementTest, StretchesFollowTheCadenceAndLongTonesAreCut)
{
    ToneSpec signal;
    signal.durationMs = 2100; // three tones of 350 ms
    signal.noiseDbfs = -60;
    const std::vector<SampleRange> stretches = ToneRefinement::FindToneStretches(MakeTone(signal), 48000);
    ASSERT_EQ(stretches.size(), 3u);
    for (size_t i = 0; i < stretches.size(); ++i) {
        // Inside the tone: a frame trimmed at each end.
        EXPECT_GE(stretches[i].begin, i * 700 * 48u);
        EXPECT_LE(stretches[i].end, (i * 700 + 350) * 48u);
        EXPECT_GE(stretches[i].Length(), 300 * 48u);
    }
    ToneSpec steady;
    steady.onMs = 0;
    steady.durationMs = 2500;
    const std::vector<SampleRange> pieces = ToneRefinement::FindToneStretches(MakeTone(steady), 48000);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].end, pieces[1].begin);
    EXPECT_LE(pieces[0].Length(), 48000u);
}

TEST(ToneProfile, CadenceIsMeasuredByTheDetector)
{
    ToneSpec signal;
    signal.durationMs = 8000;
    signal.noiseDbfs = -50;
    std::optional<Cadence> cadence = MeasureCadence(MakeTone(signal), 450, 0);
    ASSERT_TRUE(cadence.has_value());
    EXPECT_NEAR(cadence->onMs, 350, 20);
    EXPECT_EQ(cadence->offMs, cadence->onMs);
    EXPECT_NEAR(cadence->periodMs, 350, 20);

    signal.onMs = 500;
    signal.offMs = 250;
    cadence = MeasureCadence(MakeTone(signal), 450, 0);
    ASSERT_TRUE(cadence.has_value());
    EXPECT_NEAR(cadence->onMs, 500, 25);
    EXPECT_NEAR(cadence->offMs, 250, 25);
    EXPECT_NEAR(cadence->periodMs, 750, 25);

    // The wrong frequency: no cadence; a steady tone: a continuous one.
    EXPECT_FALSE(MeasureCadence(MakeTone(signal), 600, 0).has_value());
    signal.onMs = 0;
    cadence = MeasureCadence(MakeTone(signal), 450, 0);
    ASSERT_TRUE(cadence.has_value());
    EXPECT_TRUE(cadence->Continuous());
}

TEST(ToneProfile, DetectionOverARecordingJudgesAsTheStatusLineDoes)
{
    ToneSpec signal;
    signal.durationMs = 12000; // 17 cycles
    const std::vector<int16_t> tone = MakeTone(signal);
    DetectionResult verify = DetectOverRecording(tone, 450, 0, 350, 350);
    EXPECT_TRUE(verify.found);
    EXPECT_GE(verify.count, 10);
    EXPECT_NEAR(verify.periodMs, 350, 20);

    // Get Period: nothing asked but the frequency.
    DetectionResult period = DetectOverRecording(tone, 450, 0, 0, 0);
    EXPECT_TRUE(period.libraryFound);
    EXPECT_NEAR(period.periodMs, 350, 20);

    // Another cadence asked for: not found, the period still measured.
    DetectionResult wrong = DetectOverRecording(tone, 450, 0, 500, 500);
    EXPECT_FALSE(wrong.found);
    EXPECT_NEAR(wrong.periodMs, 350, 20);

    // Too short to reach a count of 10: the library found it, the verdict
    // is still "not yet".
    signal.durationMs = 4000;
    DetectionResult brief = DetectOverRecording(MakeTone(signal), 450, 0, 350, 350);
    EXPECT_TRUE(brief.libraryFound);
    EXPECT_FALSE(brief.found);

    EXPECT_FALSE(DetectOverRecording(tone, 30000, 0, 0, 0).problem.empty());
}

// Each notation, written out by hand for a one-pair dual tone, a two-pair
// tone and a continuous one.
TEST(ToneProfile, NotationsForTheConfigurationsThatTakeThem)
{
    const ToneProfile us = Tone({480, 620}, {{500, 500}});
    const ToneProfile twoPairs = Tone({425}, {{200, 200}, {200, 600}});
    const ToneProfile steady = Tone({425}, {});
    EXPECT_EQ(ToneInFormat(us, ToneFormat::ToneList), "busy = 480+620/500,0/500\n");
    EXPECT_EQ(ToneInFormat(us, ToneFormat::BusyPattern), "busydetect=yes\nbusycount=4\nbusypattern=500,500\n");
    EXPECT_EQ(ToneInFormat(us, ToneFormat::Teletone), "%(500,500,480,620)\n");
    EXPECT_EQ(ToneInFormat(twoPairs, ToneFormat::ToneList), "busy = 425/200,0/200,425/200,0/600\n");
    EXPECT_EQ(ToneInFormat(twoPairs, ToneFormat::BusyPattern),
              "busydetect=yes\nbusycount=4\nbusypattern=200,200,200,600\n");
    EXPECT_EQ(ToneInFormat(twoPairs, ToneFormat::Teletone), "%(200,200,425);%(200,600,425)\n");
    // A tone modulated in amplitude is written as the line's exchange would
    // be set up to send it; the markup without modulation gets the carrier
    // and its side frequencies. Bursts that take turns keep their own.
    ToneProfile modulated = Tone({400}, {{400, 200}, {400, 2000}});
    modulated.modulationHz = 25;
    EXPECT_EQ(ToneListText(modulated), "400*25/400,0/200,400*25/400,0/2000");
    EXPECT_EQ(TeletoneText(modulated), "%(400,200,375,400,425);%(400,2000,375,400,425)");
    ToneProfile turns = Tone({423}, {{375, 375}, {375, 375}});
    turns.burstFrequencies = {{425}, {420}};
    EXPECT_EQ(ToneListText(turns), "425/375,0/375,420/375,0/375");
    EXPECT_EQ(TeletoneText(turns), "%(375,375,425);%(375,375,420)");
    EXPECT_EQ(BusyToneLine(steady), "busy = 425");
    EXPECT_EQ(TeletoneText(steady), "%(1000,0,425)");
    EXPECT_EQ(BusyPatternText(steady).rfind("busydetect=no\n", 0), 0u);
    EXPECT_EQ(ParseToneFormat("busypattern"), ToneFormat::BusyPattern);
    EXPECT_FALSE(ParseToneFormat("indications").has_value());
    EXPECT_EQ(RequestedPeriod(350, 350), 350);
    EXPECT_EQ(RequestedPeriod(350, 250), 600);
    EXPECT_EQ(RequestedPeriod(0, 0), 0);
}

using AnalysisReportTest = QuietTrace;

TEST_F(AnalysisReportTest, ARecordingIsAnalysedInTheChosenBlocksWithItsOwnClock)
{
    ToneSpec signal;
    signal.durationMs = 7000;
    const std::vector<int16_t> mono = MakeTone(signal);
    std::vector<int16_t> stereo;
    for (int16_t sample : mono) {
        stereo.push_back(sample);
        stereo.push_back(0); // the right channel is not listened to
    }
    MemoryAnalysisOutput output;
    AnalyseRecording(stereo, 32768, output);
    // 7 s of 8192-frame blocks: 41 whole blocks, each counted or 0 Hz.
    ASSERT_GE(output.frequencies.GetCount(), 1);
    EXPECT_EQ(output.frequencies.GetText(0), "451 Hz");

    const AnalysisReport report = BuildAnalysisReport(32768, output.frequencies, output.changes, mono);
    ASSERT_FALSE(report.candidates.empty());
    EXPECT_EQ(std::lround(report.candidates[0].frequencyHz), 451);
    long total = 0;
    for (const Candidate& candidate : report.candidates)
        total += candidate.count;
    EXPECT_LE(total, 41);
    ASSERT_EQ(report.Frequencies(), std::vector<int>{450});
    ASSERT_TRUE(report.cadence.has_value());
    EXPECT_NEAR(report.cadence->onMs, 350, 20);
    EXPECT_GT(report.changes, 10);
    // "keep" times come from the recording's clock: the tone holds for one
    // or two blocks of 171 ms at a time.
    ASSERT_FALSE(report.held.empty());
    for (const HeldFrequency& held : report.held) {
        EXPECT_GE(held.medianMs, 170);
        EXPECT_LE(held.medianMs, 520);
    }

    const nlohmann::ordered_json json = ReportJson(report);
    EXPECT_EQ(json["block_bytes"], 32768);
    EXPECT_EQ(json["candidates"][0]["frequency_hz"], 451);
    EXPECT_EQ(json["tone_list"], ToneListText(report.Profile()));
}

TEST(AnalysisReport, CandidatesAreOrderedByCountAndTheChangeLogIsSummarised)
{
    MemoryAnalysisList frequencies, changes;
    for (auto [text, count] : std::vector<std::pair<const char*, long>>{{"445 Hz", 3}, {"451 Hz", 9}, {"457 Hz", 3}}) {
        frequencies.SetItemData(frequencies.AddString(text), count);
    }
    for (const char* line : {"(451 Hz) happened,Last Freq(0 Hz) keep 4000 ms", "(0 Hz) happened,Last Freq(451 Hz) keep 340 ms",
                             "(451 Hz) happened,Last Freq(0 Hz) keep 342 ms", "something else",
                             "(0 Hz) happened,Last Freq(451 Hz) keep 341 ms"})
        changes.AddString(line);
    AnalysisReport report;
    report.candidates = CandidatesOf(frequencies);
    ASSERT_EQ(report.candidates.size(), 3u);
    EXPECT_EQ(report.candidates[0].frequencyHz, 451);
    EXPECT_EQ(report.candidates[1].frequencyHz, 445); // equal counts keep the list's order
    SummariseChangeLog(changes, report);
    EXPECT_EQ(report.changes, 4);
    ASSERT_EQ(report.held.size(), 2u);
    EXPECT_EQ(report.held[0].frequencyHz, 451);
    EXPECT_EQ(report.held[0].times, 2);
    EXPECT_EQ(report.held[0].medianMs, 341);
    EXPECT_EQ(report.held[1].frequencyHz, 0); // the first line's 4000 ms before anything is left out
    EXPECT_EQ(report.held[1].medianMs, 342);

    // The live progress line names the last block's frequency and the three leaders.
    frequencies.SetItemData(frequencies.AddString("463 Hz"), 1);
    EXPECT_EQ(LiveAnalysisLine("Current Freq: 451 Hz", CandidatesOf(frequencies)),
              "now 451 Hz | 451 Hz x9, 445 Hz x3, 457 Hz x3");
    EXPECT_EQ(LiveAnalysisLine("", {}), "");
}

TEST(Recording, ReadsAnyRateAndChannelCountIntoLineAudio)
{
    const std::string directory = TemporaryDirectory();
    ToneSpec signal;
    signal.rate = 8000;
    signal.onMs = 0;
    signal.durationMs = 2000;
    WriteWav(directory + "/narrow.wav", MakeTone(signal), 8000, 1);
    Recording recording;
    std::string error;
    ASSERT_TRUE(LoadRecording(directory + "/narrow.wav", recording, error)) << error;
    EXPECT_EQ(recording.fileRate, 8000);
    EXPECT_EQ(recording.fileChannels, 1);
    EXPECT_NEAR(static_cast<double>(recording.Frames()), 96000.0, 100.0);
    // Still 450 Hz after the conversion.
    const ToneComponents tone = ToneRefinement(recording.Left(), 48000).Refine({451}, 5.859375);
    ASSERT_EQ(tone.frequencies.size(), 1u);
    EXPECT_NEAR(tone.frequencies[0], 450.0, 0.3);
    std::remove((directory + "/narrow.wav").c_str());
    ::rmdir(directory.c_str());
}

TEST(Recording, BadFilesAreRefusedWithWhatIsWrong)
{
    const std::string directory = TemporaryDirectory();
    ToneSpec signal;
    signal.durationMs = 1000;
    WriteWav(directory + "/good.wav", MakeTone(signal), 48000, 2);
    std::ifstream good(directory + "/good.wav", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(good)), std::istreambuf_iterator<char>());
    auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(directory + "/" + name, std::ios::binary) << content;
        return directory + "/" + name;
    };
    auto cut = [&](const std::string& name, int format) {
        WriteWav(directory + "/" + name, MakeTone(signal), 48000, 1, format);
        std::ifstream whole(directory + "/" + name, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(whole)), std::istreambuf_iterator<char>());
        return write(name, content.substr(0, content.size() * 2 / 3));
    };
    struct Case {
        std::string path;
        const char* says;
    };
    std::vector<Case> cases = {
        {directory + "/missing.wav", "No such file"},
        {write("empty.wav", ""), "is empty"},
        {write("text.wav", "just some words, no audio\n"), "not an audio file"},
        {write("cut.wav", bytes.substr(0, bytes.size() / 2)), "truncated"},
        {write("header.wav", bytes.substr(0, 30)), "damaged"},
        {cut("cut.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16), "truncated"},
        {cut("cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16), "truncated"},
        {cut("cut.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS), "truncated"},
        {directory, "directory"},
    };
    // A FLAC header announcing 755 million frames in a file of 117 bytes.
    static const char kBillions[] =
        "fLaC\x00\x00\x00\x22\x10\x00\x50\x00\x00\x00\xc1\x00\x00\xc1\x43\xe8\x00\xf0\x2d\x00\x01\x90"
        "\x99\xf7\xb2\xb9\x17\xfa\xce\x48\xb2\xa0\xe7\x06\x66\x82\x01\x00\x00\x00\x00\x00\x00\x01\x00"
        "\x00reference libFLAC 1.4.2 20221022\x00\x00\x00\x00\xff\x8b\x79\x63\x50\xd4\xf1\x72\x2c\x48\x92\x0a"
        "\x20\x52\x22\xc5\xcf\xcf\xcf\xcf\xcf\xcf\xcf\xcf\xcf\xcf\xcf\xcf\x00\x73\x6b";
    const std::string billions(kBillions, sizeof kBillions - 1);
    ASSERT_EQ(billions.size(), 117u);
    cases.push_back({write("billions.flac", billions), "truncated"});
    // Three frames at 7 MHz: not one frame at the line's rate.
    WriteWav(directory + "/fast.wav", {100, 200, 300}, 7000000, 1);
    cases.push_back({directory + "/fast.wav", "too short"});
    for (const Case& c : cases) {
        Recording recording;
        std::string error;
        EXPECT_FALSE(LoadRecording(c.path, recording, error)) << c.path;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_TRUE(recording.stereo.empty());
    }
    for (const char* name : {"good.wav", "empty.wav", "text.wav", "cut.wav", "header.wav", "cut.aiff", "cut.flac", "cut.ogg", "fast.wav",
                             "billions.flac"})
        std::remove((directory + "/" + name).c_str());
    ::rmdir(directory.c_str());
}

TEST(Recording, FloatSamplesThatAreNotNumbersReadAsSilence)
{
    const std::string path = TemporaryDirectory() + "/nan.wav";
    const float nan = std::nanf("");
    const float inf = HUGE_VALF;
    const std::vector<float> frames = {nan, 0.5f, -inf, nan, inf, -0.25f};
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    sf_writef_float(file, frames.data(), 3);
    sf_close(file);

    Recording recording;
    std::string error;
    ASSERT_TRUE(LoadRecording(path, recording, error)) << error;
    EXPECT_EQ(recording.stereo, (std::vector<int16_t>{0, 16384, -32768, 0, 32767, -8192}));
    std::remove(path.c_str());
    ::rmdir(path.substr(0, path.rfind('/')).c_str());
}
