// Indirect SLIC registers: 16-bit values reached through direct registers
// 28 (data low), 29 (data high), 30 (address; writing it starts the
// transfer) and 31 (status, 0 once the last transfer is done).
#include "fxo/FxoLibrary.h"

namespace fxo {

namespace {

constexpr uint8_t kDataLow = 28;
constexpr uint8_t kDataHigh = 29;
constexpr uint8_t kAddress = 30;
constexpr uint8_t kStatus = 31;
constexpr int kReadyPolls = 101;

} // namespace

void WaitIndirectReady()
{
    // No pause between polls; after the last one the caller goes on anyway.
    for (int poll = 0; poll < kReadyPolls; ++poll) {
        if (!State().plugged)
            return;
        SelectSlic();
        const uint8_t data[4] = {static_cast<uint8_t>(kStatus | 0x80), 0x00, 0x00, 0x03};
        if (Write_4BYTE(CTRL_SPI, data) && ReadRegister(CTRL_SLIC_DATA) == uint8_t{0})
            return;
    }
}

bool WriteSlicIndirectRegister(uint8_t reg, uint16_t value)
{
    if (!State().plugged)
        return false;
    SelectSlic();
    if (reg >= 13 && reg <= 18)
        State().slicIndirectShadow[static_cast<size_t>(reg - 13)] = value;
    WaitIndirectReady();
    if (State().plugged)
        WriteSlicDirectRegister(kDataLow, static_cast<uint8_t>(value & 0xFF));
    if (State().plugged)
        WriteSlicDirectRegister(kDataHigh, static_cast<uint8_t>(value >> 8));
    if (State().plugged)
        WriteSlicDirectRegister(kAddress, reg);
    return true;
}

uint16_t ReadSlicIndirectRegister(uint8_t reg)
{
    if (!State().plugged)
        return 0;
    SelectSlic();
    WaitIndirectReady();
    WriteSlicDirectRegister(kAddress, reg);
    WaitIndirectReady();
    const uint8_t high = ReadSlicDirectRegister(kDataHigh).value_or(kFailedRead);
    const uint8_t low = ReadSlicDirectRegister(kDataLow).value_or(kFailedRead);
    return static_cast<uint16_t>(high * 256 + low);
}

} // namespace fxo
