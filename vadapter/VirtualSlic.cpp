#include "vadapter/VirtualSlic.h"

namespace parvane {

namespace {

constexpr uint8_t kIndirectDataLow = 28;
constexpr uint8_t kIndirectDataHigh = 29;
constexpr uint8_t kIndirectAddress = 30;
constexpr uint8_t kIndirectStatus = 31;

} // namespace

void VirtualSlic::PowerOn()
{
    m_direct.fill(0);
    m_indirect.fill(0);
    m_direct[8] = 0x02;  // audio loopback control
    m_direct[11] = 0x33; // hybrid control
    m_direct[64] = 0x00; // line feed open
    m_dataWritten = false;
}

void VirtualSlic::Write(uint8_t reg, uint8_t value)
{
    if (reg == kIndirectStatus)
        return;
    m_direct[reg] = value;
    if (reg == kIndirectDataLow || reg == kIndirectDataHigh) {
        m_dataWritten = true;
    } else if (reg == kIndirectAddress) {
        if (m_dataWritten) {
            m_indirect[value] = static_cast<uint16_t>(m_direct[kIndirectDataHigh] << 8 | m_direct[kIndirectDataLow]);
        } else {
            m_direct[kIndirectDataLow] = static_cast<uint8_t>(m_indirect[value] & 0xFF);
            m_direct[kIndirectDataHigh] = static_cast<uint8_t>(m_indirect[value] >> 8);
        }
        m_dataWritten = false;
    }
}

uint8_t VirtualSlic::Read(uint8_t reg) const
{
    if (reg == kIndirectStatus)
        return 0;
    return m_direct[reg];
}

} // namespace parvane
