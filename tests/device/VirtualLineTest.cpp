// The device object against the real FXO library and the virtual adapter:
// the adapter search, the DAA start-up with a retry, the LED, and real ring
// cadences watched by the device thread in real time.
#include "device/DeviceOper.h"
#include "platform/AdapterIds.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "tests/device/DeviceTestSupport.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <ostream>
#include <thread>

namespace {

using parvane::VirtualAdapterDevice;
using parvane::test::CountingRequester;
using parvane::test::TraceLines;
using Clock = std::chrono::steady_clock;

// Chooses the virtual adapter with this preset or scenario file, fresh.
VirtualAdapterDevice* ChooseAdapter(const std::string& presetOrPath)
{
    setenv(parvane::kVirtualAdapterEnv, presetOrPath.c_str(), 1);
    VirtualAdapterDevice* adapter = VirtualAdapterDevice::Instance();
    EXPECT_NE(adapter, nullptr);
    if (adapter != nullptr) {
        std::string error;
        EXPECT_TRUE(adapter->ResetFromEnvironment(&error)) << error;
    }
    return adapter;
}

// A port-1 device object on the program directory's own FXO.so, opened.
void Open(CDeviceOper& device)
{
    device.SetPortIndex(0);
    device.m_wVendorId = parvane::kAdapterVendorId;
    device.LoadDlls(); // the detection library may be absent here
    ASSERT_EQ(device.m_bDllsLoaded, 1);
    ASSERT_EQ(device.OpenFirstAdapter(parvane::kAdapterProductIds), 1);
}

// Open, with the DAA up, and a library call that does not come back given
// up on after 200 ms (the kernel's own limit is seconds).
void OpenWithShortStuckWait(CDeviceOper& device)
{
    ASSERT_NO_FATAL_FAILURE(Open(device));
    ASSERT_EQ(device.InitializeDaa(), 1);
    device.SetStuckCallWaitForTest(200);
}

TEST(VirtualLine, AdapterAnsweringOnlyTheThirdIdIsFoundOnTheThirdTry)
{
    const std::string scenario = std::filesystem::temp_directory_path() / "parvane-device-2111.ini";
    std::ofstream(scenario) << "[adapter]\npid = 0x2111\nmodel = DuoTarnbox\n";
    VirtualAdapterDevice* adapter = ChooseAdapter(scenario);
    ASSERT_NE(adapter, nullptr);

    TraceLines trace;
    CDeviceOper device;
    ASSERT_NO_FATAL_FAILURE(Open(device));
    EXPECT_EQ(device.m_wProductId, 0x2111);
    std::vector<std::string> search;
    for (const auto& line : trace.Lines())
        if (line.find("dll handle") != std::string::npos)
            search.push_back(line);
    EXPECT_EQ(search, (std::vector<std::string>{"************* Start reset dll handle (index=0)*************",
                                                 "************* Start reset dll handle (index=0)*************",
                                                 "************* Start init dll handle (index=0)*************"}));
    EXPECT_EQ(adapter->OpenHandleCount(), 1);

    uint16_t cells[CDeviceATABase::kModelNameCells] = {};
    device.Binding().ReadModelName(cells);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(cells), 10).c_str(), std::u16string(u"DuoTarnbox"));
    std::filesystem::remove(scenario);

    // With nothing plugged in, every id fails.
    adapter->Unplug();
    EXPECT_EQ(device.OpenFirstAdapter(parvane::kAdapterProductIds), 0);
}

