#pragma once
// Bringing up port 1 of the adapter, free of any toolkit: the part of the
// main dialog's start-up that the headless front end shares.
//
//   CDeviceOper device;
//   std::string model;
//   DeviceStartUpResult result = StartUpDevice(device, &run, kAdapterVendorId, SleepMs, model);
//   if (result != DeviceStartUpResult::Ready) fail with DeviceStartUpFailureText(result)
//
// In order: vendor id, product id 0x0110 and port index 0 on the device
// object; its libraries loaded (the result does not matter: a missing
// library shows up as no adapter); its line watch started; the adapter
// searched for with the product ids 0x0110, 0x2110 and 0x2111 in turn; the
// DAA initialised; the model name read from the EEPROM, at most four times
// with a second's wait after each miss.

#include <cstdint>
#include <functional>
#include <string>

class AnswerRequester;
class CDeviceOper;

namespace parvane {

enum class DeviceStartUpResult {
    Ready,
    HardwareNotFound, // "Hardware is not found"
    PortInitFailed,   // "Port 1 init failed"
    NoSupportAudio,   // "No support audio"
};

// The fixed message of a failure ("" for Ready).
const char* DeviceStartUpFailureText(DeviceStartUpResult result);

// Model names the program supports, in the order they are looked for: a
// name that contains another comes first.
inline constexpr const char* kSupportedModelNames[] = {"DuoTarnbox", "Tarnbox", "Quillbox"};
inline constexpr int kModelNameReads = 4;
inline constexpr uint32_t kModelNameRetryMs = 1000;

// The first supported model name contained in the text read from the
// EEPROM, or "" when none is.
std::string FindSupportedModelName(const std::string& eepromText);

// The model-name cells as text: UTF-16 up to the first 0 cell.
std::string ModelNameCellsToText(const uint16_t* cells, int count);

// Runs the start-up on the device object. `requester` is told of confirmed
// rings (may be null); `sleep` waits between model-name reads. On Ready,
// modelName holds the supported model name found, and it has become the
// AudioDeviceName that picks the audio devices and fills "[ProductName]".
// For an adapter that is present but whose node cannot be opened: the node,
// the reason and the fix in one line; empty otherwise (and on the virtual
// adapter). StartUpDevice writes it to the trace when no adapter opens.
std::string AdapterAccessProblemFor(uint16_t vendorId);

DeviceStartUpResult StartUpDevice(CDeviceOper& device, AnswerRequester* requester, uint16_t vendorId,
                                  const std::function<void(uint32_t)>& sleep, std::string& modelName);

} // namespace parvane
