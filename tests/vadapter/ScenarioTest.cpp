// Scenario presets and files: what they set, and how bad ones are refused.
#include "platform/AdapterIds.h"
#include "tests/support/CapturedStderr.h"
#include "vadapter/Scenario.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

namespace parvane {
namespace {

std::string Refusal(const std::string& text)
{
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(ParseScenarioText(text, "call.ini", scenario, error)) << text;
    return error;
}

TEST(ScenarioPresets, CarryTheirCountrysRingCadenceAndBusyTone)
{
    const std::map<std::string, std::vector<uint32_t>> cadences = {
        {"us", {2000, 4000}}, {"uk", {400, 200, 400, 2000}}, {"cn", {1000, 4000}}, {"de", {1000, 4000}},
        {"fr", {1500, 3500}}, {"jp", {1000, 2000}},           {"au", {400, 200, 400, 2000}},
        {"in", {400, 200, 400, 2000}}, {"ru", {1000, 4000}}, {"br", {1000, 4000}}};
    for (const auto& [name, cadence] : cadences) {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario(name, scenario, error)) << name;
        EXPECT_EQ(scenario.ringCadenceMs, cadence) << name;
        EXPECT_EQ(scenario.source, name);
        EXPECT_EQ(scenario.vendorId, kAdapterVendorId);
        EXPECT_EQ(scenario.productId, 0x0110);
        EXPECT_EQ(scenario.model, "Tarnbox");
    }
    Scenario cn;
    std::string error;
    ASSERT_TRUE(LoadScenario("CN", cn, error));
    EXPECT_EQ(cn.presetBusyTone, "450/350,0/350");
    EXPECT_EQ(ScenarioPresets().size(), 10u);
}

TEST(ScenarioFile, SetsEveryKeyAndIgnoresCommentsAndCase)
{
    const std::string text = "; a test line\n"
                             "[Adapter]\n"
                             "vid = 0x4321            ; another vendor\n"
                             "PID=8464\n"
                             "model = DuoTarnbox\n"
                             "serial = de:ad:BE:EF:00:01\n"
                             "\n"
                             "# the caller\n"
                             "[call]\n"
                             "ring_delay = 0800\n"
                             "ringcadence = 400, 200,400,2000\n"
                             "redial = 0\n";
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenarioText(text, "/tmp/dir/call.ini", scenario, error)) << error;
    EXPECT_EQ(scenario.vendorId, 0x4321);
    EXPECT_EQ(scenario.productId, 0x2110);
    EXPECT_EQ(scenario.model, "DuoTarnbox");
    EXPECT_EQ(scenario.serial, (std::array<uint8_t, 6>{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}));
    EXPECT_EQ(scenario.ringDelayMs, 800u); // decimal, not octal
    EXPECT_EQ(scenario.ringCadenceMs, (std::vector<uint32_t>{400, 200, 400, 2000}));
    EXPECT_EQ(scenario.redialMs, 0u);
    EXPECT_EQ(scenario.directory, "/tmp/dir/");
    EXPECT_TRUE(scenario.presetBusyTone.empty());

    // Keys left out keep their defaults.
    ASSERT_TRUE(ParseScenarioText("[call]\nredial = 100\n", "x.ini", scenario, error));
    EXPECT_EQ(scenario.vendorId, kAdapterVendorId);
    EXPECT_EQ(scenario.ringDelayMs, 1000u);
    EXPECT_EQ(scenario.ringCadenceMs, (std::vector<uint32_t>{2000, 4000}));
}

