// parvane-cli on a line: the subcommands run as programs against the virtual
// adapter, in real time (a call rings about a second after start-up and is
// answered two seconds after its ring is confirmed).

#include "tests/cli/CliTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace parvane::cli::test;

TEST(CliLine, InfoNamesTheAdapter)
{
    const CliResult result = RunCli({"info", "--virtual-adapter=cn", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_EQ(json["vendor_id"], "0x1234");
    EXPECT_EQ(json["product_id"], "0x0110");
    EXPECT_EQ(json["model"], "Tarnbox");
    EXPECT_EQ(json["serial"], "00:11:22:33:44:55");
    EXPECT_EQ(json["virtual"], true);

    const CliResult text = RunCli({"info", "--virtual-adapter=uk"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Model: Tarnbox"), std::string::npos) << text.out;
}

TEST(CliLine, NoAdapterExitsWithThree)
{
    // No virtual adapter and (on a build machine) no hardware; another
    // vendor id than the adapter's; a scenario that is refused.
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/bad.ini";
    std::ofstream(scenario) << "[adapter]\nmodel = Tarnbox\ncolour = blue\n";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"info", "--virtual-adapter=cn", "--vendor-id", "0x4321"},
          std::vector<std::string>{"learn", "--virtual-adapter=" + scenario, "--json"},
          std::vector<std::string>{"analyze", "--virtual-adapter=atlantis"}}) {
        const CliResult result = RunCli(arguments);
        EXPECT_EQ(result.exitCode, 3) << arguments[1] << "\n" << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_FALSE(result.err.empty());
    }
    // Not found says so, then on a line of its own what to try next.
    const CliResult absent = RunCli({"info", "--virtual-adapter=cn", "--vendor-id", "0x4321"});
    EXPECT_NE(absent.err.find("parvane-cli: Hardware is not found\nparvane-cli: Next: `parvane-cli probe`"),
              std::string::npos)
        << absent.err;
    for (const char* step : {"install-udev", "--virtual-adapter"})
        EXPECT_NE(absent.err.find(step), std::string::npos) << step << "\n" << absent.err;
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}

TEST(CliLine, AnalyzeListsTheLinesToneWithCountsAndCadence)
{
    const CliResult result = RunCli({"analyze", "--virtual-adapter=cn", "--seconds", "4", "--buffer", "16K", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_EQ(json["block_bytes"], 16384);
    ASSERT_FALSE(json["candidates"].empty());
    // 4096-frame blocks: 11.7 Hz bins; 450 Hz is named 445 or 457.
    EXPECT_NEAR(json["candidates"][0]["frequency_hz"].get<int>(), 450, 6);
    EXPECT_GE(json["candidates"][0]["count"].get<int>(), 5);
    EXPECT_EQ(json["frequencies_hz"], nlohmann::json::array({450}));
    EXPECT_NEAR(json["on_ms"].get<int>(), 350, 20);
    EXPECT_NEAR(json["off_ms"].get<int>(), 350, 20);
    EXPECT_GT(json["change_log"]["changes"].get<int>(), 4);
}

TEST(CliLine, VerifyConfirmsTheRightToneAndNotAWrongOne)
{
    CliProcess right = StartCli({"verify", "--virtual-adapter=cn", "--freq1", "450", "--on", "350", "--off", "350"});
    CliProcess wrong = StartCli(
        {"verify", "--virtual-adapter=cn", "--freq1", "450", "--on", "500", "--off", "500", "--seconds", "6", "--json"});
    const CliResult confirmed = FinishCli(right);
    ASSERT_EQ(confirmed.exitCode, 0) << confirmed.err;
    // The status line once a second, then the verdict.
    EXPECT_NE(confirmed.out.find("No busy tone detected yet (count"), std::string::npos) << confirmed.out;
    EXPECT_NE(confirmed.out.find("Busy tone matches the figures entered"), std::string::npos) << confirmed.out;
    EXPECT_NE(confirmed.out.find("Busy tone confirmed"), std::string::npos) << confirmed.out;

    const CliResult refused = FinishCli(wrong);
    EXPECT_EQ(refused.exitCode, 4) << refused.err;
    const nlohmann::json json = refused.Json();
    EXPECT_FALSE(json["found"].get<bool>());
    EXPECT_EQ(json["frequencies_hz"], nlohmann::json::array({450}));
    EXPECT_EQ(json["on_ms"], 500);
    EXPECT_NE(json["status"].get<std::string>().find("No busy tone detected yet"), std::string::npos);
}

TEST(CliLine, PeriodMeasuresTheCadence)
{
    const CliResult result = RunCli({"period", "--virtual-adapter=uk", "--freq1", "400", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_TRUE(json["found"].get<bool>());
    EXPECT_NEAR(json["period_ms"].get<int>(), 375, 20);
    EXPECT_GE(json["count"].get<int>(), 2);
    EXPECT_FALSE(json.contains("on_ms"));
}

TEST(CliLine, ASilentLineHasNoTone)
{
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/silent.ini";
    std::ofstream(scenario) << "[call]\ntone = 0\n";
    const CliResult result = RunCli({"analyze", "--virtual-adapter=" + scenario, "--seconds", "3", "--json"});
    EXPECT_EQ(result.exitCode, 4) << result.err;
    const nlohmann::json json = result.Json();
    EXPECT_TRUE(json["candidates"].empty());
    EXPECT_TRUE(json["frequencies_hz"].empty());
    EXPECT_TRUE(json["on_ms"].is_null());
    EXPECT_TRUE(json["off_ms"].is_null());
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}

// The adapter pulled out 1.5 s after each mode's answer: the reason on
// stderr, exit 3 (no adapter), and no verdict.
TEST(CliLine, UnplugMidRunEndsEachModeWithItsReason)
{
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/unplug.ini";
    std::ofstream(scenario) << "[adapter]\nunplug_after_answer = 1500\n[call]\ntone = 450/350,0/350\n";
    const std::string adapter = "--virtual-adapter=" + scenario;
    const std::vector<std::vector<std::string>> commands = {
        {"analyze", adapter, "--seconds", "20"},
        {"verify", adapter, "--freq1", "450", "--on", "350", "--off", "350", "--seconds", "20"},
        {"period", adapter, "--freq1", "450", "--seconds", "20", "--json"},
    };
    std::vector<CliProcess> running;
    for (const auto& command : commands)
        running.push_back(StartCli(command));
    for (size_t i = 0; i < running.size(); ++i) {
        const CliResult result = FinishCli(running[i]);
        EXPECT_EQ(result.exitCode, 3) << commands[i][0] << "\n" << result.err;
        EXPECT_NE(result.err.find("The adapter was unplugged"), std::string::npos) << result.err;
        EXPECT_EQ(result.out.find("Busy tone"), std::string::npos) << result.out;
        EXPECT_EQ(result.out.find("{"), std::string::npos) << result.out;
    }
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}

// A tone-detection library that refuses the request: the reason and exit 1
// at once, not the whole run's wait and "no tone".
TEST(CliLine, RefusedDetectionEndsTheRunWithItsReason)
{
    const CliResult result =
        RunCli({"verify", "--virtual-adapter=cn", "--freq1", "5", "--on", "350", "--off", "350", "--seconds", "30"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("the tone-detection library refused to start"), std::string::npos) << result.err;
}

TEST(CliLine, ProbeFindsTheAdapterUnderAnotherVendorIdAndNamesIt)
{
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/other-vendor.ini";
    std::ofstream(scenario) << "[adapter]\nvid = 0x2345\npid = 0x2111\n";
    const CliResult json = RunCli({"probe", "--virtual-adapter=" + scenario, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.Json()["vendor_id"], "0x2345");
    ASSERT_EQ(json.Json()["devices"].size(), 1u);
    EXPECT_EQ(json.Json()["devices"][0]["product_id"], "0x2111");
    EXPECT_EQ(json.Json()["devices"][0]["answer"], "adapter");

    const CliResult text = RunCli({"probe", "--virtual-adapter=" + scenario});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Use --vendor-id 0x2345"), std::string::npos) << text.out;
    // The built-in vendor id does not reach it; the one probe named does.
    EXPECT_EQ(RunCli({"info", "--virtual-adapter=" + scenario}).exitCode, 3);
    EXPECT_EQ(RunCli({"info", "--virtual-adapter=" + scenario, "--vendor-id", "0x2345"}).exitCode, 0);
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}

// Mended: with no sound card by the model's name the capture never opened,
// and the run waited out its time to report "no tone was heard" (exit 4).
// It fails at once, naming the name it looked for and the devices there are.
TEST(CliLine, NoSoundCardByTheModelNameIsAFailureThatNamesIt)
{
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/other-card.ini";
    std::ofstream(scenario) << "[adapter]\naudio_name = Onboard Analog Stereo\n[call]\ntone = 450/350,0/350\n";
    for (const char* command : {"analyze", "learn"}) {
        const CliResult result = RunCli({command, "--virtual-adapter=" + scenario, "--wait", "20"});
        EXPECT_EQ(result.exitCode, 1) << command << ": " << result.err;
        EXPECT_NE(result.err.find("the line audio cannot be captured: no audio input device carries the model name "
                                  "\"Tarnbox\" (input devices: \"Onboard Analog Stereo\")"),
                  std::string::npos)
            << command << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << command << ": " << result.out;
    }
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}

// Mended: a call the adapter never took off-hook was analysed as silence and
// reported as "no tone" (exit 4).
TEST(CliLine, ALineThatCannotBeAnsweredIsAFailureNotAResult)
{
    const std::string directory = TemporaryDirectory();
    const std::string scenario = directory + "/lost-answer.ini";
    std::ofstream(scenario) << "[adapter]\nlose_answer = 1\n[call]\ntone = 450/350,0/350\n";
    const CliResult result = RunCli({"analyze", "--virtual-adapter=" + scenario, "--seconds", "2"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("The line could not be answered"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    std::remove(scenario.c_str());
    ::rmdir(directory.c_str());
}
