// The library files as the program loads them: the nine C functions, their
// refusals, and calls in any order on either copy.

#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "tests/support/CapturedStderr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using parvane::DynamicLibrary;

// The nine entry points of one loaded copy.
struct Vexlin {
    using Load = int (*)(int);
    using NoArguments = int (*)();
    using Start = int (*)(const char*, int, int, int);
    using Start2 = int (*)(const char*, int, int, int, int, int, int);
    using OnOff = int (*)(int, int);

    explicit Vexlin(const std::string& file)
    {
        if (!library.Open(GetModuleDir() + file))
            return;
        load = library.Function<Load>("VexlinLoad");
        unload = library.Function<NoArguments>("VexlinUnload");
        start = library.Function<Start>("StartVexlin");
        start2 = library.Function<Start2>("StartVexlin2");
        stop = library.Function<NoArguments>("StopVexlin");
        count = library.Function<NoArguments>("GetBusyToneCount");
        period = library.Function<NoArguments>("GetPerhapsPeriod");
        happened = library.Function<NoArguments>("IsBusyToneHappened");
        onOff = library.Function<OnOff>("SetOnOffTimeForTest");
    }
    ~Vexlin()
    {
        if (stop)
            stop();
    }
    bool Complete() const
    {
        return load && unload && start && start2 && stop && count && period && happened && onOff;
    }

    DynamicLibrary library;
    Load load = nullptr;
    NoArguments unload = nullptr, stop = nullptr, count = nullptr, period = nullptr, happened = nullptr;
    Start start = nullptr;
    Start2 start2 = nullptr;
    OnOff onOff = nullptr;
};

TEST(VexlinLibrary, BothCopiesExportTheNineFunctionsOnly)
{
    Vexlin first("Vexlin.so"), second("Vexlin_02.so");
    ASSERT_TRUE(first.library.IsOpen()) << first.library.LastError();
    ASSERT_TRUE(second.library.IsOpen()) << second.library.LastError();
    EXPECT_TRUE(first.Complete());
    EXPECT_TRUE(second.Complete());
    // Two files, two copies of every function and of the state behind them.
    EXPECT_NE(reinterpret_cast<void*>(first.start2), reinterpret_cast<void*>(second.start2));
    // What is linked in stays inside.
    for (const char* hidden : {"DebugPrint", "_ZN7parvane14GetTickCount32Ev", "_Z12GetModuleDirv"})
        EXPECT_EQ(first.library.Symbol(hidden), nullptr) << hidden;
}

TEST(VexlinLibrary, EveryCallIsSafeWithoutAStartInAnyOrder)
{
    for (const char* file : {"Vexlin.so", "Vexlin_02.so"}) {
        Vexlin vexlin(file);
        ASSERT_TRUE(vexlin.Complete()) << file;
        EXPECT_EQ(vexlin.count(), 0);
        EXPECT_EQ(vexlin.happened(), 0);
        EXPECT_EQ(vexlin.period(), 0);
        vexlin.stop();
        vexlin.stop();
        vexlin.unload();
        vexlin.load(0);
        vexlin.load(1);
        vexlin.onOff(350, 350);
        vexlin.unload();
        vexlin.unload();
        EXPECT_EQ(vexlin.count(), 0);
        EXPECT_EQ(vexlin.happened(), 0);
    }
}

TEST(VexlinLibrary, StartRefusesUndetectableTonesAndUnknownDevices)
{
    Vexlin vexlin("Vexlin.so");
    ASSERT_TRUE(vexlin.Complete());
    vexlin.load(0);
    parvane::test::CapturedStderr trace;
    vexlin.onOff(350, 350);
    EXPECT_EQ(vexlin.start2("Tarnbox", 0, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.start2("Tarnbox", 24000, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.start2("Tarnbox", 450, 30000, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.start2("No Such Adapter 7f3a", 450, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.start2(nullptr, 450, 0, 350, 0, 0, 0), 0);
    EXPECT_EQ(vexlin.start("No Such Adapter 7f3a", 450, 0, 350), 0);
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,0,0,350) refused: no first frequency (index=0)"));
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,24000,0,350) refused: frequency 24000 Hz"));
    EXPECT_TRUE(trace.Contains("StartVexlin2(Tarnbox,450,30000,350) refused: frequency 30000 Hz"));
    EXPECT_EQ(trace.Count("StartVexlin2(No Such Adapter 7f3a,450,0,350) refused: "), 2);
    EXPECT_EQ(vexlin.count(), 0);
    EXPECT_EQ(vexlin.happened(), 0);
    EXPECT_EQ(vexlin.period(), 0);
}

} // namespace
