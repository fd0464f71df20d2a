// The library files as the program loads them: the nine C functions, their
// refusals, and calls in any order on either copy.

#include "tests/support/CapturedStderr.h"
#include "tests/vexlin/VexlinLibraryFile.h"

#include <gtest/gtest.h>

namespace {

using parvane::test::VexlinLibraryFile;

TEST(VexlinLibrary, BothCopiesExportTheNineFunctionsOnly)
{
    VexlinLibraryFile first, second;
    ASSERT_TRUE(first.Load("Vexlin.so")) << first.LastError();
    ASSERT_TRUE(second.Load("Vexlin_02.so")) << second.LastError();
    // Two files, two copies of every function and of the state behind them.
    EXPECT_NE(reinterpret_cast<void*>(first.StartVexlin2), reinterpret_cast<void*>(second.StartVexlin2));
    // What is linked in stays inside.
    for (const char* hidden : {"DebugPrint", "_ZN7parvane14GetTickCount32Ev", "_Z12GetModuleDirv"})
        EXPECT_EQ(first.Symbol(hidden), nullptr) << hidden;
}

TEST(VexlinLibrary, EveryCallIsSafeWithoutAStartInAnyOrder)
{
    for (const char* file : {"Vexlin.so", "Vexlin_02.so"}) {
        VexlinLibraryFile vexlin;
        ASSERT_TRUE(vexlin.Load(file)) << file;
        EXPECT_EQ(vexlin.GetBusyToneCount(), 0);
        EXPECT_EQ(vexlin.IsBusyToneHappened(), 0);
        EXPECT_EQ(vexlin.GetPerhapsPeriod(), 0);
        vexlin.StopVexlin();
        vexlin.StopVexlin();
        vexlin.VexlinUnload();
        vexlin.VexlinLoad(0);
        vexlin.VexlinLoad(1);
        vexlin.SetOnOffTimeForTest(350, 350);
        vexlin.VexlinUnload();
        vexlin.VexlinUnload();
        EXPECT_EQ(vexlin.GetBusyToneCount(), 0);
        EXPECT_EQ(vexlin.IsBusyToneHappened(), 0);
    }
}

TEST(VexlinLibrary, StartRefusesUndetectableTonesAndUnknownDevices)
{
    VexlinLibraryFile vexlin;
    ASSERT_TRUE(vexlin.Load("Vexlin.so")) << vexlin.LastError();
    vexlin.VexlinLoad(0);
    parvane::test::CapturedStderr trace;
    vexlin.SetOnOffTimeForTest(350, 350);
    EXPECT_EQ(vexlin.StartVexlin2("Tarnbox", 0, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.StartVexlin2("Tarnbox", 24000, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.StartVexlin2("Tarnbox", 450, 30000, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.StartVexlin2("No Such Adapter 7f3a", 450, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.StartVexlin2(nullptr, 450, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.StartVexlin("No Such Adapter 7f3a", 450, 0, 350), 0);
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,0,0,350) refused: no first frequency (index=0)"));
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,24000,0,350) refused: frequency 24000 Hz"));
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,450,30000,350) refused: frequency 30000 Hz"));
    EXPECT_EQ(trace.Count("StartVexlin2(No Such Adapter 7f3a,450,0,350) refused: "), 2);
    EXPECT_EQ(vexlin.GetBusyToneCount(), 0);
    EXPECT_EQ(vexlin.IsBusyToneHappened(), 0);
    EXPECT_EQ(vexlin.GetPerhapsPeriod(), 0);
}

} // namespace
