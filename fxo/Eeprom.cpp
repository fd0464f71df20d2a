// The serial EEPROM, clocked bit by bit through controller register 15:
// bit 0 port enable, 1 chip select, 2 clock, 3 data in; bit 4 reads back
// data out. Instructions are a start bit, two opcode bits and six address
// bits, data most significant bit first. The EEPROM's bit timing is that of
// the report exchanges; no waits are made.
#include "fxo/FxoLibrary.h"
#include "fxo/Peripherals.h"
#include "platform/DebugPrint.h"

namespace fxo {

namespace {

constexpr uint8_t kEnable = 0x01;
constexpr uint8_t kSelect = 0x02;
constexpr uint8_t kClock = 0x04;
constexpr uint8_t kDataIn = 0x08;
constexpr uint8_t kDataOut = 0x10;

// The port as the library drives it: every change goes to the shadow and,
// while plugged, to register 15. Remembers whether any write was lost.
class EepromPort {
public:
    void Set(uint8_t bits) { Put(static_cast<uint8_t>(State().eepromPortShadow | bits)); }
    void Clear(uint8_t bits) { Put(static_cast<uint8_t>(State().eepromPortShadow & ~bits)); }
    void Put(uint8_t value)
    {
        State().eepromPortShadow = value;
        if (State().plugged)
            Write(CTRL_EEPROM, value);
    }
    void Write(uint8_t reg, uint8_t value) { m_lost = !Write_BYTE(reg, value) || m_lost; }

    void SendBit(bool bit)
    {
        Clear(kClock);
        if (bit)
            Set(kDataIn);
        else
            Clear(kDataIn);
        Set(kClock);
    }
    void SendBits(uint32_t bits, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            SendBit(((bits >> i) & 1) != 0);
    }

    // Write enable is 1,00,110000; write disable 1,00,000000.
    void WriteEnable(bool enable)
    {
        Set(kSelect);
        SendBits(enable ? 0x260 : 0x200, 10);
        Clear(kClock);
        Clear(kSelect);
    }

    bool Lost() const { return m_lost; }

private:
    bool m_lost = false;
};

} // namespace

uint16_t FupReadEEProm(uint8_t address)
{
    if (!State().plugged)
        return 0;
    DebugOutput("Call FupReadEEProm\n");
    EepromPort port;
    const uint8_t select = State().selectShadow;
    port.Write(CTRL_SELECT, select & 0x23); // neither chip selected meanwhile
    port.Write(CTRL_EEPROM, kEnable);
    port.Put(kEnable | kSelect);
    port.SendBits(0x6, 3); // start, read
    port.SendBits(address & 0x3F, 6);
    port.Clear(kClock);
    port.Clear(kDataIn);
    uint16_t word = 0;
    for (int i = 0; i < 16; ++i) {
        port.Set(kClock);
        port.Clear(kClock);
        const uint8_t value = Read_BYTE(CTRL_EEPROM);
        word = static_cast<uint16_t>(word << 1 | ((value & kDataOut) ? 1 : 0));
    }
    port.Clear(kSelect);
    port.Write(CTRL_SELECT, select & 0xEF);
    port.Write(CTRL_EEPROM, 0x00);
    State().eepromPortShadow &= static_cast<uint8_t>(~kEnable);
    return word;
}

int32_t FupWriteEEProm(uint8_t address, uint16_t value)
{
    if (!State().plugged)
        return 0;
    DebugOutput("Call FupWriteEEProm\n");
    EepromPort port;
    const uint8_t select = State().selectShadow;
    State().eepromPortShadow = kEnable;
    port.Write(CTRL_SELECT, select & 0x23);
    port.Write(CTRL_EEPROM, kEnable);
    port.WriteEnable(true);
    port.Set(kSelect);
    port.SendBits(0x5, 3); // start, write
    port.SendBits(address & 0x3F, 6);
    port.SendBits(value, 16);
    port.Clear(kClock);
    port.Clear(kDataIn);
    port.Clear(kSelect); // deselecting starts the programming cycle
    port.Set(kSelect);
    port.WriteEnable(false);
    port.Write(CTRL_SELECT, select & 0xEF);
    port.Write(CTRL_EEPROM, 0x00);
    State().eepromPortShadow &= static_cast<uint8_t>(~kEnable);
    // A lost report means the word may not have been written.
    return port.Lost() ? 0 : 1;
}

} // namespace fxo
