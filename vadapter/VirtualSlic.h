#pragma once
#include <array>
#include <cstdint>

namespace parvane {

// The phone-side chip (SLIC) behind the adapter's serial bus: direct
// registers with their reset values and the indirect registers reached
// through direct registers 28 to 31. Writing the indirect address (30) right
// after the data (28, 29) writes the indirect register; writing the address
// alone reads it into 28 and 29. Transfers complete at once (31 reads 0).
// Not thread-safe on its own; the adapter holds its lock around every call.
class VirtualSlic {
public:
    VirtualSlic() { PowerOn(); }

    void PowerOn();
    void Write(uint8_t reg, uint8_t value);
    uint8_t Read(uint8_t reg) const;

    uint8_t Register(uint8_t reg) const { return m_direct[reg]; }
    void SetRegister(uint8_t reg, uint8_t value) { m_direct[reg] = value; }
    uint16_t IndirectRegister(uint8_t reg) const { return m_indirect[reg]; }

private:
    std::array<uint8_t, 256> m_direct{};
    std::array<uint16_t, 256> m_indirect{};
    bool m_dataWritten = false;
};

} // namespace parvane