TEST(ScenarioFile, RefusalsNameTheFileLineAndKey)
{
    EXPECT_EQ(Refusal("[adapter]\nvid = 1\ncolour = red\n"),
              "call.ini, line 3, key colour: unknown key in [adapter]");
    EXPECT_EQ(Refusal("[call]\n\nringcadence = 2000\n").rfind("call.ini, line 3, key ringcadence: bad value \"2000\"", 0),
              0u);
    EXPECT_NE(Refusal("[adapter]\npid = 0x10000\n").find("line 2, key pid: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nvid = -1\n").find("key vid: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nvid = 12abc\n").find("key vid: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nmodel = ElevenChars\n").find("key model: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nmodel =\n").find("key model: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nserial = 00:11:22:33:44\n").find("key serial: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[adapter]\nserial = 00:11:22:33:44:55:66\n").find("key serial"), std::string::npos);
    EXPECT_NE(Refusal("[call]\nringcadence = 1000,0\n").find("key ringcadence: bad value"), std::string::npos);
    EXPECT_NE(Refusal("[call]\nringcadence = 1000,\n").find("key ringcadence"), std::string::npos);
    EXPECT_NE(Refusal("[call]\nring_delay = 99999999999\n").find("key ring_delay"), std::string::npos);
    EXPECT_NE(Refusal("[call]\nredial = soon\n").find("key redial"), std::string::npos);
    EXPECT_NE(Refusal("[call]\nredial = 1\nredial = 2\n").find("line 3, key redial: given twice"), std::string::npos);
    EXPECT_EQ(Refusal("vid = 1\n"), "call.ini, line 1, key vid: key outside a section");
    EXPECT_EQ(Refusal("[line]\n"), "call.ini, line 1: unknown section [line]");
    EXPECT_EQ(Refusal("[call]\njust words\n"), "call.ini, line 2: expected key = value");
}

TEST(ScenarioFile, AMissingFileIsRefusedByName)
{
    Scenario scenario;
    std::string error;
    EXPECT_FALSE(LoadScenario("/nonexistent/call.ini", scenario, error));
    EXPECT_EQ(error.rfind("/nonexistent/call.ini: cannot open the scenario file", 0), 0u);
}

TEST(ScenarioFile, IsLoadedFromDisk)
{
    char path[] = "/tmp/parvane-scenario-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "[adapter]\npid = 0x2111\n[call]\nringcadence = 1000,2000\n";
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(LoadScenario(path, scenario, error)) << error;
    EXPECT_EQ(scenario.productId, 0x2111);
    EXPECT_EQ(scenario.source, path);
    std::remove(path);
}

bool g_extraKeySeen = false;
bool ApplyExtra(const std::string& value, Scenario&, std::string& error)
{
    g_extraKeySeen = value == "yes";
    if (!g_extraKeySeen)
        error = "expected yes";
    return g_extraKeySeen;
}
// Another part of the adapter adds its own key the same way.
const ScenarioKeys g_extraKeys{{"call", "test_only_key", ApplyExtra}};

TEST(ScenarioFile, OtherPartsAddTheirOwnKeys)
{
    Scenario scenario;
    std::string error;
    EXPECT_TRUE(ParseScenarioText("[call]\ntest_only_key = yes\n", "x.ini", scenario, error)) << error;
    EXPECT_TRUE(g_extraKeySeen);
    EXPECT_EQ(Refusal("[call]\ntest_only_key = no\n"),
              "call.ini, line 2, key test_only_key: bad value \"no\": expected yes");
}

TEST(VirtualAdapterInstance, ARefusedChoiceGivesNoAdapterAndSaysWhy)
{
    if (VirtualAdapterDevice::Instance() != nullptr)
        GTEST_SKIP() << "an adapter was chosen earlier in this process";
    setenv(kVirtualAdapterEnv, "/nonexistent/call.ini", 1);
    test::CapturedStderr log;
    EXPECT_EQ(ParvaneVirtualAdapter(), nullptr);
    EXPECT_EQ(ParvaneVirtualAdapter(), nullptr);
    EXPECT_EQ(log.Count("Virtual adapter: scenario refused: /nonexistent/call.ini: cannot open"), 1);
    setenv(kVirtualAdapterEnv, "ru", 1);
    ASSERT_NE(ParvaneVirtualAdapter(), nullptr);
    EXPECT_EQ(ParvaneVirtualAdapter(), VirtualAdapterDevice::Instance());
    EXPECT_EQ(VirtualAdapterDevice::Instance()->CurrentScenario().source, "ru");
    unsetenv(kVirtualAdapterEnv);
}

} // namespace
} // namespace parvane
