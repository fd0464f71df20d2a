#pragma once
// The virtual adapter: a software twin of the USB telephone adapter.
//
// One instance per process lives in libparvane_vadapter.so. Consumers that
// must not link against it (the line-device library, the tone-detection
// library, capture and playback) reach it through
// parvane::ChosenVirtualAdapter() (platform/VirtualAdapterLink.h), which
// loads the library by file name and calls its one C entry point; everything
// else is a virtual call on this interface, so no other symbol crosses.
// Tests link the library directly and share the same instance.
//
// It answers 9-byte feature reports exactly as the hardware does and never
// looks at the state of whoever talks to it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parvane {

struct VirtualHidDevice {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string path;
};

class VirtualAdapter {
public:
    virtual ~VirtualAdapter() = default;

    // ---- USB-HID transport ------------------------------------------------
    // Devices present on the virtual bus (none while unplugged).
    virtual std::vector<VirtualHidDevice> Enumerate() = 0;
    // Opens the first present device with these ids: a handle > 0, or 0.
    virtual int Open(uint16_t vendorId, uint16_t productId) = 0;
    virtual void Close(int handle) = 0;
    // Feature reports; byte 0 is the report ID and the length counts it.
    // Returns false when the exchange fails (unplugged, injected fault,
    // wrong length, closed handle).
    virtual bool SendFeatureReport(int handle, const uint8_t* report, size_t length) = 0;
    virtual bool GetFeatureReport(int handle, uint8_t* report, size_t length) = 0;
};

} // namespace parvane

// The library's one entry point. Loads the scenario named by
// PARVANE_VIRTUAL_ADAPTER on first use; returns nullptr (after writing why to
// the debug output) when the scenario is refused.
extern "C" parvane::VirtualAdapter* ParvaneVirtualAdapter();
