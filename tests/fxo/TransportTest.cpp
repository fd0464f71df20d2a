// Feature reports, select shadow, plug state and failures, seen through the
// library's exports and the virtual adapter.
#include "tests/fxo/FxoFixture.h"

#include <array>

namespace parvane::test {
namespace {

using Bytes = std::array<uint8_t, 9>;

TEST_F(FxoTest, EachReportKindIsFramedByteForByte)
{
    Plug();
    EXPECT_EQ(fxo.WriteByte(5, 0x12), 1);
    EXPECT_EQ(fxo.ReadByte(16), 0);
    const uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(fxo.Write4Byte(25, data), 1);
    uint8_t serial[6] = {};
    EXPECT_EQ(fxo.GetSerialNumber(serial), 1);

    const auto reports = adapter->Reports();
    ASSERT_EQ(reports.size(), 6u);
    EXPECT_EQ(reports[0].bytes, (Bytes{0, 243, 0x01, 237, 5, 0x12, 0, 0, 0}));
    EXPECT_EQ(reports[1].bytes, (Bytes{0, 243, 0x00, 237, 16, 0, 0, 0, 0}));
    EXPECT_FALSE(reports[2].send);
    EXPECT_EQ(reports[3].bytes, (Bytes{0, 243, 0x04, 237, 25, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(reports[4].bytes, (Bytes{0, 243, 0x00, 237, 0x1E, 0, 0, 0, 0}));
    EXPECT_FALSE(reports[5].send);
    EXPECT_EQ(std::vector<uint8_t>(serial, serial + 6), (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
}

TEST_F(FxoTest, ChipTransfersCarryTheirPayloadsAndReadTheDataRegisters)
{
    Plug();
    fxo.WriteDAARegister(16, 0x5A);
    adapter->SetSlicRegister(64, 0x01);
    EXPECT_EQ(fxo.ReadDAARegister(16), 0x5A);
    EXPECT_EQ(fxo.ReadProSlicDirectRegister(64), 0x01);
    const auto sent = Sent();
    // select DAA is already in force after power-on (0x24)
    EXPECT_EQ(sent[0].bytes, (Bytes{0, 243, 4, 237, 25, 0x20, 16, 0x5A, 0x61}));
    EXPECT_EQ(sent[1].bytes, (Bytes{0, 243, 4, 237, 25, 0x60, 16, 0x00, 0x61}));
    EXPECT_EQ(sent[2].bytes, (Bytes{0, 243, 0, 237, 27, 0, 0, 0, 0}));
    EXPECT_EQ(sent[3].bytes, (Bytes{0, 243, 1, 237, 1, 0x28, 0, 0, 0}));
    EXPECT_EQ(sent[4].bytes, (Bytes{0, 243, 4, 237, 25, 64 | 0x80, 0, 0, 0x03}));
    EXPECT_EQ(sent[5].bytes, (Bytes{0, 243, 0, 237, 26, 0, 0, 0, 0}));
}

TEST_F(FxoTest, SelectShadowRules)
{
    Plug();
    // Bit 4 of register 1 never reaches the wire, and the shadow follows.
    fxo.WriteByte(1, 0x37);
    EXPECT_EQ(WritesTo(1), std::vector<uint8_t>{0x27});
    EXPECT_EQ(adapter->ControllerRegister(1), 0x27);
    adapter->ClearLogs();
    fxo.WriteDAARegister(5, 0); // 0x27 has the DAA bit: no re-selection
    EXPECT_TRUE(WritesTo(1).empty());
    fxo.WriteProSlicDirectRegister(3, 0); // bits 0, 1 and 5 carried over
    EXPECT_EQ(WritesTo(1), std::vector<uint8_t>{0x28 | 0x03});

    // The reset command puts the shadow back to 0x24: DAA selected.
    fxo.WriteByte(0, 0x20);
    adapter->ClearLogs();
    fxo.WriteDAARegister(5, 0);
    EXPECT_TRUE(WritesTo(1).empty());
    fxo.WriteProSlicDirectRegister(3, 0);
    EXPECT_EQ(WritesTo(1), std::vector<uint8_t>{0x28});

    // A failed read of register 1 tells nothing: the shadow keeps the SLIC
    // routing that is in force, so bits 0, 1 and 5 are not set from 243.
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.ReadByte(1), 243);
    adapter->ClearLogs();
    fxo.WriteDAARegister(5, 0);
    EXPECT_EQ(WritesTo(1), std::vector<uint8_t>{0x24});
}

TEST_F(FxoTest, ALostSelectWriteIsRetriedAndItsTransferNotSentToTheOtherChip)
{
    Plug();
    ASSERT_EQ(fxo.WriteProSlicDirectRegister(3, 0), 1); // the bus now goes to the SLIC
    adapter->ClearLogs();
    adapter->FailNextSends(1); // the DAA select write
    EXPECT_EQ(fxo.WriteDAARegister(5, 0x01), 0);
    EXPECT_EQ(adapter->ControllerRegister(1), 0x28);
    EXPECT_TRUE(SlicWrites().empty());
    EXPECT_FALSE(adapter->IsOffHook());
    // A select lost inside the hook sequence is made again by its next step.
    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.DaaSetOffhook(), 1);
    EXPECT_TRUE(adapter->IsOffHook());
    EXPECT_TRUE(SlicWrites().empty());

    adapter->ClearLogs();
    adapter->FailNextSends(1); // the SLIC select write
    EXPECT_EQ(fxo.WriteProSlicDirectRegister(64, 1), 0);
    EXPECT_EQ(fxo.ReadProSlicDirectRegister(64), 0); // selects again
    EXPECT_TRUE(DaaWrites().empty());
    EXPECT_EQ(adapter->ControllerRegister(1), 0x28);
}

TEST_F(FxoTest, PlugStateKeepsOrClosesTheRightHandles)
{
    CapturedStderr log;
    EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 1);
    EXPECT_TRUE(log.Contains("UsbHidOpen: plug before = 0"));
    EXPECT_TRUE(log.Contains("FXO:Find HW SymbolLink DeviceName:virtual:us"));
    EXPECT_EQ(log.Count("DeviceHandle = 0x"), 1);

    // Again while plugged: the second handle is closed, the first kept.
    EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 1);
    const auto lines = log.Lines();
    std::vector<std::string> handles;
    for (const auto& line : lines)
        if (line.rfind("DeviceHandle = ", 0) == 0)
            handles.push_back(line);
    ASSERT_EQ(handles.size(), 2u);
    EXPECT_EQ(handles[0], handles[1]);
    EXPECT_EQ(fxo.ReadByte(10), 0xBF);

    // Identifiers that match nothing release everything.
    EXPECT_EQ(fxo.ZorvLoad(kVid + 1, kPid + 100), 0);
    EXPECT_EQ(adapter->OpenHandleCount(), 0);
    EXPECT_TRUE(log.Contains("UsbHidOpen: plug now = 0"));
    EXPECT_TRUE(log.Contains("DeviceHandle = 0x0"));
    adapter->ClearLogs();
    EXPECT_EQ(fxo.ReadByte(10), 0);
    EXPECT_TRUE(adapter->Reports().empty());

    // The right ones open it again; ZorvClose closes it; closing twice is harmless.
    EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 1);
    EXPECT_EQ(fxo.ZorvClose(), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 0);
    EXPECT_EQ(fxo.ZorvClose(), 1);
    EXPECT_EQ(fxo.ZorvLoad(kVid + 1, kPid + 100), 0);
    EXPECT_EQ(adapter->OpenHandleCount(), 0);
}

TEST_F(FxoTest, AnAdapterThatVanishesFailsEveryExchangeUntilDiscoveryNoticesAndReplugOpensAnew)
{
    Plug();
    CapturedStderr log;
    adapter->Unplug();
    EXPECT_EQ(fxo.ReadByte(10), 243);
    EXPECT_EQ(fxo.WriteByte(10, 0xFF), 0);
    EXPECT_TRUE(log.Contains("[Read_BYTE(0xa)]HidD_SetFeature Failed!(error code = 19)(index=0)"));
    EXPECT_TRUE(log.Contains("[Write_BYTE(0xa,0xff)]HidD_SetFeature Failed!(error code = 19)(index=0)"));
    EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 0);
    EXPECT_TRUE(log.Contains("UsbHidOpen: plug now = 0"));
    adapter->Replug();
    EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 1);
    EXPECT_EQ(fxo.ReadByte(10), 0xBF);
    EXPECT_EQ(adapter->OpenHandleCount(), 1);
}

