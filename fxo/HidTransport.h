#pragma once
// The one way the line-device library reaches an adapter: open the first
// device with given USB identifiers and exchange feature reports with it.
// Two backends sit behind it, chosen at run time: the system's HID backend for
// real adapters (hidapi's hidraw backend on Linux, SetupAPI and HidD_* on
// Windows), and the virtual adapter when PARVANE_VIRTUAL_ADAPTER is set.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fxo {

// An open device. Destroying it closes it.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    // Feature reports; byte 0 is the report ID and the length counts it. A
    // send that moves fewer bytes than asked fails; a fetch fails when it
    // brings fewer than the bytes the library reads (hidraw: the report id
    // and bytes 1 to 6), the rest of the buffer left as it was. On failure
    // error holds an errno value (never 0).
    virtual bool SendFeature(const uint8_t* report, size_t length, int& error) = 0;
    virtual bool GetFeature(uint8_t* report, size_t length, int& error) = 0;
    // A number naming the open device in log lines.
    virtual uint32_t Handle() const = 0;
};

class HidBackend {
public:
    virtual ~HidBackend() = default;
    // Opens the first present device whose vendor and product ids match; a
    // device that cannot be opened is skipped. Returns nullptr when none
    // opens; enumerationFailed tells that the device list itself could not
    // be had. path is the opened device's path.
    virtual std::unique_ptr<HidDevice> OpenFirst(uint16_t vendorId, uint16_t productId, std::string& path,
                                                 bool& enumerationFailed) = 0;
};

// The backend in force now: the virtual adapter when it is chosen, else the
// system's.
HidBackend& ChosenHidBackend();

#ifdef _WIN32
HidBackend& WindowsHidBackend();
#else
HidBackend& HidrawBackend();
#endif
HidBackend& VirtualBackend();

} // namespace fxo
