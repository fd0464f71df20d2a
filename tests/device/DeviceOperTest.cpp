// Start-up, LED, stop and reset of the device object against the stand-in
// FXO library, with a hand-moved clock.
#include "device/DeviceOper.h"
#include "tests/device/DeviceTestSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using parvane::test::CountingRequester;
using parvane::test::FakeFxo;
using parvane::test::ProgramDir;

// A port-1 device object on the stand-in libraries, loaded.
struct Port : parvane::test::FakePort {
    Port()
    {
        EXPECT_EQ(Load(0), 1);
        fxo->Reset();
        trace.Clear();
    }
};

TEST(DeviceOper, InitializeDaaFirstTime)
{
    Port port;
    port.fxo->SetLineRegister(0xF7);
    EXPECT_EQ(port.device->InitializeDaa(), 1);
    EXPECT_EQ(port.fxo->Calls(), (std::vector<std::string>{
                                     "WriteByte(0,32)", "WriteByte(0,2)", "FupPhoneSwitch(0)", "FupInitDaa()",
                                     "DaaSetCountry(Taiwan)", "ReadByte(10)", "WriteByte(10,246)", "FupLedSwitch(1)"}));
    EXPECT_EQ(port.clock.Slept(), 190u);
    EXPECT_EQ(port.trace.Lines(), (std::vector<std::string>{
                                      "InitializeDaa Start, index=0", "FupInitDaa (index=0)",
                                      "FupInitDaa success, index=0", "m_pReadSlicDirectRegisterExp = NULL",
                                      "Slic Direct Reg 01 = 0x0 (index=0)"}));
    EXPECT_EQ(port.device->m_bDaaReady, 1);
    EXPECT_EQ(port.device->m_nLedMode, LED_MODE_ON);
    EXPECT_EQ(port.device->Binding().LedState(), 1);
}

TEST(DeviceOper, InitializeDaaRetriesOnceAfterFiveSeconds)
{
    Port once;
    once.fxo->FailInitDaa(1);
    EXPECT_EQ(once.device->InitializeDaa(), 1);
    EXPECT_EQ(once.clock.Slept(), 100u + 90 + 5000 + 100 + 90);
    EXPECT_EQ(once.trace.Count("Error: Port1 FupInitDaa failed ,retry initial"), 1);
    EXPECT_EQ(once.fxo->Count("FupInitDaa()"), 2);
    EXPECT_EQ(once.device->m_bDaaReady, 1);

    Port twice;
    twice.fxo->FailInitDaa(2);
    EXPECT_EQ(twice.device->InitializeDaa(), 0);
    EXPECT_EQ(twice.clock.Slept(), 2u * (100 + 90 + 5000));
    EXPECT_EQ(twice.trace.Count("Error: Port1 FupInitDaa failed ,retry initial"), 2);
    EXPECT_EQ(twice.fxo->Count("DaaSetCountry(Taiwan)"), 0);
    EXPECT_TRUE(twice.fxo->CallsStartingWith("FupLedSwitch").empty());
    EXPECT_EQ(twice.device->m_bDaaReady, 0);
    EXPECT_EQ(twice.device->m_nLedMode, LED_MODE_OFF);
}

TEST(DeviceOper, ResetHardwareAndStop)
{
    Port port;
    port.device->ResetHardware();
    EXPECT_EQ(port.fxo->Calls(), (std::vector<std::string>{"WriteByte(0,32)", "WriteByte(0,2)", "WriteByte(10,247)"}));
    EXPECT_EQ(port.clock.Slept(), 200u);
    EXPECT_EQ(port.trace.Lines(),
              (std::vector<std::string>{"m_pSlicStopBusyToneExp = NULL", "m_pSlicStopDialToneExp = NULL",
                                        "m_pSlicStopRingExp = NULL", "ResetHardware "}));

    // Stop on a thread that never started: 0, but the LED still goes off.
    port.fxo->Reset();
    port.trace.Clear();
    port.device->Binding().FupLedSwitch(1);
    EXPECT_EQ(port.device->Stop(), 0);
    EXPECT_EQ(port.trace.Lines(), std::vector<std::string>{"CDeviceOper:Stop,set led power off!"});
    EXPECT_EQ(port.device->m_nLedMode, LED_MODE_NONE);
    EXPECT_EQ(port.device->Binding().LedState(), 0);
    EXPECT_EQ(port.fxo->Calls(), (std::vector<std::string>{"FupLedSwitch(1)", "FupLedSwitch(0)"}));
}

TEST(DeviceOper, NoAdapterMakesTheLibraryDropItsHandle)
{
    Port port;
    port.device->m_wVendorId = 0x1234;
    port.device->m_wProductId = 0xFFA0; // nothing answers to it
    EXPECT_EQ(port.device->InitDllHandle(), 0);
    EXPECT_EQ(port.trace.Lines(),
              std::vector<std::string>{"************* Start reset dll handle (index=0)*************"});
    // Both identifiers plus 1 and plus 100, each kept to 16 bits.
    EXPECT_EQ(port.fxo->Calls(), std::vector<std::string>{"ZorvLoad(4661,4)"});
}

TEST(DeviceOper, DestructionStopsWaitsAndFreesTheLibrary)
{
    Port port;
    const std::string path = port.dir.Path("FXO.so");
    port.fxo.reset();
    port.device->StartThread();
    port.device.reset();
    EXPECT_GE(port.clock.Slept(), 500u);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(handle, nullptr) << "FXO library freed";
    if (handle != nullptr)
        dlclose(handle);
}

// The watch on its own thread, in real time: a 400 ms burst is answered once.
TEST(DeviceOper, ThreadWatchesTheLine)
{
    ProgramDir dir;
    dir.Lay(parvane::test::kFakeFxoFile, "FXO.so");
    dir.Lay(parvane::test::kFakeVexlinFile, "Vexlin.so");
    CountingRequester requester;
    CDeviceOper device;
    device.SetPortIndex(0);
    device.SetAnswerRequester(&requester);
    ASSERT_EQ(device.LoadDlls(), 1);
    FakeFxo fxo(dir.Path("FXO.so"));
    ASSERT_EQ(device.InitializeDaa(), 1);
    EXPECT_EQ(device.StartThread(), 1);

    // Well past the 300 ms that confirm a burst, so that a loaded machine
    // that wakes the watch late still sees one.
    fxo.SetRing(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    fxo.SetRing(false);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (requester.m_requests == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(requester.m_requests, 1);
    EXPECT_EQ(device.m_nLedMode, LED_MODE_BLINK);
    EXPECT_GT(fxo.Count("DaaRingDetect()"), 3);
    EXPECT_EQ(device.Stop(), 1);
}

} // namespace