TEST_F(FxoTest, FailedExchangesGiveTheFailureValueAndTheirLogLines)
{
    Plug();
    fxo.SetPortIndex(1);
    CapturedStderr log;
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.ReadByte(10), 243);
    EXPECT_TRUE(log.Contains("[Read_BYTE(0xa)]HidD_GetFeature Failed!(error code = 5)(index=1)"));

    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.ReadDAARegister(33), 243); // the transfer itself fails
    EXPECT_TRUE(log.Contains("[Write_4BYTE(0x19,0x61002160)]HidD_SetFeature Failed!(error code = 5)(index=1)"));

    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.ReadProSlicDirectRegister(8), 243); // the data read fails

    adapter->FailNextSends(1);
    EXPECT_EQ(fxo.WriteByte(12, 0x0F), 0);
    EXPECT_TRUE(log.Contains("[Write_BYTE(0xc,0xf)]HidD_SetFeature Failed!(error code = 5)(index=1)"));

    // A failed serial read is still reported done, with six failure bytes.
    uint8_t serial[6] = {};
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.GetSerialNumber(serial), 1);
    EXPECT_EQ(std::vector<uint8_t>(serial, serial + 6), std::vector<uint8_t>(6, 243));
    EXPECT_TRUE(log.Contains("[GetSerial]HidD_GetFeature Failed!(error code = 5)(index=1)"));
    EXPECT_EQ(fxo.GetSerialNumber(nullptr), 0);
}

