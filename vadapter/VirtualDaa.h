#pragma once
#include <array>
#include <cstdint>

namespace parvane {

// The line-side chip (DAA) behind the adapter's serial bus: its register
// file with reset values, soft reset, the hook bit and the loop current.
// Not thread-safe on its own; the adapter holds its lock around every call.
class VirtualDaa {
public:
    VirtualDaa() { PowerOn(); }

    // Power-on or adapter reset: registers to their reset values, on-hook.
    void PowerOn();

    void Write(uint8_t reg, uint8_t value);
    uint8_t Read(uint8_t reg) const;

    // True while register 5 bit 0 holds the line off-hook.
    bool OffHook() const { return Answering() && (m_registers[5] & 0x01) != 0; }

    // Test controls: a chip that never answers, one that fails to come out of
    // its next soft resets (it stays silent until the following one), and the
    // loop current register 28 reads while off-hook (0: a dead line).
    void SetAnswering(bool answering) { m_present = answering; }
    void FailStartups(int count) { m_startupFailures = count; }
    void SetLoopCurrent(uint8_t reading) { m_loopCurrent = reading; }

    uint8_t Register(uint8_t reg) const { return m_registers[reg]; }

private:
    bool Answering() const { return m_present && !m_silent; }
    void ResetRegisters();

    std::array<uint8_t, 256> m_registers{};
    bool m_present = true;
    bool m_silent = false;
    int m_startupFailures = 0;
    uint8_t m_loopCurrent = 22; // a live line
};

} // namespace parvane
