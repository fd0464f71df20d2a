#pragma once
// State of one loaded copy of the line-device library and the operations on
// the adapter's controller registers everything else is built from: device
// discovery with the plug state, the four feature-report kinds, chip
// selection and the DAA and SLIC register transfers.
//
// All state lives once per loaded library file (the program loads one file
// per port). Nothing here locks: the host serialises calls into one copy.

#include "fxo/HidTransport.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace fxo {

// Controller registers.
constexpr uint8_t CTRL_MODE = 0;
constexpr uint8_t CTRL_SELECT = 1;
constexpr uint8_t CTRL_LINE = 10;
constexpr uint8_t CTRL_EEPROM = 15;
constexpr uint8_t CTRL_PCM = 16;
constexpr uint8_t CTRL_SPI = 25;
constexpr uint8_t CTRL_SLIC_DATA = 26;
constexpr uint8_t CTRL_DAA_DATA = 27;
constexpr uint8_t CTRL_SERIAL = 30;

// The in-band value of a register read that could not be completed.
constexpr uint8_t kFailedRead = 243;

// The adapter reset command, written to CTRL_MODE.
constexpr uint8_t kResetCommand = 0x20;
// CTRL_SELECT after a reset: the serial bus routed to the DAA.
constexpr uint8_t kSelectAfterReset = 0x24;

struct LibraryState {
    std::unique_ptr<HidDevice> device;     // the open adapter
    std::unique_ptr<HidDevice> candidate;  // opened by discovery, not yet taken
    bool plugged = false;
    int32_t portIndex = -1;
    uint8_t selectShadow = kSelectAfterReset;
    uint8_t eepromPortShadow = 0;
    // SLIC oscillator shadows: direct registers 36-43, indirect 13-18.
    std::array<uint8_t, 8> slicDirectShadow{};
    std::array<uint16_t, 6> slicIndirectShadow{};
    // errno value of the last failed exchange.
    int lastError = 0;
    // Called-party hang-up detector.
    std::array<char, 150> hangUpWindow{};
    int hangUpSampleCount = 0;
    int hangUpOnesCount = 0;
    int hangUpSilentWindows = 0;
};

LibraryState& State();

// Discovery and plug-state update: the device when found, else nullptr.
HidDevice* UsbHidOpen(uint16_t vendorId, uint16_t productId);
// Forgets the device: not plugged, handle closed.
void CloseDevice();
void ClearSlicShadows();

bool Write_BYTE(uint8_t reg, uint8_t value);
uint8_t Read_BYTE(uint8_t reg);
// Read_BYTE that also says whether the exchange succeeded (nullopt when it
// failed or nothing is plugged); the select shadow is kept as Read_BYTE does.
std::optional<uint8_t> ReadRegister(uint8_t reg);
bool Write_4BYTE(uint8_t reg, const uint8_t data[4]);
bool GetSerial(uint8_t out[6]);

// Route the serial bus to one chip; false when the select write was lost.
bool SelectDaa();
bool SelectSlic();

bool WriteDaaRegister(uint8_t reg, uint8_t value);
// nullopt when not plugged or the transfer or read failed.
std::optional<uint8_t> ReadDaaRegister(uint8_t reg);
bool WriteSlicDirectRegister(uint8_t reg, uint8_t value);
std::optional<uint8_t> ReadSlicDirectRegister(uint8_t reg);

// Indirect SLIC registers, through direct registers 28 to 31. The write is
// true once all three of its transfers were sent. ReadSlicIndirectRegister
// gives the failure value in each byte whose read failed; ReadSlicIndirect
// gives nullopt when any transfer of the read failed.
void WaitIndirectReady();
bool WriteSlicIndirectRegister(uint8_t reg, uint16_t value);
uint16_t ReadSlicIndirectRegister(uint8_t reg);
std::optional<uint16_t> ReadSlicIndirect(uint8_t reg);

// The errno value of the last failed exchange, never 0 or 1 (those are line
// states where it is returned in place of a reading).
int32_t LastErrorCode();

} // namespace fxo
