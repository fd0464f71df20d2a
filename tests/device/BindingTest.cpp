#include "device/DeviceATABase.h"
#include "device/DeviceOper.h"
#include "tests/device/DeviceTestSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using parvane::test::FakeFxo;
using parvane::test::FakePort;
using parvane::test::ProgramDir;
using parvane::test::TraceLines;
using parvane::test::kFakeFxoFile;
using parvane::test::kFakeFxoWithoutRingDetectFile;
using parvane::test::kFakeVexlinFile;
using parvane::test::kFakeVexlinIncompleteFile;

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

// All four per-port files.
const FakePort::Files kBothPorts = {{kFakeFxoFile, "FXO.so"},
                                    {kFakeFxoFile, "FXO_02.so"},
                                    {kFakeVexlinFile, "Vexlin.so"},
                                    {kFakeVexlinFile, "Vexlin_02.so"}};

TEST(Binding, PortOneLoadsFxoAndVexlinFromTheProgramDirectory)
{
    FakePort port(kBothPorts);
    const ProgramDir& dir = port.dir;
    EXPECT_EQ(port.Load(0), 1);
    EXPECT_EQ(port.device->m_bDllsLoaded, 1);
    EXPECT_EQ(port.trace.Lines(), (std::vector<std::string>{
                                      "*********LoadDlls:" + dir.Path("FXO.so") + "*********",
                                      "LoadDll:" + dir.Path("FXO.so") + ",index=0",
                                      "LoadDll:" + dir.Path("Vexlin.so") + ",index=0",
                                      "Load Vexlin.dll success!",
                                  }));
    EXPECT_EQ(port.fxo->Calls(), std::vector<std::string>{"SetPortIndex(0)"});
    EXPECT_TRUE(FakeFxo(dir.Path("FXO_02.so")).Calls().empty());
    int argument = -1;
    EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin.so"), &argument), 1);
    EXPECT_EQ(argument, 0);
    EXPECT_FALSE(IsLoaded(dir.Path("Vexlin_02.so")));
    EXPECT_TRUE(port.device->Binding().BusyToneFunctionsBound());

    // Loaded once: a second call neither loads nor binds again.
    port.trace.Clear();
    EXPECT_EQ(port.device->LoadDlls(), 1);
    EXPECT_TRUE(port.trace.Lines().empty());
    EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin.so")), 1);
}

TEST(Binding, EveryOtherPortLoadsTheSecondCopies)
{
    for (int index : {1, 7}) {
        FakePort port(kBothPorts);
        const ProgramDir& dir = port.dir;
        EXPECT_EQ(port.Load(index), 1);
        EXPECT_EQ(port.trace.Count("LoadDll:" + dir.Path("FXO_02.so") + ",index=" + std::to_string(index)), 1);
        EXPECT_EQ(port.trace.Count("LoadDll:" + dir.Path("Vexlin_02.so") + ",index=" + std::to_string(index)), 1);
        EXPECT_EQ(port.fxo->Calls(), std::vector<std::string>{"SetPortIndex(" + std::to_string(index) + ")"});
        EXPECT_TRUE(FakeFxo(dir.Path("FXO.so")).Calls().empty());
        int argument = -1;
        EXPECT_EQ(VexlinLoadCalls(dir.Path("Vexlin_02.so"), &argument), 1);
        EXPECT_EQ(argument, index);
        EXPECT_FALSE(IsLoaded(dir.Path("Vexlin.so")));
        // Destroying the device object frees both libraries of the port.
        port.fxo.reset();
        port.device.reset();
        EXPECT_FALSE(IsLoaded(dir.Path("Vexlin_02.so")));
        EXPECT_FALSE(IsLoaded(dir.Path("FXO_02.so")));
    }
}

TEST(Binding, FxoLibraryLackingANameIsRefusedButWhatItHasWorks)
{
    FakePort port({{kFakeFxoWithoutRingDetectFile, "FXO.so"}, {kFakeVexlinFile, "Vexlin.so"}});
    EXPECT_EQ(port.Load(0), 0);
    EXPECT_EQ(port.device->m_bDllsLoaded, 0);
    EXPECT_EQ(port.trace.CountContaining("has no export DaaRingDetect"), 1);
    EXPECT_EQ(port.trace.CountContaining("Vexlin"), 0) << "the detection library is not tried";
    EXPECT_EQ(port.fxo->Calls(), std::vector<std::string>{"SetPortIndex(0)"}) << "port index still passed on";

    CDeviceATABase& binding = port.device->Binding();
    EXPECT_EQ(binding.WriteByte(0, 0x20), 1);
    EXPECT_EQ(binding.DaaSetOffhook(), 1);
    port.trace.Clear();
    EXPECT_EQ(binding.DaaRingDetect(), 0);
    EXPECT_EQ(port.trace.Lines(), std::vector<std::string>{"m_pDaaRingDetectExp = NULL"});

    // The library stays loaded; loading again answers TRUE without a lookup.
    port.trace.Clear();
    EXPECT_EQ(binding.LoadDll(port.dir.Path("FXO.so"), 0), 1);
    EXPECT_TRUE(port.trace.Lines().empty());
    EXPECT_EQ(binding.DaaRingDetect(), 0);
}

