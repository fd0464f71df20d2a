// The library files as the program loads them: the nine C functions, their
// refusals, and calls in any order on either copy.

#include "platform/AdapterIds.h"
#include "tests/support/CapturedStderr.h"
#include "tests/vexlin/VexlinLibraryFile.h"
#include "vadapter/Scenario.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using parvane::test::kVexlinPort1File;
using parvane::test::kVexlinPort2File;
using parvane::test::VexlinLibraryFile;

TEST(VexlinLibrary, BothCopiesExportTheNineFunctionsOnly)
{
    VexlinLibraryFile first, second;
    ASSERT_TRUE(first.Load(kVexlinPort1File)) << first.LastError();
    ASSERT_TRUE(second.Load(kVexlinPort2File)) << second.LastError();
    // Two files, two copies of every function and of the state behind them.
    EXPECT_NE(reinterpret_cast<void*>(first.StartVexlin2), reinterpret_cast<void*>(second.StartVexlin2));
    // What is linked in stays inside.
    for (const char* hidden : {"DebugPrint", "_ZN7parvane14GetTickCount32Ev", "_Z12GetModuleDirv"})
        EXPECT_EQ(first.Symbol(hidden), nullptr) << hidden;
}

TEST(VexlinLibrary, EveryCallIsSafeWithoutAStartInAnyOrder)
{
    for (const char* file : {kVexlinPort1File, kVexlinPort2File}) {
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
    ASSERT_TRUE(vexlin.Load(kVexlinPort1File)) << vexlin.LastError();
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

#ifndef _WIN32 // a FIFO, alarm() and a death test by fork: POSIX only
// A caller the program no longer waits for, inside a start when the process
// exits. The start is held where it reads the virtual adapter's scenario,
// a FIFO that this process writes only from an exit handler registered
// before the file was loaded: that handler runs after the file's static
// objects were destroyed, then lets the start go on and calls once more.
namespace exiting {

VexlinLibraryFile* g_vexlin = nullptr; // never closed: the caller's hold
std::thread* g_caller = nullptr;
std::atomic<int> g_heldStart{-1};
std::atomic<bool> g_callerBack{false};
int g_scenarioWriter = -1;

void AfterTheFileClosed()
{
    const char scenario[] = "[adapter]\nmodel = Tarnbox\n";
    if (write(g_scenarioWriter, scenario, sizeof scenario - 1) != static_cast<ssize_t>(sizeof scenario - 1))
        std::fprintf(stderr, "cannot write the scenario: %s\n", std::strerror(errno));
    close(g_scenarioWriter);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_callerBack && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!g_callerBack) {
        std::fprintf(stderr, "the held start never came back\n");
        _exit(3);
    }
    g_caller->join();
    const int stop = g_vexlin->StopVexlin();
    const int count = g_vexlin->GetBusyToneCount();
    const int found = g_vexlin->IsBusyToneHappened();
    const int start = g_vexlin->StartVexlin2("Tarnbox", 450, 0, 350, 0, 0, 0);
    std::fprintf(stderr, "after the close: held start %d, stop %d, count %d, found %d, start %d\n",
                 g_heldStart.load(), stop, count, found, start);
}

void ExitWithACallInside()
{
    alarm(120); // an exit that waits for the held call is killed, and fails
    char directory[] = "/tmp/parvane-vexlin-exit-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        _exit(4);
    const std::string fifo = std::string(directory) + "/scenario.ini";
    if (mkfifo(fifo.c_str(), 0600) != 0)
        _exit(4);
    setenv(parvane::kVirtualAdapterEnv, fifo.c_str(), 1);
    // The virtual adapter stands in for hardware, which outlives the
    // process: its tables are made before the exit handler is registered, so
    // they are destroyed only after it.
    parvane::Scenario unused;
    std::string error;
    parvane::LoadScenario("cn", unused, error);
    std::atexit(AfterTheFileClosed);

    g_vexlin = new VexlinLibraryFile;
    if (!g_vexlin->Load(kVexlinPort1File))
        _exit(5);
    g_vexlin->SetOnOffTimeForTest(350, 350);
    g_caller = new std::thread([] {
        g_heldStart = g_vexlin->StartVexlin2("Tarnbox", 450, 0, 350, 0, 0, 0);
        g_callerBack = true;
    });
    // A writer can open the FIFO once the start has opened it to read.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((g_scenarioWriter = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    unlink(fifo.c_str());
    rmdir(directory);
    if (g_scenarioWriter < 0) {
        std::fprintf(stderr, "the start never read the scenario\n");
        _exit(6);
    }
    std::exit(0);
}

} // namespace exiting

// The start that was inside is refused (its capture ended as it came back),
// and so is every call after the close, without touching the state.
TEST(VexlinLibraryDeathTest, ACallStillInsideAtExitOutlivesTheLibrarysClose)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exiting::ExitWithACallInside(), ::testing::ExitedWithCode(0),
                "closing while a call is still inside it.*"
                "StartVexlin2\\(Tarnbox,450,0,350\\) refused: the library is being unloaded \\(index=0\\).*"
                "after the close: held start 0, stop 1, count 0, found 0, start 0");
}

#endif

} // namespace
