#include "platform/DebugPrint.h"
#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "tests/support/CapturedStderr.h"

#include <gtest/gtest.h>

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