TEST(VirtualLine, DaaFailingOnceIsReadyOnTheSecondAttempt)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    CDeviceOper device;
    ASSERT_NO_FATAL_FAILURE(Open(device));
    adapter->FailDaaStartups(1);

    TraceLines trace;
    const auto before = Clock::now();
    EXPECT_EQ(device.InitializeDaa(), 1);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(100 + 90 + 5000 + 100 + 90));
    EXPECT_EQ(trace.Count("Error: Port1 FupInitDaa failed ,retry initial"), 1);
    EXPECT_EQ(trace.Count("FupInitDaa success, index=0"), 1);
    EXPECT_EQ(device.m_bDaaReady, 1);
    EXPECT_TRUE(adapter->LedOn());

    // The LED state keeps the argument while the adapter sees on or off.
    device.Binding().FupLedSwitch(0);
    EXPECT_FALSE(adapter->LedOn());
    EXPECT_EQ(device.Binding().FupLedSwitch(5), 1);
    EXPECT_TRUE(adapter->LedOn());
    EXPECT_EQ(device.Binding().LedState(), 5);

    // At exit: stop (LED off) and reset the adapter controller.
    EXPECT_EQ(device.Stop(), 0);
    EXPECT_FALSE(adapter->LedOn());
    device.ResetHardware();
    EXPECT_EQ(adapter->ControllerRegister(10), 0xF7);
}

// Once its device object closes, the binding leaves the adapter alone.
TEST(VirtualLine, AClosingBindingCallsTheLibraryNoMore)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    CDeviceOper device;
    ASSERT_NO_FATAL_FAILURE(Open(device));
    ASSERT_EQ(device.InitializeDaa(), 1);
    TraceLines trace;
    adapter->ClearLogs();
    device.Binding().BeginTeardown();
    EXPECT_EQ(device.Binding().DaaSetOffhook(), 0);
    EXPECT_EQ(device.Binding().ZorvLoad(parvane::kAdapterVendorId, device.m_wProductId), 0);
    EXPECT_FALSE(adapter->IsOffHook());
    EXPECT_TRUE(adapter->Reports().empty());
    EXPECT_EQ(trace.Count("The device is closing: m_pDaaSetOffhookExp is not called (index=0)"), 1);
    EXPECT_EQ(trace.Count("The device is closing: m_pZorvLoadExp is not called (index=0)"), 1);
}

// The device thread inside a report exchange that does not come back (the
// kernel gives up on one only after seconds, and a pass may make several):
// closing the device object must not wait for it, and when the exchange
// finally returns, the thread must touch nothing that closing freed or
// unloaded (AddressSanitizer watches this test).
TEST(VirtualLine, ClosingLeavesAThreadStuckInTheLibraryParked)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    TraceLines trace;
    auto device = std::make_unique<CDeviceOper>();
    ASSERT_NO_FATAL_FAILURE(OpenWithShortStuckWait(*device));
    adapter->HoldExchanges();
    ASSERT_EQ(device->StartThread(), 1);
    ASSERT_TRUE(adapter->WaitForHeldExchange(5000));

    // Closing as the front ends do, with a watchdog, so that a close waiting
    // for the exchange fails the test instead of hanging it.
    auto closing = std::async(std::launch::async, [&device] {
        device->Stop();
        device->Binding().FupLedSwitch(0);
        device->ResetHardware();
        device.reset();
    });
    const bool closed = closing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    adapter->ReleaseExchanges();
    closing.wait();
    ASSERT_TRUE(closed) << "closing waited for the stuck exchange";
    // The first call waits for the library, the rest see it stuck.
    EXPECT_EQ(trace.Count("The FXO library has not come back from a call for 200 ms: m_pFupLedSwitchExp is not "
                          "called (index=0)"),
              1);
    EXPECT_EQ(trace.Count("The FXO library is stuck in a call: m_pFupLedSwitchExp is not called (index=0)"), 1);
    EXPECT_EQ(trace.Count("ResetHardware: the device thread is stuck in the FXO library; the adapter is not reset "
                          "(index=0)"),
              1);
    EXPECT_EQ(trace.Count("The device thread is still inside the FXO library; it is left there, and the library "
                          "stays loaded for it (index=0)"),
              1);

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (trace.CountContaining("came back from the FXO library after its device was closed") == 0 &&
           Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(trace.CountContaining("came back from the FXO library after its device was closed"), 1);
    const std::string library = GetModuleDir() + CDeviceOper::kFxoLibraryPort1;
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(handle, nullptr) << "the library stays loaded for the parked thread";
    if (handle != nullptr)
        dlclose(handle);
    adapter->ClearLogs();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(adapter->Reports().empty()) << "nothing more reaches the adapter";
}

