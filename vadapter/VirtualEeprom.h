#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace parvane {

// The adapter's serial EEPROM: 64 words of 16 bits behind a clocked
// three-wire protocol (chip select, clock, data in, data out), driven pin by
// pin through controller register 15. Bits of that register: 0 port enable,
// 1 chip select, 2 clock, 3 data in; bit 4 reads back data out.
// Instructions after a start bit: 10 read, 01 write, 11 erase, and 00 with
// the next two address bits 11 write enable, 00 write disable, 01 write
// all, 10 erase all. Writes and erases are refused until write enable.
// Not thread-safe on its own; the adapter holds its lock around every call.
class VirtualEeprom {
public:
    static constexpr int kWords = 64;

    // Contents: the model name in words 17 to 26 (one UTF-16 unit a word,
    // the rest 0), every other word erased (0xFFFF).
    void Fill(const std::string& modelName);
    // Power-on or adapter reset: the pins and the instruction decoder start
    // over, write protection comes back on; the contents stay.
    void PowerOn();

    // A new value of the port's output bits.
    void SetPort(uint8_t value);
    // The data-out pin as register 15 bit 4 reads it.
    bool DataOut() const { return m_dataOut; }

    uint16_t Word(int address) const { return m_words[static_cast<size_t>(address & 0x3F)]; }
    void SetWord(int address, uint16_t value) { m_words[static_cast<size_t>(address & 0x3F)] = value; }
    bool WriteEnabled() const { return m_writeEnabled; }

private:
    enum class Phase { Idle, WaitStart, Command, ReadData, WriteData, Done };

    void ClockIn(bool bit);
    void Execute();

    std::array<uint16_t, kWords> m_words{};
    uint8_t m_port = 0;
    Phase m_phase = Phase::Idle;
    int m_bitsIn = 0;
    uint32_t m_shift = 0;
    int m_opcode = 0;
    int m_address = 0;
    int m_bitsOut = 0;
    uint16_t m_outWord = 0;
    bool m_dataOut = true;
    bool m_writeEnabled = false;
};

} // namespace parvane
