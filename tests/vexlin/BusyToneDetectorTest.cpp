// The detector core on generated line signals.

#include "tests/vexlin/ToneCorpus.h"
#include "vexlin/BusyToneDetector.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace {

using namespace parvane::vexlin;
namespace corpus = parvane::vexlin::corpus;
using corpus::BusyTone;

BusyToneRequest RequestFor(const BusyTone& tone)
{
    return {tone.frequency1, tone.frequency2, corpus::PeriodOf(tone), tone.onMs, tone.offMs};
}

BusyToneDetector Heard(const corpus::Signal& line, const BusyToneRequest& request)
{
    BusyToneDetector detector;
    EXPECT_TRUE(detector.Start(request)) << detector.Problem();
    const auto capture = corpus::ToCapture(line);
    detector.Process(capture.data(), capture.size());
    return detector;
}

corpus::Signal Tone(const BusyTone& tone, corpus::ToneVariant variant = {}, unsigned seed = 7)
{
    std::mt19937 random(seed);
    return corpus::Cadenced(tone, variant, random);
}

const BusyTone& Country(const char* code)
{
    const BusyTone* tone = corpus::FindBusyTone(code);
    if (tone == nullptr)
        std::abort();
    return *tone;
}

TEST(BusyToneCorpus, HasTwentyCountriesAndSeveralCadenceFamilies)
{
    std::map<std::string, int> families;
    for (const BusyTone& tone : corpus::PublishedBusyTones())
        ++families[corpus::CadenceFamily(tone)];
    EXPECT_GE(corpus::PublishedBusyTones().size(), 20u);
    EXPECT_GE(families.size(), 8u);
}

// Every cadence of the corpus, a little off frequency, in noise, found with
// the number of cycles the signal holds and the period measured to the ms.
TEST(BusyToneDetector, FindsEveryCadenceFamily)
{
    std::map<std::string, const BusyTone*> families;
    for (const BusyTone& tone : corpus::PublishedBusyTones())
        families.emplace(corpus::CadenceFamily(tone), &tone);
    for (const auto& [family, tone] : families) {
        corpus::ToneVariant variant;
        variant.levelDbfs = -25;
        variant.snrDb = 10;
        variant.frequencyScale = 1.015;
        variant.durationMs = 5 * (tone->onMs + tone->offMs) + 100;
        variant.startMs = tone->onMs / 2; // begins inside a tone
        const BusyToneDetector detector = Heard(Tone(*tone, variant), RequestFor(*tone));
        EXPECT_TRUE(detector.Found()) << family << " (" << tone->country << ")";
        // The cut first tone and the unfinished last cycle do not count.
        EXPECT_EQ(detector.Count(), 4) << family;
        EXPECT_NEAR(detector.PerhapsPeriod(), corpus::PeriodOf(*tone), 3) << family;
        // Once the first whole cycle has been heard: the cut tone, its pause,
        // a whole cycle and the onset after it.
        const int cycle = tone->onMs + tone->offMs;
        EXPECT_GT(detector.FoundAtMs(), cycle + tone->offMs) << family;
        EXPECT_LE(detector.FoundAtMs(), 2 * cycle - tone->onMs / 2 + 60) << family;
    }
}

TEST(BusyToneDetector, LearnsThePeriodWhenNoneIsRequested)
{
    for (const char* code : {"cn", "ar", "us", "in"}) {
        const BusyTone& tone = Country(code);
        corpus::ToneVariant variant;
        variant.snrDb = 20;
        variant.durationMs = 6 * (tone.onMs + tone.offMs);
        BusyToneRequest request{tone.frequency1, tone.frequency2, 0, 0, 0};
        const BusyToneDetector detector = Heard(Tone(tone, variant), request);
        EXPECT_TRUE(detector.Found()) << code;
        EXPECT_NEAR(detector.PerhapsPeriod(), corpus::PeriodOf(tone), 3) << code;
        // Of the four whole cycles heard, the first has nothing to repeat.
        EXPECT_EQ(detector.Count(), 3) << code;
    }
}

TEST(BusyToneDetector, TellsNearbyFrequenciesApart)
{
    // 2 % off counts, 4 % off does not, in both directions, and the
    // 450 Hz tone of one country is not the 425 Hz tone of another.
    const BusyTone& china = Country("cn");
    const BusyTone& us = Country("us");
    struct Case {
        const BusyTone& tone;
        double scale;
        bool found;
    };
    for (const Case& c : {Case{china, 1.02, true}, Case{china, 0.98, true}, Case{china, 1.04, false},
                          Case{china, 0.96, false}, Case{us, 1.02, true}, Case{us, 0.96, false}}) {
        corpus::ToneVariant variant;
        variant.frequencyScale = c.scale;
        variant.snrDb = 20;
        const BusyToneDetector detector = Heard(Tone(c.tone, variant), RequestFor(c.tone));
        EXPECT_EQ(detector.Found(), c.found) << c.tone.code << " x" << c.scale;
        EXPECT_EQ(detector.Count() > 0, c.found) << c.tone.code << " x" << c.scale;
    }
    BusyToneRequest asked425 = RequestFor(china);
    asked425.frequency1 = 425;
    EXPECT_FALSE(Heard(Tone(china), asked425).Found());
}

