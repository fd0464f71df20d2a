#pragma once
// The adapter's EEPROM (model name in words 17 to 26), LED and phone switch.
#include <cstdint>

namespace fxo {

uint16_t FupReadEEProm(uint8_t address);
int32_t FupWriteEEProm(uint8_t address, uint16_t value);
int32_t FupLedSwitch(int32_t on);
bool FupPhoneSwitch(bool on);

} // namespace fxo