// Waits up to the time given for the condition, in real time.
bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The line watch follows the adapter by its listing: a node it may not open
// just now (udev still setting its permissions, another program holding it)
// is still plugged in, while an unplug is noticed. An adapter that comes back
// is opened through the library, so closing gives up on an open that does
// not come back instead of waiting for it.
TEST(VirtualLine, PresenceIsTheListingAndClosingDoesNotWaitForTheComebackOpen)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    TraceLines trace;
    auto device = std::make_unique<CDeviceOper>();
    ASSERT_NO_FATAL_FAILURE(OpenWithShortStuckWait(*device));
    ASSERT_EQ(device->StartThread(), 1);

    adapter->RefuseOpens(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * CDeviceOper::kPresenceCheckMs));
    EXPECT_EQ(device->m_bAdapterPresent, 1);
    EXPECT_EQ(trace.CountContaining("The adapter was unplugged"), 0);

    adapter->Unplug();
    ASSERT_TRUE(Eventually([&] { return device->m_bAdapterPresent == 0; }, std::chrono::seconds(5)));
    adapter->HoldOpens();
    adapter->Replug();
    ASSERT_TRUE(adapter->WaitForHeldExchange(5000)); // the open of the adapter that came back

    auto closing = std::async(std::launch::async, [&device] { return device->Close(); });
    const bool closed = closing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    adapter->ReleaseExchanges();
    ASSERT_TRUE(closed) << "closing waited for the open";
    EXPECT_FALSE(closing.get()) << "the thread inside the open is parked";
    EXPECT_TRUE(Eventually(
        [&] { return trace.CountContaining("came back from the FXO library after its device was closed") == 1; },
        std::chrono::seconds(5)));
    adapter->RefuseOpens(false);
    device.reset(); // keeps what the parked thread holds
}

// The wait before the DAA start-up's second attempt ends when the device
// closes: a line watch bringing a replugged adapter up is not left in it
// while closing waits, nor does it make an attempt closing would refuse.
TEST(VirtualLine, ClosingEndsTheWaitBeforeTheDaaRetry)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    TraceLines trace;
    std::atomic<uint32_t> slept{0};
    CDeviceOper device(DeviceClock{&parvane::GetTickCount32, [&slept](uint32_t milliseconds) {
                                       slept += milliseconds;
                                       parvane::SleepMs(milliseconds);
                                   }});
    ASSERT_NO_FATAL_FAILURE(Open(device));
    adapter->FailDaaStartups(2);
    auto starting = std::async(std::launch::async, [&device] { return device.InitializeDaa(); });
    ASSERT_TRUE(Eventually([&] { return trace.Count("Error: Port1 FupInitDaa failed ,retry initial") == 1; },
                           std::chrono::seconds(5)));
    EXPECT_TRUE(device.Close());
    EXPECT_EQ(starting.get(), 0);
    EXPECT_EQ(trace.Count("Error: Port1 FupInitDaa failed ,retry initial"), 1);
    EXPECT_EQ(trace.CountContaining("The device is closing"), 0) << "no second attempt";
    EXPECT_LT(slept.load(), 100u + 90 + CDeviceOper::kRetryWaitMs) << "the wait ran to its end";
}

