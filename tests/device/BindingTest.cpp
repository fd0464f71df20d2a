#include "device/DeviceATABase.h"
#include "device/DeviceOper.h"
#include "tests/device/DeviceTestSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

using parvane::test::FakeClock;
using parvane::test::FakeFxo;
using parvane::test::ProgramDir;
using parvane::test::TraceLines;

constexpr const char* kFakeFxo = "libparvane_fake_fxo.so";
constexpr const char* kFakeFxoWithoutRingDetect = "libparvane_fake_fxo_no_ring.so";
constexpr const char* kFakeVexlin = "libparvane_fake_vexlin.so";
constexpr const char* kFakeVexlinIncomplete = "libparvane_fake_vexlin_no_onoff.so";

int VexlinLoadCalls(const std::string& path, int* argument = nullptr)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return 0;
    const int calls = reinterpret_cast<int (*)()>(dlsym(handle, "FakeVexlinLoadCalls"))();
    if (argument != nullptr)
        *argument = reinterpret_cast<int (*)()>(dlsym(handle, "FakeVexlinLoadArgument"))();
    dlclose(handle);
    return calls;
}

bool IsLoaded(const std::string& path)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

// A program directory holding all four per-port files.
struct FullProgramDir : ProgramDir {
    FullProgramDir()
    {
        Lay(kFakeFxo, "FXO.so");
        Lay(kFakeFxo, "FXO_02.so");
        Lay(kFakeVexlin, "Vexlin.so");
        Lay(kFakeVexlin, "Vexlin_02.so");
    }
};

TEST(Binding, PortOneLoadsFxoAndVexlinFromTheProgramDirectory)
{
    FullProgramDir dir;
    FakeClock clock;
    TraceLines trace;
    CDeviceOper device(clock.Make());
    device.SetPortIndex(0);
    FakeFxo port1(dir.Path("FXO.so"));
    FakeFxo port2(dir.Path("FXO_02.so"));

    EXPECT_EQ(device.LoadDlls(), 1);
    EXPECT_EQ(device.m_bDllsLoaded, 1);
    EXPECT_EQ(trace.Count("*********LoadDlls:" + dir.Path("FXO.so") + "*********"), 1);
    EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("FXO.so") + ",index=0"), 1);
    EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("Vexlin.so") + ",index=0"), 1);
    EXPECT_EQ(trace.Count("Load Vexlin.dll success!"), 1);
    EXPECT_EQ(port1.Calls(), std::vector<std::string>{"SetPortIndex(0)"});
    EXPECT_TRUE(port2.Calls().empty());
    int argument = -1;
    EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin.so"), &argument), 1);
    EXPECT_EQ(argument, 0);
    EXPECT_FALSE(IsLoaded(dir.Path("Vexlin_02.so")));
    EXPECT_TRUE(device.Binding().BusyToneFunctionsBound());

    // Loaded once: a second call neither loads nor binds again.
    trace.Clear();
    EXPECT_EQ(device.LoadDlls(), 1);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin.so")), 1);
}

TEST(Binding, EveryOtherPortLoadsTheSecondCopies)
{
    for (int index : {1, 7}) {
        FullProgramDir dir;
        FakeClock clock;
        TraceLines trace;
        auto device = std::make_unique<CDeviceOper>(clock.Make());
        device->SetPortIndex(index);
        FakeFxo port1(dir.Path("FXO.so"));
        FakeFxo port2(dir.Path("FXO_02.so"));
        EXPECT_EQ(device->LoadDlls(), 1);
        EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("FXO_02.so") + ",index=" + std::to_string(index)), 1);
        EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("Vexlin_02.so") + ",index=" + std::to_string(index)), 1);
        EXPECT_TRUE(port1.Calls().empty());
        EXPECT_EQ(port2.Calls(), std::vector<std::string>{"SetPortIndex(" + std::to_string(index) + ")"});
        int argument = -1;
        EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin_02.so"), &argument), 1);
        EXPECT_EQ(argument, index);
        EXPECT_FALSE(IsLoaded(dir.Path("Vexlin.so")));
        // Destroying the device object frees both libraries of the port.
        device.reset();
        EXPECT_FALSE(IsLoaded(dir.Path("Vexlin_02.so")));
    }
}

TEST(Binding, FxoLibraryLackingANameIsRefusedButWhatItHasWorks)
{
    ProgramDir dir;
    dir.Lay(kFakeFxoWithoutRingDetect, "FXO.so");
    dir.Lay(kFakeVexlin, "Vexlin.so");
    FakeClock clock;
    TraceLines trace;
    CDeviceOper device(clock.Make());
    device.SetPortIndex(0);
    FakeFxo fxo(dir.Path("FXO.so"));

    EXPECT_EQ(device.LoadDlls(), 0);
    EXPECT_EQ(device.m_bDllsLoaded, 0);
    EXPECT_EQ(trace.CountContaining("has no export DaaRingDetect"), 1);
    EXPECT_EQ(trace.CountContaining("Vexlin"), 0) << "the detection library is not tried";
    EXPECT_EQ(fxo.Calls(), std::vector<std::string>{"SetPortIndex(0)"}) << "port index still passed on";

    CDeviceATABase& binding = device.Binding();
    EXPECT_EQ(binding.WriteByte(0, 0x20), 1);
    EXPECT_EQ(binding.DaaSetOffhook(), 1);
    trace.Clear();
    EXPECT_EQ(binding.DaaRingDetect(), 0);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"m_pDaaRingDetectExp = NULL"});

    // The library stays loaded; loading again answers TRUE without a lookup.
    trace.Clear();
    EXPECT_EQ(binding.LoadDll(dir.Path("FXO.so"), 0), 1);
    EXPECT_TRUE(trace.Lines().empty());
    EXPECT_EQ(binding.DaaRingDetect(), 0);
}

