// parvane-cli learn against every preset of the virtual adapter. Each run
// takes half a minute or more of real time, so they all run at once (they
// mostly wait for the line).

#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

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

} // namespace

TEST(CliLearn, EveryPresetsBusyToneIsLearntWithin2HzAnd20Ms)
{
    std::vector<CliProcess> processes;
    for (const PresetTone& preset : kPresets)
        processes.push_back(StartCli({"learn", std::string("--virtual-adapter=") + preset.preset, "--json"}));
    // The demo's run, as text.
    const CliProcess text = StartCli({"learn", "--virtual-adapter=cn"});
    for (size_t i = 0; i < kPresets.size(); ++i) {
        const PresetTone& preset = kPresets[i];
        const CliResult result = FinishCli(processes[i]);
        SCOPED_TRACE(preset.preset);
        ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
        const nlohmann::json json = result.Json();
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
