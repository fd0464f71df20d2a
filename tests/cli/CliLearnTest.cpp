// parvane-cli learn against every preset of the virtual adapter, and lines
// with other cadences. Each run takes a quarter of a minute or more of real
// time, so they all run at once (they mostly wait for the line).

#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace parvane::cli::test;

namespace {

struct PresetTone {
    const char* preset;
    std::vector<int> frequencies;
    int onMs;
    int offMs;
};

// The presets' busy tones as published.
const std::vector<PresetTone> kPresets = {
    {"us", {480, 620}, 500, 500}, {"uk", {400}, 375, 375}, {"cn", {450}, 350, 350}, {"de", {425}, 480, 480},
    {"fr", {440}, 500, 500},      {"jp", {400}, 500, 500}, {"au", {425}, 375, 375}, {"in", {400}, 750, 750},
    {"ru", {425}, 350, 350},      {"br", {425}, 250, 250},
};

// How often the line was taken off-hook, from the trace of a --verbose run.
int Answers(const std::string& trace)
{
    int answers = 0;
    for (size_t at = trace.find("DaaSetOffhook"); at != std::string::npos; at = trace.find("DaaSetOffhook", at + 1))
        ++answers;
    return answers;
}

std::string Scenario(const std::string& directory, const std::string& name, const std::string& tone)
{
    const std::string path = directory + "/" + name;
    std::ofstream(path) << "[call]\ntone = " << tone << "\nnoise = -60\n";
    return path;
}

} // namespace

TEST(CliLearn, EveryPresetsBusyToneIsLearntWithin2HzAnd20Ms)
{
    std::vector<CliProcess> processes;
    for (const PresetTone& preset : kPresets)
        processes.push_back(
            StartCli({"learn", std::string("--virtual-adapter=") + preset.preset, "--json", "--verbose"}));
    // The demo's run, as text.
    const CliProcess text = StartCli({"learn", "--virtual-adapter=cn"});
    for (size_t i = 0; i < kPresets.size(); ++i) {
        const PresetTone& preset = kPresets[i];
        const CliResult result = FinishCli(processes[i]);
        SCOPED_TRACE(preset.preset);
        ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
        // Learnt and verified on the one call.
        EXPECT_EQ(Answers(result.err), 1);
        const nlohmann::json json = result.Json();
        std::printf("%s: learnt %.1f s after the answer\n", preset.preset,
                    json["answer_to_result_ms"].get<int>() / 1000.0);
        if (std::string(preset.preset) == "cn") {
            EXPECT_LE(json["answer_to_result_ms"].get<int>(), 15000);
        }
        ASSERT_EQ(json["frequencies_hz"].size(), preset.frequencies.size()) << json.dump();
        for (size_t f = 0; f < preset.frequencies.size(); ++f)
            EXPECT_LE(std::abs(json["frequencies_hz"][f].get<int>() - preset.frequencies[f]), 2) << json.dump();
        EXPECT_LE(std::abs(json["on_ms"].get<int>() - preset.onMs), 20) << json.dump();
        EXPECT_LE(std::abs(json["off_ms"].get<int>() - preset.offMs), 20) << json.dump();
        EXPECT_TRUE(json["verified"].get<bool>());
        std::string list;
        for (const auto& frequency : json["frequencies_hz"])
            list += (list.empty() ? "" : "+") + std::to_string(frequency.get<int>());
        list += "/" + std::to_string(json["on_ms"].get<int>()) + ",0/" + std::to_string(json["off_ms"].get<int>());
        EXPECT_EQ(json["tone_list"], list);
        EXPECT_EQ(json["busy_line"], "busy = " + list);
    }
    const CliResult result = FinishCli(text);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Busy tone: 450 Hz, 350 ms on, 350 ms off (verified"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("busy = 450/350,0/350"), std::string::npos) << result.out;
}

// A two-pair cadence and a continuous tone learnt on one call each; the
// two-pair one verified whole by verify --cadence, and not as one pair.
TEST(CliLearn, CadencesOfSeveralPairsAndContinuousTonesOnTheLine)
{
    const std::string directory = TemporaryDirectory();
    const std::string twoPairs = Scenario(directory, "two-pairs.ini", "425/200,0/200,425/200,0/600");
    const std::string steady = Scenario(directory, "steady.ini", "425");
    const CliProcess learnPairs =
        StartCli({"learn", "--virtual-adapter=" + twoPairs, "--json", "--verbose", "--format", "busypattern"});
    const CliProcess learnSteady = StartCli({"learn", "--virtual-adapter=" + steady, "--format", "teletone"});
    const CliProcess verifyWhole =
        StartCli({"verify", "--virtual-adapter=" + twoPairs, "--freq1", "425", "--cadence", "200,200,200,600", "--json"});
    const CliProcess verifyHalf = StartCli(
        {"verify", "--virtual-adapter=" + twoPairs, "--freq1", "425", "--cadence", "200,200", "--seconds", "15", "--json"});

    CliResult result = FinishCli(learnPairs);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    EXPECT_EQ(Answers(result.err), 1);
    nlohmann::json json = result.Json();
    ASSERT_EQ(json["cadence_ms"].size(), 4u) << json.dump();
    const int expected[] = {200, 200, 200, 600};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(json["cadence_ms"][i].get<int>(), expected[i], 20) << json.dump();
    EXPECT_TRUE(json["verified"].get<bool>());
    EXPECT_EQ(json["busypattern"].get<std::string>().rfind("busydetect=yes\nbusycount=4\nbusypattern=", 0), 0u);

    result = FinishCli(learnSteady);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    EXPECT_NE(result.out.find("Busy tone: 425 Hz, continuous (verified"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("%(1000,0,425)"), std::string::npos) << result.out;

    result = FinishCli(verifyWhole);
    EXPECT_EQ(result.exitCode, 0) << result.err << result.out;
    EXPECT_TRUE(result.Json()["found"].get<bool>());
    result = FinishCli(verifyHalf);
    EXPECT_EQ(result.exitCode, 4) << result.err << result.out;
    for (const char* name : {"two-pairs.ini", "steady.ini"})
        std::remove((directory + "/" + name).c_str());
    ::rmdir(directory.c_str());
}