TEST(Binding, NoFxoLibraryMeansNoDetectionLibraryAndEveryWrapperItsDefault)
{
    ProgramDir dir;
    dir.Lay(kFakeVexlin, "Vexlin.so");
    FakeClock clock;
    TraceLines trace;
    CDeviceOper device(clock.Make());
    device.SetPortIndex(0);

    EXPECT_EQ(device.LoadDlls(), 0);
    EXPECT_EQ(device.m_bDllsLoaded, 0);
    EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("FXO.so") + ",index=0"), 1);
    EXPECT_FALSE(IsLoaded(dir.Path("Vexlin.so")));

    CDeviceATABase& b = device.Binding();
    struct Case {
        const char* line; // the trace line, or "" for none
        int result;
        int expected;
    };
    trace.Clear();
    const Case cases[] = {
        {"", b.ZorvLoad(0x1234, 0x0110), 0},
        {"m_pCloseATAExp = NULL", b.ZorvClose(), 0},
        {"m_pWriteFupRegisterExp = NULL", b.WriteByte(0, 2), 0},
        {"m_pReadFupRegisterExp = NULL", b.ReadByte(10), 0},
        {"m_pDaaPstnUnhookedExp = NULL", b.DaaPstnHook(), 1},
        {"m_pFupLedSwitchExp = NULL", b.FupLedSwitch(1), 1},
        {"m_pFupInitDaaExp = NULL", b.FupInitDaa(), 0},
        {"m_pFupPhoneSwitchExp = NULL", b.FupPhoneSwitch(1), 0},
        {"m_pFupReadEEPromExp = NULL", b.FupReadEEProm(17), 0},
        {"m_pWriteDAARegisterExp = NULL", b.WriteDAARegister(5, 1), 0},
        {"m_pReadDAARegisterExp = NULL", b.ReadDAARegister(5), 0},
        {"m_pDaaRingDetectExp = NULL", b.DaaRingDetect(), 0},
        {"m_pDaaOnHookMonitorExp = NULL", b.DaaOnHookMonitor(1), 0},
        {"m_pReadSlicDirectRegisterExp = NULL", b.ReadSlicDirectRegister(1), 0},
        {"m_pSlicStopBusyToneExp = NULL", b.SlicStopBusyTone(), 0},
        {"m_pSlicStopDialToneExp = NULL", b.SlicStopDialTone(), 0},
        {"m_pSlicStopRingExp = NULL", b.SlicStopRing(), 0},
    };
    std::vector<std::string> expectedLines;
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.line;
        if (c.line[0] != '\0')
            expectedLines.push_back(c.line);
    }
    EXPECT_EQ(trace.Lines(), expectedLines);
    EXPECT_EQ(b.LedState(), 0) << "an unbound LED switch records nothing";

    // Hook control names itself before the empty entry point does.
    trace.Clear();
    b.DaaSetCountry("Taiwan");
    EXPECT_EQ(b.DaaSetOnhook(), 0);
    EXPECT_EQ(b.DaaSetOffhook(), 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"m_pDaaSetCountryExp = NULL", "DaaSetOnhook",
                                                        "m_pDaaSetOnhookExp = NULL", "DaaSetOffhook",
                                                        "m_pDaaSetOffhookExp = NULL"}));
}

TEST(Binding, MissingOrIncompleteDetectionLibraryLeavesTheFxoSideUsable)
{
    for (const char* vexlin : {static_cast<const char*>(nullptr), kFakeVexlinIncomplete}) {
        ProgramDir dir;
        dir.Lay(kFakeFxo, "FXO.so");
        if (vexlin != nullptr)
            dir.Lay(vexlin, "Vexlin.so");
        FakeClock clock;
        TraceLines trace;
        CDeviceOper device(clock.Make());
        device.SetPortIndex(0);
        FakeFxo fxo(dir.Path("FXO.so"));

        EXPECT_EQ(device.LoadDlls(), 0);
        EXPECT_EQ(device.m_bDllsLoaded, 1);
        EXPECT_EQ(trace.Count("Load Vexlin.dll failed!"), 1);
        EXPECT_EQ(trace.Count("LoadDll:" + dir.Path("Vexlin.so") + ",index=0"), 1);
        EXPECT_FALSE(device.Binding().BusyToneFunctionsBound());
        if (vexlin != nullptr) {
            EXPECT_EQ(trace.CountContaining("has no export SetOnOffTimeForTest"), 1);
            EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin.so")), 0) << "not started when incomplete";
        }
        EXPECT_EQ(device.Binding().WriteByte(0, 2), 1);
        // Loaded once, even when it failed on the detection side.
        EXPECT_EQ(device.LoadDlls(), 1);
    }
}

