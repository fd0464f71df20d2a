// EEPROM, LED, phone switch and serial number through the exports.
#include "tests/fxo/FxoFixture.h"

#include <string>

namespace parvane::test {
namespace {

class EepromTest : public FxoTest {
protected:
    // The bits clocked into the EEPROM (data at each rising clock edge while
    // selected), one text per chip-select period.
    std::vector<std::string> ClockedBits()
    {
        std::vector<std::string> periods;
        uint8_t previous = 0;
        for (uint8_t value : WritesTo(15)) {
            if ((value & 0x02) && !(previous & 0x02))
                periods.emplace_back();
            if ((value & 0x02) && (value & 0x04) && !(previous & 0x04))
                periods.back() += (value & 0x08) ? '1' : '0';
            previous = value;
        }
        return periods;
    }

    // Clocks a word write into the EEPROM by hand, with no write enable.
    void WriteWithoutEnable(uint8_t address, uint16_t value)
    {
        const std::string bits = "101" + Binary(address, 6) + Binary(value, 16);
        fxo.WriteByte(15, 0x01);
        fxo.WriteByte(15, 0x03);
        for (char bit : bits) {
            const uint8_t data = bit == '1' ? 0x08 : 0x00;
            fxo.WriteByte(15, 0x03 | data);
            fxo.WriteByte(15, 0x07 | data);
        }
        fxo.WriteByte(15, 0x01); // deselect: the write would start here
        fxo.WriteByte(15, 0x00);
    }

    static std::string Binary(uint32_t value, int bits)
    {
        std::string text;
        for (int i = bits - 1; i >= 0; --i)
            text += ((value >> i) & 1) ? '1' : '0';
        return text;
    }
};

TEST_F(EepromTest, AWordWrittenIsReadBack)
{
    Plug();
    CapturedStderr log;
    EXPECT_EQ(fxo.FupWriteEEProm(5, 0xBEEF), 1);
    EXPECT_TRUE(log.Contains("Call FupWriteEEProm"));
    EXPECT_EQ(adapter->EepromWord(5), 0xBEEF);
    EXPECT_EQ(fxo.FupReadEEProm(5), 0xBEEF);
    EXPECT_TRUE(log.Contains("Call FupReadEEProm"));
    EXPECT_EQ(adapter->EepromWord(4), 0xFFFF);
    EXPECT_EQ(adapter->EepromWord(6), 0xFFFF);
    EXPECT_EQ(adapter->ControllerRegister(15) & 0x0F, 0);
}

TEST_F(EepromTest, WriteSendsEnableWriteAndDisableBitForBit)
{
    Plug();
    EXPECT_EQ(fxo.FupWriteEEProm(0x45, 0x1234), 1);
    const auto periods = ClockedBits();
    ASSERT_EQ(periods.size(), 3u);
    EXPECT_EQ(periods[0], "1001100000");
    EXPECT_EQ(periods[1], "101" "000101" "0001001000110100");
    EXPECT_EQ(periods[2], "1000000000"); // after the write, in the status period
    EXPECT_EQ(adapter->EepromWord(5), 0x1234);
}

TEST_F(EepromTest, ReadSendsOnlyTheLowSixAddressBits)
{
    Plug();
    adapter->SetEepromWord(5, 0xA5C3);
    EXPECT_EQ(fxo.FupReadEEProm(0x45), 0xA5C3);
    const auto periods = ClockedBits();
    ASSERT_EQ(periods.size(), 1u);
    EXPECT_EQ(periods[0], "110" "000101" + std::string(16, '0'));
}

TEST_F(EepromTest, AWriteWithoutWriteEnableIsRefused)
{
    Plug();
    WriteWithoutEnable(9, 0x0102);
    EXPECT_EQ(adapter->EepromWord(9), 0xFFFF);
    // The library's own write enables, writes and disables again.
    EXPECT_EQ(fxo.FupWriteEEProm(9, 0x0102), 1);
    EXPECT_EQ(fxo.FupReadEEProm(9), 0x0102);
    WriteWithoutEnable(9, 0x0304);
    EXPECT_EQ(adapter->EepromWord(9), 0x0102);
}

TEST_F(EepromTest, ModelNameIsInWords17To26)
{
    Scenario scenario = PresetScenario("cn");
    scenario.model = "DuoTarnbox";
    UseScenario(scenario);
    Plug();
    std::u16string name;
    for (uint8_t address = 17; address <= 26; ++address)
        name += static_cast<char16_t>(fxo.FupReadEEProm(address));
    EXPECT_EQ(name, u"DuoTarnbox");

    UseScenario(PresetScenario("us"));
    Plug();
    name.clear();
    for (uint8_t address = 17; address <= 26; ++address)
        name += static_cast<char16_t>(fxo.FupReadEEProm(address));
    EXPECT_EQ(name, std::u16string(u"Tarnbox\0\0\0", 10));
}

TEST_F(EepromTest, ChipSelectionIsDroppedDuringAnOperationAndRestoredAfter)
{
    Plug();
    fxo.WriteByte(1, 0x28);
    adapter->ClearLogs();
    fxo.FupReadEEProm(3);
    EXPECT_EQ(WritesTo(1), (std::vector<uint8_t>{0x20, 0x28}));
    adapter->ClearLogs();
    fxo.FupWriteEEProm(3, 1);
    EXPECT_EQ(WritesTo(1), (std::vector<uint8_t>{0x20, 0x28}));
}

TEST_F(EepromTest, AWriteThatLosesAReportIsNotReportedDone)
{
    Plug();
    adapter->FailNextSends(1, 40);
    EXPECT_EQ(fxo.FupWriteEEProm(7, 0x7777), 0);
}

TEST_F(FxoTest, LedSwitchKeepsTheLowBitsAndClearsBit7)
{
    Plug();
    EXPECT_EQ(fxo.ReadByte(10), 0xBF);
    EXPECT_EQ(fxo.FupLedSwitch(1), 1);
    EXPECT_TRUE(adapter->LedOn());
    EXPECT_EQ(fxo.FupLedSwitch(0), 1);
    EXPECT_FALSE(adapter->LedOn());
    EXPECT_EQ(WritesTo(10), (std::vector<uint8_t>{0x7F, 0x3F}));

    adapter->ClearLogs();
    adapter->FailNextSends(1, 1);
    EXPECT_EQ(fxo.FupLedSwitch(1), 0); // the write was lost
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.FupLedSwitch(1), 0); // nothing read, nothing written
    EXPECT_TRUE(WritesTo(10).empty());
    EXPECT_FALSE(adapter->LedOn());
}

TEST_F(FxoTest, PhoneSwitchIsBit5OfTheSelectRegisterClearWhenOn)
{
    Plug();
    EXPECT_EQ(fxo.FupPhoneSwitch(1), 1);
    EXPECT_EQ(fxo.FupPhoneSwitch(0), 1);
    EXPECT_EQ(WritesTo(1), (std::vector<uint8_t>{0x04, 0x24}));
    adapter->FailNextGets(1);
    EXPECT_EQ(fxo.FupPhoneSwitch(1), 0);
    EXPECT_EQ(WritesTo(1).size(), 2u);
}

TEST_F(FxoTest, SerialNumberComesFromTheScenario)
{
    Scenario scenario;
    scenario.serial = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
    UseScenario(scenario);
    Plug();
    uint8_t serial[6] = {};
    EXPECT_EQ(fxo.GetSerialNumber(serial), 1);
    EXPECT_EQ(std::vector<uint8_t>(serial, serial + 6), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}));
}

} // namespace
} // namespace parvane::test