TEST_F(FxoTest, NothingReachesTheAdapterWhileNotPlugged)
{
    uint8_t data[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(fxo.WriteByte(1, 1), 0);
    EXPECT_EQ(fxo.ReadByte(1), 0);
    EXPECT_EQ(fxo.Write4Byte(25, data), 0);
    EXPECT_EQ(fxo.GetSerialNumber(data), 0);
    EXPECT_EQ(data[0], 1);
    EXPECT_EQ(fxo.WriteDAARegister(1, 1), 0);
    EXPECT_EQ(fxo.ReadDAARegister(1), 0);
    EXPECT_EQ(fxo.WriteProSlicDirectRegister(1, 1), 0);
    EXPECT_EQ(fxo.ReadProSlicDirectRegister(1), 0);
    EXPECT_EQ(fxo.WriteProSlicInDirectRegister(1, 1), 0);
    EXPECT_EQ(fxo.ReadProSlicInDirectRegister(1), 0);
    EXPECT_EQ(fxo.FupInitDaa(), 0);
    EXPECT_EQ(fxo.DaaSetOffhook(), 0);
    EXPECT_EQ(fxo.DaaSetOnhook(), 0);
    EXPECT_EQ(fxo.DaaOnHookMonitor(1), 0);
    EXPECT_EQ(fxo.DaaPstnHook(), 1);
    EXPECT_EQ(fxo.DaaRingDetect(), 0);
    fxo.DaaSetCountry("USA");
    EXPECT_EQ(fxo.FupSetCountry(70), 1);
    EXPECT_EQ(fxo.FupCalledHangUpDetect(), 0);
    EXPECT_EQ(fxo.FupInitSlic(), 0);
    EXPECT_EQ(fxo.SlicPhoneUnhooked(), 0);
    EXPECT_EQ(fxo.SlicRingPhone(), 0);
    EXPECT_EQ(fxo.SlicStopRing(), 0);
    EXPECT_EQ(fxo.SlicPlayDialTone(), 0);
    EXPECT_EQ(fxo.SlicPlayBusyTone(), 0);
    EXPECT_EQ(fxo.SlicPlayIntpTone(1), 0);
    EXPECT_EQ(fxo.SlicStopDialTone(), 0);
    EXPECT_EQ(fxo.SlicStopBusyTone(), 0);
    EXPECT_EQ(fxo.SlicStopIntpTone(), 0);
    EXPECT_EQ(fxo.SlicDetectDtmfCode(), 0);
    EXPECT_EQ(fxo.FupDialDtmf(5), 0);
    EXPECT_EQ(fxo.FupPcmPathSelect(1), 0);
    EXPECT_EQ(fxo.FupSetPcmFormat(1), 0);
    EXPECT_EQ(fxo.FupLedSwitch(1), 0);
    EXPECT_EQ(fxo.FupPhoneSwitch(1), 0);
    EXPECT_EQ(fxo.FupReadEEProm(17), 0);
    EXPECT_EQ(fxo.FupWriteEEProm(17, 1), 0);
    EXPECT_EQ(fxo.SetPortIndex(7), 7);
    EXPECT_EQ(fxo.ZorvClose(), 1);
    EXPECT_TRUE(adapter->Reports().empty());
    EXPECT_EQ(adapter->OpenHandleCount(), 0);
}

TEST_F(FxoTest, TwoLibraryFilesKeepSeparateState)
{
    FxoLibraryFile port2;
    ASSERT_TRUE(port2.Load(kFxoPort2File)) << port2.LastError();
    port2.SetPortIndex(1);

    Plug(); // port 1 only
    EXPECT_EQ(port2.ReadByte(10), 0); // port 2 is not plugged
    EXPECT_TRUE(adapter->Reports().empty());

    // Both share the one adapter, each with its own handle.
    ASSERT_EQ(port2.ZorvLoad(kVid, kPid), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 2);

    // Port 2's select shadow does not follow port 1's writes.
    fxo.WriteByte(1, 0x28); // port 1: SLIC selected
    adapter->ClearLogs();
    port2.WriteDAARegister(5, 0); // port 2 still believes 0x24: no selection
    EXPECT_TRUE(WritesTo(1).empty());

    CapturedStderr log;
    EXPECT_EQ(fxo.ZorvClose(), 1);
    EXPECT_EQ(adapter->OpenHandleCount(), 1);
    EXPECT_EQ(port2.ReadByte(10), 0xBF);
    adapter->FailNextGets(1);
    port2.ReadByte(10);
    EXPECT_TRUE(log.Contains("(index=1)"));
    EXPECT_FALSE(log.Contains("(index=0)"));
}

TEST_F(FxoTest, UnloadingAndLoadingAgainStartsFromFreshState)
{
    Plug();
    fxo.WriteByte(1, 0x28);
    fxo.Unload();
    ASSERT_TRUE(fxo.Load(kFxoPort1File));
    EXPECT_EQ(fxo.ReadByte(10), 0); // not plugged in the new copy
}

TEST(FxoHidraw, WithoutAnAdapterDiscoveryReportsNotFound)
{
    unsetenv(kVirtualAdapterEnv);
    FxoLibraryFile fxo;
    ASSERT_TRUE(fxo.Load(kFxoPort1File)) << fxo.LastError();
    CapturedStderr log;
    // An id pair no real device uses.
    EXPECT_EQ(fxo.ZorvLoad(0xFFFE, 0xFFFE), 0);
    EXPECT_TRUE(log.Contains("UsbHidOpen: plug now = 0"));
    EXPECT_TRUE(log.Contains("DeviceHandle = 0x0"));
    EXPECT_EQ(fxo.ReadByte(10), 0);
    EXPECT_EQ(fxo.ZorvClose(), 1);
}

TEST(FxoVirtual, ARefusedScenarioMeansNoAdapter)
{
    setenv(kVirtualAdapterEnv, "/nonexistent/scenario.ini", 1);
    FxoLibraryFile fxo;
    ASSERT_TRUE(fxo.Load(kFxoPort1File));
    CapturedStderr log;
    if (VirtualAdapterDevice::Instance() == nullptr) { // a fresh process: nothing chosen yet
        EXPECT_EQ(fxo.ZorvLoad(kVid, kPid), 0);
        EXPECT_TRUE(log.Contains("/nonexistent/scenario.ini: cannot open the scenario file"));
        EXPECT_TRUE(log.Contains("FXO: SetupDiGetClassDevs failed"));
    }
    unsetenv(kVirtualAdapterEnv);
}

} // namespace
} // namespace parvane::test
