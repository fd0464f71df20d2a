#include "platform/AdapterNodes.h"
#include "platform/DebugPrint.h"
#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "tests/support/CapturedStderr.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(DebugOutput, OneLinePerCallCutAt15999Characters)
{
    std::vector<std::string> lines;
    auto previous = parvane::SetDebugSink([&](const std::string& line) { lines.push_back(line); });
    DebugPrint("FXO:Vid = 0x%x,PID = 0x%x\n", 0x1234, 0x110);
    DebugPrint("%s", std::string(20000, 'x').c_str());
    parvane::SetDebugSink(previous);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "FXO:Vid = 0x1234,PID = 0x110");
    EXPECT_EQ(lines[1].size(), 15999u);
}

TEST(DebugOutput, GoesToStderrWithoutASink)
{
    parvane::test::CapturedStderr captured;
    DebugOutput("UsbHidOpen: plug now = 1\n");
    EXPECT_EQ(captured.Lines(), std::vector<std::string>{"UsbHidOpen: plug now = 1"});
}

TEST(Tick, AdvancesAcrossASleep)
{
    const uint32_t before = parvane::GetTickCount32();
    parvane::SleepMs(30);
    EXPECT_GE(static_cast<uint32_t>(parvane::GetTickCount32() - before), 30u);
}

TEST(ModuleDir, EndsWithSlashAndCanBeOverridden)
{
    const std::string dir = GetModuleDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    parvane::SetModuleDirForTest("/tmp/somewhere");
    EXPECT_EQ(GetModuleDir(), "/tmp/somewhere/");
    parvane::SetModuleDirForTest("");
    EXPECT_EQ(GetModuleDir(), dir);
}

TEST(DynamicLibrary, MissingFileAndMissingSymbol)
{
    parvane::DynamicLibrary library;
    EXPECT_FALSE(library.Open("/nonexistent/FXO.so"));
    EXPECT_FALSE(library.LastError().empty());
    EXPECT_EQ(library.Symbol("ZorvLoad"), nullptr);
    ASSERT_TRUE(library.Open("libm.so.6"));
    EXPECT_NE(library.Symbol("cos"), nullptr);
    EXPECT_EQ(library.Symbol("NoSuchFunction"), nullptr);
}

} // namespace

namespace parvane {
namespace {

TEST(AdapterNodes, TakesOnlyTheInterfaceWithTheAdaptersFeatureReport)
{
    // The adapter: vendor page, 8 x 8-bit feature report, no report id.
    const std::vector<uint8_t> adapter = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x01, 0x15, 0x00, 0x26,
                                          0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0};
    EXPECT_TRUE(DescriptorHasFeatureReport(adapter, 8));
    EXPECT_FALSE(DescriptorHasFeatureReport(adapter, 9));
    // Consumer keys: an input report only.
    const std::vector<uint8_t> keys = {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75,
                                       0x01, 0x95, 0x08, 0x09, 0xE9, 0x81, 0x02, 0xC0};
    EXPECT_FALSE(DescriptorHasFeatureReport(keys, 8));
    // A descriptor cut off inside an item is read up to there, not past it.
    EXPECT_FALSE(DescriptorHasFeatureReport({0x75, 0x08, 0x96, 0x08}, 8));
    EXPECT_FALSE(DescriptorHasFeatureReport({0xFE, 0x40}, 8));
}

TEST(AdapterNodes, NamesANodeThatCannotBeOpenedWithTheFix)
{
    EXPECT_EQ(AdapterAccessProblem({}), "");
    EXPECT_EQ(AdapterAccessProblem({{"/dev/hidraw3", 0x1234, 0x0110, 0}}), "");
    const std::string problem = AdapterAccessProblem({{"/dev/hidraw3", 0x1234, 0x2110, EACCES}});
    EXPECT_NE(problem.find("/dev/hidraw3"), std::string::npos) << problem;
    EXPECT_NE(problem.find("1234:2110"), std::string::npos) << problem;
    EXPECT_NE(problem.find("Permission denied"), std::string::npos) << problem;
    EXPECT_NE(problem.find("make install-udev"), std::string::npos) << problem;
}

// Presence is read from the kernel's listing alone: a node that is listed
// but cannot be opened (here: no such /dev node at all) is present; another
// bus, vendor or product is not.
TEST(AdapterNodes, PresentWhenListedWhetherOrNotTheNodeOpens)
{
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("parvane-hidraw-" + std::to_string(getpid()));
    const auto node = [&root](const std::string& name, const std::string& hidId) {
        std::filesystem::create_directories(root / name / "device");
        std::ofstream(root / name / "device" / "uevent") << "DRIVER=hid-generic\nHID_ID=" << hidId << "\n";
    };
    node("hidraw971", "0003:00001234:00000110");
    node("hidraw972", "0005:00001234:00002110"); // Bluetooth
    const std::string sys = root.string();
    EXPECT_TRUE(AdapterPresent(0x1234, 0x0110, sys));
    EXPECT_FALSE(AdapterPresent(0x1234, 0x2110, sys));
    EXPECT_FALSE(AdapterPresent(0x1235, 0x0110, sys));
    const uint16_t ids[] = {0x0110};
    const std::vector<AdapterNode> found = FindAdapterNodes(0x1234, ids, sys);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, "/dev/hidraw971");
    EXPECT_EQ(found[0].openError, ENOENT);
    std::filesystem::remove_all(root);
    EXPECT_FALSE(AdapterPresent(0x1234, 0x0110, sys));
}

} // namespace
} // namespace parvane

namespace {

// The test registration gives every test its environment: offscreen drawing,
// and the virtual adapter's country cleared, so a caller who exported one for
// the programs still gets the same results from the suite. Run through ctest.
TEST(TestRegistration, EnvironmentReachesTheTests)
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    ASSERT_NE(platform, nullptr) << "QT_QPA_PLATFORM was not set by the test's properties";
    EXPECT_STREQ(platform, "offscreen");
    const char* country = std::getenv("PARVANE_VIRTUAL_ADAPTER");
    ASSERT_NE(country, nullptr) << "PARVANE_VIRTUAL_ADAPTER was not cleared by the test's properties";
    EXPECT_STREQ(country, "") << "the caller's PARVANE_VIRTUAL_ADAPTER reached the test";
}

} // namespace
