// LED and phone switch: single bits of the controller's registers.
#include "fxo/FxoLibrary.h"
#include "fxo/Peripherals.h"

namespace fxo {

namespace {

constexpr uint8_t kLed = 0x40;         // CTRL_LINE bit 6; bit 7 is cleared with it
constexpr uint8_t kPhoneSwitch = 0x20; // CTRL_SELECT bit 5, clear = on

} // namespace

int32_t FupLedSwitch(int32_t on)
{
    if (!State().plugged)
        return 0;
    // Without a reading there is nothing safe to write back.
    const auto line = ReadRegister(CTRL_LINE);
    if (!line)
        return 0;
    const uint8_t value = static_cast<uint8_t>((*line & 0x3F) | (on != 0 ? kLed : 0));
    return Write_BYTE(CTRL_LINE, value) ? 1 : 0;
}

bool FupPhoneSwitch(bool on)
{
    if (!State().plugged)
        return false;
    const auto select = ReadRegister(CTRL_SELECT);
    if (!select)
        return false;
    const uint8_t value = on ? static_cast<uint8_t>(*select & ~kPhoneSwitch) : static_cast<uint8_t>(*select | kPhoneSwitch);
    return Write_BYTE(CTRL_SELECT, value);
}

} // namespace fxo
