#pragma once
// The twin as the kernel's HID layer sees a USB adapter: a device created
// through /dev/uhid with the adapter's identifiers and a report descriptor
// holding one 8-byte vendor feature report, whose GET_REPORT and SET_REPORT
// requests go to the register model (VirtualAdapter). hidraw then shows it to
// hidapi as it shows the real adapter.
//
// Framing, as usbhid frames the real adapter's reports for hidraw: a
// SET_REPORT arrives as hidraw passed it (report id 0 in byte 0, 9 bytes) and
// goes to the model as it stands; a GET_REPORT is answered with the model's 9
// bytes, report id 0 in byte 0 (uhid hands the reply to hidraw verbatim).
// replyLength other than 9 answers with that many bytes instead (cut off or
// padded with zeros), as an adapter that replies short or long would.

#include "vadapter/VirtualAdapter.h"

#include <cstdint>
#include <string>

namespace parvane {

struct UhidIdentity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string name;          // the model name
    std::string serial;        // shown as the device's uniq string
    bool featureReport = true; // false: an interface without the adapter's report
};

class UhidFront {
public:
    // fd: /dev/uhid opened read-write, or a test's end of a socket pair.
    UhidFront(int fd, VirtualAdapter& adapter, UhidIdentity identity, size_t replyLength = 9);
    ~UhidFront();

    // Creates the device (UHID_CREATE2). False with errno's text on failure.
    bool Create(std::string& error);
    // Waits up to timeoutMs for one request and answers it. False when the fd
    // failed or closed (error says why); true on a timeout too.
    bool Serve(int timeoutMs, std::string& error);
    // Removes the device: hidraw's node goes, as on an unplug.
    void Destroy();

    int ReportsServed() const { return m_served; }

private:
    int ModelHandle();
    bool Reply(const void* event, size_t size, std::string& error);

    int m_fd;
    VirtualAdapter& m_adapter;
    UhidIdentity m_identity;
    size_t m_replyLength;
    int m_handle = 0;
    bool m_created = false;
    int m_served = 0;
};

} // namespace parvane
