#include "vadapter/VirtualDaa.h"

namespace parvane {

namespace {

constexpr uint8_t kControl1 = 1;
constexpr uint8_t kSoftReset = 0x80;
constexpr uint8_t kLoopCurrent = 28; // read-only; 0 while on-hook
// What the bus reads when no chip drives it.
constexpr uint8_t kFloatingBus = 0xFF;

} // namespace

void VirtualDaa::ResetRegisters()
{
    m_registers.fill(0);
    m_registers[2] = 0x03;  // DAA control: interrupt pins inactive
    m_registers[6] = 0x70;  // DAA control 2: powered down until configured
    m_registers[11] = 0x13; // system and line-side revision
    m_registers[22] = 0x96; // ring validation control 1-3
    m_registers[23] = 0x2D;
    m_registers[24] = 0x19;
    m_registers[26] = 0x00; // DC termination
    m_registers[31] = 0x20; // DAA control 5
    m_registers[33] = 0x00; // PCM/SPI mode select
}

void VirtualDaa::PowerOn()
{
    ResetRegisters();
    m_silent = false;
}

void VirtualDaa::Write(uint8_t reg, uint8_t value)
{
    if (reg == kControl1 && (value & kSoftReset) != 0 && m_present) {
        // The soft reset clears itself; a chip told to fail its start-up
        // stays silent until the next reset.
        ResetRegisters();
        m_silent = m_startupFailures > 0;
        if (m_silent)
            --m_startupFailures;
        return;
    }
    if (!Answering() || reg == kLoopCurrent)
        return;
    m_registers[reg] = value;
}

uint8_t VirtualDaa::Read(uint8_t reg) const
{
    if (!Answering())
        return kFloatingBus;
    if (reg == kLoopCurrent)
        return OffHook() ? m_loopCurrent : 0;
    return m_registers[reg];
}

} // namespace parvane