TEST(Binding, NoFxoLibraryMeansNoDetectionLibraryAndEveryWrapperItsDefault)
{
    FakePort port(FakePort::Files{{kFakeVexlinFile, "Vexlin.so"}});
    EXPECT_EQ(port.Load(0), 0);
    EXPECT_EQ(port.device->m_bDllsLoaded, 0);
    EXPECT_EQ(port.trace.Count("LoadDll:" + port.dir.Path("FXO.so") + ",index=0"), 1);
    EXPECT_FALSE(IsLoaded(port.dir.Path("Vexlin.so")));

    CDeviceATABase& b = port.device->Binding();
    TraceLines& trace = port.trace;
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
    for (const char* vexlin : {static_cast<const char*>(nullptr), kFakeVexlinIncompleteFile}) {
        FakePort::Files files = {{kFakeFxoFile, "FXO.so"}};
        if (vexlin != nullptr)
            files.emplace_back(vexlin, "Vexlin.so");
        FakePort port(files);
        EXPECT_EQ(port.Load(0), 0);
        EXPECT_EQ(port.device->m_bDllsLoaded, 1);
        EXPECT_EQ(port.trace.Count("Load Vexlin.dll failed!"), 1);
        EXPECT_EQ(port.trace.Count("LoadDll:" + port.dir.Path("Vexlin.so") + ",index=0"), 1);
        EXPECT_FALSE(port.device->Binding().BusyToneFunctionsBound());
        if (vexlin != nullptr) {
            EXPECT_EQ(port.trace.CountContaining("has no export SetOnOffTimeForTest"), 1);
            EXPECT_EQ(VexlinLoadCalls(port.dir.Path("Vexlin.so")), 0) << "not started when incomplete";
        }
        EXPECT_EQ(port.device->Binding().WriteByte(0, 2), 1);
        // Loaded once, even when it failed on the detection side.
        EXPECT_EQ(port.device->LoadDlls(), 1);
    }
}

// A bare binding on the stand-in FXO library.
struct BoundFxo {
    explicit BoundFxo(int portIndex = 0)
    {
        dir.Lay(kFakeFxoFile, "FXO.so");
        binding.m_nPortIndex = portIndex;
        EXPECT_EQ(binding.LoadDll(dir.Path("FXO.so"), portIndex), 1);
        fxo = std::make_unique<FakeFxo>(dir.Path("FXO.so"));
        fxo->Reset();
    }
    ProgramDir dir;
    CDeviceATABase binding;
    std::unique_ptr<FakeFxo> fxo;
};

TEST(Binding, ResultsCountAsSuccessOnlyWhenExactlyOne)
{
    BoundFxo bound;
    CDeviceATABase& binding = bound.binding;
    FakeFxo& fxo = *bound.fxo;

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
    BoundFxo bound;
    CDeviceATABase& binding = bound.binding;

    EXPECT_EQ(binding.FupLedSwitch(5), 1);
    EXPECT_EQ(binding.LedState(), 5);
    EXPECT_EQ(binding.FupLedSwitch(0), 1);
    EXPECT_EQ(binding.LedState(), 0);
    EXPECT_EQ(bound.fxo->Calls(), (std::vector<std::string>{"FupLedSwitch(1)", "FupLedSwitch(0)"}));
}

TEST(Binding, ModelNameAndTraceLinesOfTheWrappers)
{
    BoundFxo bound(1);
    CDeviceATABase& binding = bound.binding;
    FakeFxo& fxo = *bound.fxo;
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
    BoundFxo bound;
    CDeviceATABase& binding = bound.binding;
    bound.fxo.reset();
    binding.UnloadDlls();
    EXPECT_FALSE(binding.FxoLibraryLoaded());
    EXPECT_FALSE(IsLoaded(bound.dir.Path("FXO.so")));
    TraceLines trace;
    EXPECT_EQ(binding.DaaRingDetect(), 0);
    EXPECT_EQ(binding.WriteByte(0, 2), 0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"m_pDaaRingDetectExp = NULL", "m_pWriteFupRegisterExp = NULL"}));
}

} // namespace