TEST(BusyToneDetector, NeedsEveryComponentInBalance)
{
    const BusyTone& us = Country("us");
    const BusyTone only480{"", "", 480, 0, 500, 500};
    EXPECT_FALSE(Heard(Tone(only480), RequestFor(us)).Found());

    // 480 Hz 6 dB below 620 Hz still counts; 15 dB below does not.
    for (auto [weakerDb, found] : {std::pair{6.0, true}, {15.0, false}}) {
        corpus::ToneVariant loud, quiet;
        loud.levelDbfs = -20;
        quiet.levelDbfs = -20 - weakerDb;
        corpus::Signal line = Tone({"", "", 620, 0, 500, 500}, loud);
        corpus::Mix(line, Tone(only480, quiet));
        EXPECT_EQ(Heard(line, RequestFor(us)).Found(), found) << weakerDb << " dB";
    }
}

TEST(BusyToneDetector, HoldsTonesModulatedInAmplitude)
{
    // 400 Hz switched by 16 Hz or 25 Hz, down to silence between the peaks.
    const BusyTone& japan = Country("jp");
    for (double modulation : {16.0, 25.0}) {
        corpus::ToneVariant variant;
        variant.modulationHz = modulation;
        variant.snrDb = 20;
        const BusyToneDetector detector = Heard(Tone(japan, variant), RequestFor(japan));
        EXPECT_TRUE(detector.Found()) << modulation << " Hz";
        EXPECT_NEAR(detector.PerhapsPeriod(), 500, 5) << modulation << " Hz";
    }
}

TEST(BusyToneDetector, HearsQuietTonesButNotTheNoiseFloor)
{
    const BusyTone& germany = Country("de");
    for (auto [level, found] : {std::pair{-45.0, true}, {-60.0, false}}) {
        corpus::ToneVariant variant;
        variant.levelDbfs = level;
        EXPECT_EQ(Heard(Tone(germany, variant), RequestFor(germany)).Found(), found) << level << " dBFS";
    }
}

TEST(BusyToneDetector, AllowsTheDriftOfRealExchangesAndNoMore)
{
    const BusyTone& germany = Country("de");
    for (auto [scale, found] : {std::pair{0.92, true}, {1.08, true}, {0.8, false}, {1.2, false}}) {
        corpus::ToneVariant variant;
        variant.cadenceScale = scale;
        variant.snrDb = 20;
        EXPECT_EQ(Heard(Tone(germany, variant), RequestFor(germany)).Found(), found) << "cadence x" << scale;
    }
    // China's 350/350 is never taken for a 500 ms period, yet its period is
    // measured all the same.
    const BusyTone& china = Country("cn");
    const BusyToneDetector detector = Heard(Tone(china), {450, 0, 500, 0, 0});
    EXPECT_FALSE(detector.Found());
    EXPECT_EQ(detector.Count(), 0);
    EXPECT_NEAR(detector.PerhapsPeriod(), 350, 3);
}

TEST(BusyToneDetector, MatchesOnAndOffTimesWhenGiven)
{
    const BusyTone& argentina = Country("ar"); // 300 on, 200 off
    const BusyTone swapped{"", "", 425, 0, 200, 300};
    // By period alone (on + off = 500) both cadences would pass.
    EXPECT_TRUE(Heard(Tone(swapped), {425, 0, 500, 0, 0}).Found());
    EXPECT_TRUE(Heard(Tone(argentina), RequestFor(argentina)).Found());
    EXPECT_FALSE(Heard(Tone(swapped), RequestFor(argentina)).Found());
    // An equal cadence has the on time as its period.
    EXPECT_FALSE(Heard(Tone(Country("nl")), {425, 0, 1000, 0, 0}).Found());
}

TEST(BusyToneDetector, ListensToTheLeftChannelOnly)
{
    const BusyTone& china = Country("cn");
    const auto tone = corpus::ToCapture(Tone(china));
    std::vector<int16_t> leftTone(tone.size() * 2, 0), rightTone(tone.size() * 2, 0);
    for (size_t i = 0; i < tone.size(); ++i) {
        leftTone[2 * i] = tone[i];
        rightTone[2 * i + 1] = tone[i];
    }
    BusyToneDetector left, right;
    left.Start(RequestFor(china));
    right.Start(RequestFor(china));
    left.ProcessChannel(leftTone.data(), tone.size(), 2);
    right.ProcessChannel(rightTone.data(), tone.size(), 2);
    EXPECT_TRUE(left.Found());
    EXPECT_FALSE(right.Found());
}