TEST(Binding, ResultsCountAsSuccessOnlyWhenExactlyOne)
{
    ProgramDir dir;
    dir.Lay(kFakeFxo, "FXO.so");
    CDeviceATABase binding;
    ASSERT_EQ(binding.LoadDll(dir.Path("FXO.so"), 0), 1);
    FakeFxo fxo(dir.Path("FXO.so"));

    EXPECT_EQ(binding.WriteByte(1, 2), 1);
    EXPECT_EQ(binding.ZorvClose(), 1);
    for (const char* name : {"WriteByte", "ZorvClose", "FupInitDaa", "FupPhoneSwitch", "FupLedSwitch"})
        fxo.SetResult(name, 2);
    EXPECT_EQ(binding.WriteByte(1, 2), 0);
    EXPECT_EQ(binding.ZorvClose(), 0);
    EXPECT_EQ(binding.FupInitDaa(), 0);
    EXPECT_EQ(binding.FupPhoneSwitch(1), 0);
    EXPECT_EQ(binding.FupLedSwitch(1), 0);
    // Raw results pass through.
    fxo.SetResult("DaaPstnHook", 7);
    fxo.SetResult("ReadDAARegister", 243);
    EXPECT_EQ(binding.DaaPstnHook(), 7);
    EXPECT_EQ(binding.ReadDAARegister(28), 243);
    // Only the low 8 bits of the phone switch value reach the library.
    binding.FupPhoneSwitch(0x102);
    EXPECT_EQ(fxo.Count("FupPhoneSwitch(2)"), 1);
}

TEST(Binding, LedSwitchPassesOneAndRecordsTheArgument)
{
    ProgramDir dir;
    dir.Lay(kFakeFxo, "FXO.so");
    CDeviceATABase binding;
    ASSERT_EQ(binding.LoadDll(dir.Path("FXO.so"), 0), 1);
    FakeFxo fxo(dir.Path("FXO.so"));

    EXPECT_EQ(binding.FupLedSwitch(5), 1);
    EXPECT_EQ(binding.LedState(), 5);
    EXPECT_EQ(binding.FupLedSwitch(0), 1);
    EXPECT_EQ(binding.LedState(), 0);
    EXPECT_EQ(fxo.Calls(), (std::vector<std::string>{"FupLedSwitch(1)", "FupLedSwitch(0)"}));
}

TEST(Binding, ModelNameAndTraceLinesOfTheWrappers)
{
    ProgramDir dir;
    dir.Lay(kFakeFxo, "FXO.so");
    CDeviceATABase binding;
    binding.m_nPortIndex = 1;
    ASSERT_EQ(binding.LoadDll(dir.Path("FXO.so"), 1), 1);
    FakeFxo fxo(dir.Path("FXO.so"));
    const std::u16string model = u"Tarnbox";
    for (size_t i = 0; i < model.size(); ++i)
        fxo.SetEEProm(static_cast<uint8_t>(17 + i), model[i]);
    fxo.SetEEProm(16, 'X');
    fxo.SetEEProm(27, 'Y');

    uint16_t cells[CDeviceATABase::kModelNameCells];
    std::fill(std::begin(cells), std::end(cells), 0xFFFF);
    binding.ReadModelName(cells);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(cells)), model);
    EXPECT_EQ(cells[9], 0);
    const auto reads = fxo.CallsStartingWith("FupReadEEProm(");
    ASSERT_EQ(reads.size(), 10u);
    EXPECT_EQ(reads.front(), "FupReadEEProm(17)");
    EXPECT_EQ(reads.back(), "FupReadEEProm(26)");

    TraceLines trace;
    binding.FupInitDaa();
    binding.DaaSetOnhook();
    binding.DaaSetOffhook();
    binding.DaaSetCountry("Taiwan");
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"FupInitDaa (index=1)", "DaaSetOnhook", "DaaSetOffhook"}));
    EXPECT_EQ(fxo.Count("DaaSetCountry(Taiwan)"), 1);
}

TEST(Binding, WrappersAfterUnloadAreRefusedNotCalled)
{
    ProgramDir dir;
    dir.Lay(kFakeFxo, "FXO.so");
    CDeviceATABase binding;
    ASSERT_EQ(binding.LoadDll(dir.Path("FXO.so"), 0), 1);
    binding.UnloadDlls();
    EXPECT_FALSE(binding.FxoLibraryLoaded());
    EXPECT_FALSE(IsLoaded(dir.Path("FXO.so")));
    TraceLines trace;
    EXPECT_EQ(binding.DaaRingDetect(), 0);
    EXPECT_EQ(binding.WriteByte(0, 2), 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"m_pDaaRingDetectExp = NULL", "m_pWriteFupRegisterExp = NULL"}));
}

} // namespace
