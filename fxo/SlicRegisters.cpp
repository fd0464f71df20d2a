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

struct IndirectReading {
    bool addressSent = false;
    std::optional<uint8_t> high;
    std::optional<uint8_t> low;
};

IndirectReading ReadIndirectBytes(uint8_t reg)
{
    IndirectReading reading;
    SelectSlic();
    WaitIndirectReady();
    reading.addressSent = WriteSlicDirectRegister(kAddress, reg);
    WaitIndirectReady();
    reading.high = ReadSlicDirectRegister(kDataHigh);
    reading.low = ReadSlicDirectRegister(kDataLow);
    return reading;
}

} // namespace

void WaitIndirectReady()
{
    // No pause between polls; after the last one the caller goes on anyway.
    for (int poll = 0; poll < kReadyPolls; ++poll) {
        if (!State().plugged)
            return;
        const uint8_t data[4] = {static_cast<uint8_t>(kStatus | 0x80), 0x00, 0x00, 0x03};
        if (SelectSlic() && Write_4BYTE(CTRL_SPI, data) && ReadRegister(CTRL_SLIC_DATA) == uint8_t{0})
            return;
    }
}

bool WriteSlicIndirectRegister(uint8_t reg, uint16_t value)
{
    if (!State().plugged)
        return false;
    SelectSlic();
    WaitIndirectReady();
    // Writing the address commits whatever the data registers hold, so it is
    // not sent after a data byte was lost (nor anything once unplugged).
    const bool sent = WriteSlicDirectRegister(kDataLow, static_cast<uint8_t>(value & 0xFF)) &&
                      WriteSlicDirectRegister(kDataHigh, static_cast<uint8_t>(value >> 8)) &&
                      WriteSlicDirectRegister(kAddress, reg);
    // The shadow keeps the value the chip holds: one that never arrived is
    // written again by the next tone that needs it.
    if (sent && reg >= 13 && reg <= 18)
        State().slicIndirectShadow[static_cast<size_t>(reg - 13)] = value;
    return sent;
}

uint16_t ReadSlicIndirectRegister(uint8_t reg)
{
    if (!State().plugged)
        return 0;
    const IndirectReading reading = ReadIndirectBytes(reg);
    return static_cast<uint16_t>(reading.high.value_or(kFailedRead) * 256 + reading.low.value_or(kFailedRead));
}

std::optional<uint16_t> ReadSlicIndirect(uint8_t reg)
{
    if (!State().plugged)
        return std::nullopt;
    const IndirectReading reading = ReadIndirectBytes(reg);
    if (!reading.addressSent || !reading.high || !reading.low)
        return std::nullopt;
    return static_cast<uint16_t>(*reading.high * 256 + *reading.low);
}

} // namespace fxo