TEST(BusyToneDetector, GivesTheSameAnswerHoweverTheSamplesAreCut)
{
    const BusyTone& us = Country("us");
    corpus::ToneVariant variant;
    variant.snrDb = 10;
    const auto capture = corpus::ToCapture(Tone(us, variant));
    BusyToneDetector whole, pieces;
    whole.Start(RequestFor(us));
    pieces.Start(RequestFor(us));
    whole.Process(capture.data(), capture.size());
    size_t at = 0;
    for (size_t step = 1; at < capture.size(); step = step * 7 % 1013 + 1) {
        const size_t n = std::min(step, capture.size() - at);
        pieces.Process(capture.data() + at, n);
        at += n;
    }
    EXPECT_EQ(whole.Count(), pieces.Count());
    EXPECT_EQ(whole.FoundAtMs(), pieces.FoundAtMs());
    EXPECT_EQ(whole.PerhapsPeriod(), pieces.PerhapsPeriod());
    EXPECT_EQ(whole.ElapsedMs(), static_cast<int64_t>(capture.size() / 48));
}

TEST(BusyToneDetector, MeasuresNoCycleAcrossLostSamples)
{
    const BusyTone& china = Country("cn");
    corpus::ToneVariant variant;
    variant.durationMs = 7000;
    const auto capture = corpus::ToCapture(Tone(china, variant));
    // 200 ms lost from the pause at 3850..4200 ms, which would look 150 ms long.
    const size_t cut = 48 * 3950, lost = 48 * 200;
    for (bool told : {false, true}) {
        BusyToneDetector detector;
        detector.Start(RequestFor(china));
        detector.Process(capture.data(), cut);
        if (told)
            detector.Discontinuity(lost);
        detector.Process(capture.data() + cut + lost, capture.size() - cut - lost);
        bool allMatched = true;
        for (const Cycle& cycle : detector.RecentCycles())
            allMatched = allMatched && cycle.matched;
        EXPECT_EQ(allMatched, told);
        EXPECT_EQ(detector.ElapsedMs(), told ? 7000 : 6800);
    }
}

TEST(BusyToneDetector, RefusesWhatCannotBeDetected)
{
    BusyToneDetector detector;
    for (const BusyToneRequest& request : {BusyToneRequest{0, 0, 350}, BusyToneRequest{-450, 0, 350},
                                           BusyToneRequest{24000, 0, 350}, BusyToneRequest{30000, 0, 350},
                                           BusyToneRequest{450, 24000, 350}, BusyToneRequest{0, 450, 350},
                                           BusyToneRequest{450, -1, 350}, BusyToneRequest{450, 0, -350}}) {
        EXPECT_FALSE(detector.Start(request)) << request.frequency1 << "+" << request.frequency2;
        EXPECT_FALSE(detector.Problem().empty());
        EXPECT_FALSE(detector.Running());
    }
    EXPECT_TRUE(detector.Start({23999, 0, 0}));
    EXPECT_FALSE(BusyToneDetector::CheckRequest({450, 0, 350}, 44100).empty());

    // A refused detector ignores samples and finds nothing.
    detector.Start({0, 0, 350});
    const auto capture = corpus::ToCapture(Tone(Country("cn")));
    detector.Process(capture.data(), capture.size());
    EXPECT_EQ(detector.Count(), 0);
    EXPECT_EQ(detector.ElapsedMs(), 0);
}

TEST(BusyToneDetector, StartForgetsTheEarlierDetection)
{
    const BusyTone& china = Country("cn");
    const auto capture = corpus::ToCapture(Tone(china));
    BusyToneDetector detector;
    detector.Start(RequestFor(china));
    detector.Process(capture.data(), capture.size());
    ASSERT_TRUE(detector.Found());
    detector.Start(RequestFor(china));
    EXPECT_FALSE(detector.Found());
    EXPECT_EQ(detector.Count(), 0);
    EXPECT_EQ(detector.PerhapsPeriod(), 0);
}