// One caller that gave up waiting for a call stuck in the library marks the
// library stuck: every caller after it is refused at once instead of waiting
// its full time again, until the stuck call comes back.
TEST(VirtualLine, AfterOneCallGaveUpOnTheLibraryTheNextOnesDoNotWait)
{
    VirtualAdapterDevice* adapter = ChooseAdapter("cn");
    ASSERT_NE(adapter, nullptr);
    CDeviceOper device;
    ASSERT_NO_FATAL_FAILURE(Open(device));
    CDeviceATABase& binding = device.Binding();
    binding.SetStuckCallWaitForTest(300);
    adapter->HoldExchanges();
    auto stuck = std::async(std::launch::async, [&binding] { return binding.ReadDAARegister(5); });
    ASSERT_TRUE(adapter->WaitForHeldExchange(5000));

    TraceLines trace;
    EXPECT_EQ(binding.DaaSetOffhook(), 0);
    EXPECT_TRUE(binding.CallStuck());
    EXPECT_EQ(binding.DaaSetOffhook(), 0);
    EXPECT_EQ(binding.DaaPstnHook(), 1);
    EXPECT_EQ(binding.FupReadEEProm(17), 0);
    // One wait ran out; the three calls after it did not wait.
    EXPECT_EQ(trace.CountContaining("has not come back from a call for 300 ms"), 1);
    EXPECT_EQ(trace.Count("The FXO library is stuck in a call: m_pDaaSetOffhookExp is not called (index=0)"), 1);
    EXPECT_EQ(trace.CountContaining("The FXO library is stuck in a call"), 3);

    adapter->ReleaseExchanges();
    stuck.wait();
    EXPECT_FALSE(binding.CallStuck());
    EXPECT_EQ(binding.DaaSetOffhook(), 1);
    EXPECT_TRUE(adapter->IsOffHook());
    binding.DaaSetOnhook();
}

struct Cadence {
    const char* preset;
    int burstsToWatch; // ring bursts to see, the last one after the longest silence
};

void PrintTo(const Cadence& cadence, std::ostream* out)
{
    *out << cadence.preset;
}

class RingCadence : public ::testing::TestWithParam<Cadence> {};

// The device thread confirms the ring once for the whole call: the silences
// of these cadences are shorter than the release time, so the report holds
// from the first burst on, the LED blinks, and the answer is asked for once.
TEST_P(RingCadence, ConfirmedAndReportedOnceForTheCall)
{
    VirtualAdapterDevice* adapter = ChooseAdapter(GetParam().preset);
    ASSERT_NE(adapter, nullptr);
    TraceLines trace;
    CountingRequester requester;
    CDeviceOper device;
    device.SetAnswerRequester(&requester);
    ASSERT_NO_FATAL_FAILURE(Open(device));
    ASSERT_EQ(device.InitializeDaa(), 1);
    ASSERT_EQ(device.StartThread(), 1);

    const auto deadline = Clock::now() + std::chrono::seconds(20);
    bool reportDropped = false;
    bool ledSeenOn = false;
    bool ledSeenOff = false;
    auto burstsSeen = [&] { return trace.Count("PSTN ring signal is coming, need to confirm if it is true.(index=0)"); };
    while (burstsSeen() < GetParam().burstsToWatch && Clock::now() < deadline) {
        if (device.m_bPstnRingReported == 1) {
            (adapter->LedOn() ? ledSeenOn : ledSeenOff) = true;
        } else if (requester.m_requests > 0) {
            reportDropped = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Let the last burst run past the single-burst limit.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(device.Stop(), 1);

    EXPECT_EQ(burstsSeen(), GetParam().burstsToWatch);
    EXPECT_EQ(trace.Count("Pstn ring is coming(index=0)"), 1);
    EXPECT_EQ(requester.m_requests, 1);
    EXPECT_EQ(requester.m_lastDelayMs, AnswerRequester::kAnswerDelayMs);
    EXPECT_FALSE(reportDropped);
    EXPECT_EQ(device.m_bPstnRing, 1u);
    EXPECT_TRUE(ledSeenOn && ledSeenOff) << "LED blinking while the ring is reported";
}

INSTANTIATE_TEST_SUITE_P(Presets, RingCadence,
                         ::testing::Values(Cadence{"us", 2},   // 2000 on, 4000 off
                                           Cadence{"uk", 3},   // 400 on, 200 off, 400 on, 2000 off
                                           Cadence{"cn", 2}),  // 1000 on, 4000 off
                         [](const auto& info) { return std::string(info.param.preset); });

} // namespace
