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