// Sounds that are no busy tone, heard with requests of every frequency set,
// with the cadences of the corpus and with none (learning).
TEST(BusyToneDetector, FindsNoBusyToneInOtherSounds)
{
    std::mt19937 random(99);
    std::vector<std::pair<std::string, corpus::Signal>> sounds = {
        {"speech-like, low voice", corpus::SpeechLike(6000, 110, random)},
        {"speech-like, high voice", corpus::SpeechLike(6000, 220, random)},
        {"chords", corpus::MusicChords(6000, 600, false, random)},
        {"chords struck on a beat", corpus::MusicChords(6000, 700, true, random)},
        {"noise", corpus::WhiteNoise(5000, -20, random)},
        {"noise bursts", corpus::NoiseBursts(350, 350, 6000, -20, random)},
        {"DTMF digits", corpus::DtmfDigits("0123456789*#0123", 100, 100, -10)},
        {"DTMF digits, slow", corpus::DtmfDigits("98765", 350, 350, -10)},
        {"dial tone 350+440", corpus::SteadyTone(350, 440, 5000, -15)},
        {"dial tone 450", corpus::SteadyTone(450, 0, 5000, -15)},
        {"dial tone 425", corpus::SteadyTone(425, 0, 5000, -15)},
    };
    const std::filesystem::path directory = std::filesystem::temp_directory_path() / "parvane-vexlin-speech";
    std::filesystem::create_directories(directory);
    corpus::Signal spoken = corpus::SpokenText("Thank you for calling. All our lines are busy, please hold.",
                                                "en-us", directory.string(), -20);
    std::filesystem::remove_all(directory);
    if (!spoken.empty())
        sounds.emplace_back("speech (espeak-ng)", std::move(spoken));

    std::vector<BusyToneRequest> requests;
    for (const char* code : {"us", "cn", "fr", "ar"}) {
        requests.push_back(RequestFor(Country(code)));
        requests.push_back({Country(code).frequency1, Country(code).frequency2, 0, 0, 0});
    }
    for (const auto& [name, sound] : sounds) {
        const auto capture = corpus::ToCapture(sound);
        for (const BusyToneRequest& request : requests) {
            BusyToneDetector detector;
            detector.Start(request);
            detector.Process(capture.data(), capture.size());
            EXPECT_FALSE(detector.Found()) << name << " heard as " << request.frequency1 << "+"
                                           << request.frequency2 << " period " << request.periodMs;
        }
    }
}

} // namespace

namespace {

// 400 Hz switched 150 on, 150 off, 300 on, 150 off, 150 on, 150 off, 600 on,
// 1000 off, in noise at 10 dB SNR, from `startPair` of the pattern on.
corpus::Signal FourPairs(size_t startPair, int repeats)
{
    const std::vector<CadencePair> pattern = {{150, 150}, {300, 150}, {150, 150}, {600, 1000}};
    std::mt19937 random(3);
    corpus::Signal line;
    for (size_t k = startPair; k < startPair + pattern.size() * repeats; ++k) {
        const CadencePair& pair = pattern[k % pattern.size()];
        corpus::ToneVariant variant;
        variant.snrDb = 10;
        variant.durationMs = pair.onMs + pair.offMs;
        const corpus::Signal piece = corpus::Cadenced({"", "", 400, 0, pair.onMs, pair.offMs}, variant, random);
        line.insert(line.end(), piece.begin(), piece.end());
    }
    return line;
}

} // namespace

TEST(BusyToneDetector, FindsCadencesOfSeveralPairsInNoiseAndTellsAContinuousTone)
{
    const std::vector<CadencePair> pattern = {{150, 150}, {300, 150}, {150, 150}, {600, 1000}};
    for (size_t start : {0u, 1u, 3u}) {
        const corpus::Signal line = FourPairs(start, 5);
        const BusyToneDetector asked = Heard(line, {400, 0, 0, 0, 0, pattern});
        EXPECT_TRUE(asked.Found()) << start;
        EXPECT_GE(asked.Count(), 4) << start;
        const BusyToneDetector learning = Heard(line, {400, 0, 0, 0, 0});
        ASSERT_EQ(learning.Pattern().size(), 4u) << start;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(learning.Pattern()[i].onMs, pattern[i].onMs, 15) << start << " pair " << i;
            EXPECT_NEAR(learning.Pattern()[i].offMs, pattern[i].offMs, 15) << start << " pair " << i;
        }
        EXPECT_NEAR(learning.PerhapsPeriod(), 2650, 30) << start;
    }
    // The same pairs in another order are another cadence.
    EXPECT_FALSE(Heard(FourPairs(0, 5), {400, 0, 0, 0, 0, {{150, 150}, {150, 150}, {300, 150}, {600, 1000}}}).Found());

    const BusyToneDetector steady = Heard(corpus::SteadyTone(425, 0, 8000, -20), {425, 0, 0, 0, 0});
    EXPECT_FALSE(steady.Found());
    EXPECT_GT(steady.ToneHeldMs(), CadenceTracker::kLongestSegmentMs);

    BusyToneDetector refused;
    EXPECT_FALSE(refused.Start({400, 0, 0, 0, 0, {{150, 150}, {150, 150}, {150, 150}, {150, 150}, {150, 150}}}));
    EXPECT_EQ(refused.Problem(), "more than 4 on/off pairs");
}
