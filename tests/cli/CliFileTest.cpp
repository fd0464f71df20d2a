// parvane-cli file, run as a program over recordings made here.

#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace parvane::cli::test;

namespace {

class CliFile : public ::testing::Test {
protected:
    void SetUp() override { m_directory = TemporaryDirectory(); }
    void TearDown() override
    {
        for (const std::string& path : m_files)
            std::remove(path.c_str());
        ::rmdir(m_directory.c_str());
    }
    std::string Recording(const std::string& name, const ToneSpec& signal, int channels = 1)
    {
        const std::string path = Path(name);
        WriteWav(path, MakeTone(signal), signal.rate, channels);
        return path;
    }
    std::string Path(const std::string& name)
    {
        m_files.push_back(m_directory + "/" + name);
        return m_files.back();
    }

private:
    std::string m_directory;
    std::vector<std::string> m_files;
};

} // namespace

TEST_F(CliFile, ListsTheTonesFrequencyFirstWithItsCadenceInJson)
{
    ToneSpec signal;
    signal.frequency1 = 425;
    signal.onMs = signal.offMs = 480;
    signal.durationMs = 8000;
    signal.noiseDbfs = -55;
    signal.leadingSilenceMs = 700;
    const CliResult result = RunCli({"file", Recording("de.wav", signal, 2), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_EQ(json["block_bytes"], 32768);
    ASSERT_TRUE(json["candidates"].is_array());
    ASSERT_FALSE(json["candidates"].empty());
    // 425 Hz lies between bins 72 (421.9) and 73 (427.7).
    const int first = json["candidates"][0]["frequency_hz"];
    EXPECT_TRUE(first == 422 || first == 428) << first;
    int previous = json["candidates"][0]["count"];
    for (const auto& candidate : json["candidates"]) {
        EXPECT_LE(candidate["count"].get<int>(), previous);
        previous = candidate["count"];
        EXPECT_GE(candidate["frequency_hz"].get<int>(), 100);
        EXPECT_LE(candidate["frequency_hz"].get<int>(), 900);
    }
    EXPECT_EQ(json["frequencies_hz"], nlohmann::json::array({425}));
    EXPECT_NEAR(json["on_ms"].get<int>(), 480, 20);
    EXPECT_NEAR(json["off_ms"].get<int>(), 480, 20);
    EXPECT_EQ(json["sample_rate"], 48000);
    EXPECT_EQ(json["channels"], 2);
    EXPECT_FALSE(json.contains("found"));
}

TEST_F(CliFile, BlockSizeAndRateOfTheFileDoNotChangeTheAnswer)
{
    ToneSpec signal;
    signal.frequency1 = 480;
    signal.frequency2 = 620;
    signal.onMs = signal.offMs = 500;
    signal.rate = 8000;
    signal.durationMs = 6000;
    const CliResult result = RunCli({"file", Recording("us.wav", signal), "--buffer", "8K", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_EQ(json["block_bytes"], 8192);
    // 2048-frame blocks: 23.4 Hz bins, both components among the candidates.
    const int first = json["candidates"][0]["frequency_hz"];
    EXPECT_TRUE(std::abs(first - 480) < 12 || std::abs(first - 620) < 12) << first;
    EXPECT_EQ(json["frequencies_hz"], nlohmann::json::array({480, 620}));
    EXPECT_EQ(json["tone_list"], "480+620/" + std::to_string(json["on_ms"].get<int>()) + ",0/" +
                                     std::to_string(json["off_ms"].get<int>()));
    EXPECT_NEAR(json["on_ms"].get<int>(), 500, 20);
    EXPECT_EQ(json["sample_rate"], 8000);
}

TEST_F(CliFile, RunsTheDetectorAsVerifyAndGetPeriodWould)
{
    ToneSpec signal;
    signal.durationMs = 10000;
    const std::string path = Recording("cn.wav", signal);

    CliResult result = RunCli({"file", path, "--freq1", "450", "--on", "350", "--off", "350", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    nlohmann::json json = result.Json();
    EXPECT_TRUE(json["found"].get<bool>());
    EXPECT_GE(json["count"].get<int>(), 10);
    EXPECT_NEAR(json["period_ms"].get<int>(), 350, 20);

    result = RunCli({"file", path, "--freq1", "450", "--json"});
    json = result.Json();
    EXPECT_NEAR(json["period_ms"].get<int>(), 350, 20);
    EXPECT_TRUE(json["detected"].get<bool>());

    // Verify Mode's figures that do not match: exit 4, still a document.
    result = RunCli({"file", path, "--freq1", "450", "--on", "500", "--off", "500", "--json"});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_FALSE(result.Json()["found"].get<bool>());

    result = RunCli({"file", path, "--freq1", "450", "--on", "350", "--off", "350"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("Candidates (highest count first):"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("busy tone found"), std::string::npos) << result.out;

    // Frequencies the detector refuses: its message and a usage error.
    for (const std::vector<std::string>& figures : std::vector<std::vector<std::string>>{
             {"--freq1", "5"}, {"--freq1", "450", "--freq2", "5"}}) {
        std::vector<std::string> arguments = {"file", path};
        arguments.insert(arguments.end(), figures.begin(), figures.end());
        result = RunCli(arguments);
        EXPECT_EQ(result.exitCode, 2) << figures.back();
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_NE(result.err.find("the detector refuses this request"), std::string::npos) << result.err;
    }
}

TEST_F(CliFile, SilenceAndToneOutsideTheBandFindNoTone)
{
    ToneSpec silent;
    silent.levelDbfs = -130;
    CliResult result = RunCli({"file", Recording("silent.wav", silent), "--json"});
    EXPECT_EQ(result.exitCode, 4);
    nlohmann::json json = result.Json();
    EXPECT_TRUE(json["candidates"].empty());
    EXPECT_TRUE(json["on_ms"].is_null());
    EXPECT_TRUE(json["off_ms"].is_null());

    ToneSpec high;
    high.frequency1 = 1400;
    result = RunCli({"file", Recording("high.wav", high)});
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.out.find("Tone: none found"), std::string::npos) << result.out;
}

TEST_F(CliFile, BadFilesGiveAMessageAndAnExitCode)
{
    ToneSpec signal;
    signal.durationMs = 1000;
    const std::string good = Recording("good.wav", signal);
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto write = [&](const std::string& name, const std::string& content) {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Path("missing.wav"), "No such file"},
        {write("empty.wav", ""), "is empty"},
        {write("notes.txt", "not audio at all\n"), "not an audio file"},
        {write("cut.wav", bytes.substr(0, bytes.size() * 2 / 3)), "truncated"},
    };
    for (const auto& [path, says] : cases) {
        for (bool json : {false, true}) {
            std::vector<std::string> arguments = {"file", path};
            if (json)
                arguments.push_back("--json");
            const CliResult result = RunCli(arguments);
            EXPECT_EQ(result.exitCode, 1) << path;
            EXPECT_TRUE(result.out.empty()) << result.out;
            EXPECT_NE(result.err.find(says), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(path), std::string::npos) << result.err;
        }
    }
}

TEST(CliUsage, UsageErrorsExitWithTwoAndHelpWithZero)
{
    CliResult result = RunCli({"file"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("Usage: parvane-cli"), std::string::npos);
    result = RunCli({"verify", "--freq1", "450"});
    EXPECT_EQ(result.exitCode, 2);
    result = RunCli({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("learn"), std::string::npos);
}

// Cadences as exchanges send them, through the program over recordings:
// several pairs, long ones that fit twice in 12 s, a tone that never stops
// and one whose times wander from cycle to cycle.
TEST_F(CliFile, FindsAndVerifiesCadencesOfSeveralPairsLongCadencesAndContinuousTones)
{
    auto cadenceOf = [](const nlohmann::json& json) {
        std::vector<int> times;
        for (const auto& ms : json["cadence_ms"])
            times.push_back(ms.get<int>());
        return times;
    };
    auto near = [](const std::vector<int>& measured, const std::vector<int>& expected) {
        if (measured.size() != expected.size())
            return false;
        for (size_t i = 0; i < measured.size(); ++i) {
            if (std::abs(measured[i] - expected[i]) > 20)
                return false;
        }
        return true;
    };
    struct Case {
        const char* name;
        double frequency1, frequency2;
        std::vector<std::pair<int, int>> cycles; // as sent, starting mid-pattern
        std::vector<int> learnt;                 // as printed: after the longest pause
        int durationMs;
    };
    const std::vector<Case> cases = {
        {"two-pair.wav", 425, 0, {{200, 600}, {200, 200}}, {200, 200, 200, 600}, 14000},
        {"four-pair.wav", 400, 0, {{150, 150}, {300, 150}, {150, 150}, {600, 1000}}, {150, 150, 300, 150, 150, 150, 600, 1000}, 12000},
        {"long.wav", 375, 475, {{1000, 4000}}, {1000, 4000}, 12000},
        {"longer.wav", 425, 0, {{320, 4650}}, {320, 4650}, 12000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ToneSpec signal;
        signal.frequency1 = c.frequency1;
        signal.frequency2 = c.frequency2;
        signal.cycles = c.cycles;
        signal.durationMs = c.durationMs;
        signal.leadingSilenceMs = 500;
        signal.noiseDbfs = -50;
        const std::string path = Recording(c.name, signal);
        const CliResult result = RunCli({"file", path, "--json"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const nlohmann::json json = result.Json();
        EXPECT_TRUE(near(cadenceOf(json), c.learnt)) << json["cadence_ms"];
        EXPECT_FALSE(json["continuous"].get<bool>());
        EXPECT_FALSE(json["detected_at_ms"].is_null());
    }

    // The two-pair tone verified whole, and not as one of its pairs.
    const std::string twoPairs = Path("two-pair.wav");
    CliResult result = RunCli({"file", twoPairs, "--freq1", "425", "--cadence", "200,200,200,600", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GE(result.Json()["count"].get<int>(), 10);
    result = RunCli({"file", twoPairs, "--freq1", "425", "--cadence", "200,200", "--json"});
    EXPECT_EQ(result.exitCode, 4) << result.out;
    result = RunCli({"file", twoPairs, "--format", "teletone"});
    EXPECT_NE(result.out.find("Tone list: 425/"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(",425);%("), std::string::npos) << result.out;

    // A tone with no cadence.
    ToneSpec steady;
    steady.frequency1 = 425;
    steady.onMs = 0;
    steady.durationMs = 8000;
    result = RunCli({"file", Recording("steady.wav", steady), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    nlohmann::json json = result.Json();
    EXPECT_TRUE(json["continuous"].get<bool>());
    EXPECT_EQ(json["tone_list"], "425");
    EXPECT_EQ(json["teletone"], "%(1000,0,425)");

    // 350/350 wandering by up to 15 % from cycle to cycle: learnt near its
    // mean and verified by its mean within 12 s.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> wander(0.85, 1.15);
    ToneSpec jittered;
    jittered.durationMs = 12000;
    jittered.leadingSilenceMs = 300;
    for (int i = 0; i < 20; ++i)
        jittered.cycles.emplace_back(static_cast<int>(350 * wander(random)), static_cast<int>(350 * wander(random)));
    const std::string wandering = Recording("wandering.wav", jittered);
    json = RunCli({"file", wandering, "--json"}).Json();
    EXPECT_NEAR(json["on_ms"].get<int>(), 350, 35) << json.dump();
    EXPECT_NEAR(json["off_ms"].get<int>(), 350, 35) << json.dump();
    result = RunCli({"file", wandering, "--freq1", "450", "--on", "350", "--off", "350", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.out;
}

// Detected once one whole cycle has been heard: a tone, its pause and the
// next onset.
TEST_F(CliFile, DetectionComesAfterOneWholeCycle)
{
    ToneSpec signal;
    signal.durationMs = 10000;
    signal.leadingSilenceMs = 200;
    const std::string path = Recording("cn-once.wav", signal);
    const nlohmann::json json = RunCli({"file", path, "--freq1", "450", "--on", "350", "--off", "350", "--json"}).Json();
    const int detectedAt = json["detected_at_ms"].get<int>();
    EXPECT_GT(detectedAt, 200 + 700);
    EXPECT_LE(detectedAt, 200 + 700 + 60);
}
