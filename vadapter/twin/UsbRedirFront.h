#pragma once
// The twin on a virtual USB port: it speaks the usbredir protocol as the
// device side to a peer such as QEMU's usb-redir socket, so the guest
// kernel's xhci, usbhid and snd-usb-audio drivers handle it as they would the
// real adapter. Requests go to UsbAdapterDevice; the line audio goes out as
// one isochronous packet a millisecond while the host's stream runs, paced
// by a monotonic clock. Single-threaded: Serve() does all the work.

#include "vadapter/twin/UsbAdapterDevice.h"

#include <chrono>
#include <cstdint>
#include <string>

struct usbredirparser;

namespace parvane {

class UsbRedirFront {
public:
    // fd: a connected stream socket (the front takes it over and closes it).
    UsbRedirFront(int fd, UsbAdapterDevice& device, uint16_t vendorId, uint16_t productId);
    ~UsbRedirFront();
    UsbRedirFront(const UsbRedirFront&) = delete;
    UsbRedirFront& operator=(const UsbRedirFront&) = delete;

    // Waits up to timeoutMs (less when a packet is due) for the peer, answers
    // it and sends what is due. False when the socket failed or closed.
    bool Serve(int timeoutMs, std::string& error);
    // The unplug: device_disconnect, written out before returning.
    void Unplug();

    long LinePacketsSent() const { return m_linePackets; }
    // Milliseconds of line audio skipped because the twin fell behind.
    long LineMsSkipped() const { return m_lineSkippedMs; }
    bool Connected() const { return m_connected; }

private:
    static int Read(void* self, uint8_t* data, int count);
    static int Write(void* self, uint8_t* data, int count);
    void Announce();
    void SendInterfacesAndEndpoints();
    void SendDueLinePackets();
    void StartLineStream();
    // Ends the line stream (if it runs) and logs what it sent on the
    // twin's clock: the figure a capture's frame count is measured against.
    void EndLineStream(const char* why);
    bool Flush(std::string& error);

    friend struct UsbRedirCallbacks;
    int m_fd;
    UsbAdapterDevice& m_device;
    uint16_t m_vendorId;
    uint16_t m_productId;
    usbredirparser* m_parser = nullptr;
    bool m_closed = false;
    bool m_connected = false;
    bool m_lineRunning = false;
    std::chrono::steady_clock::time_point m_nextLinePacket;
    long m_linePackets = 0;
    long m_lineSkippedMs = 0;
    std::chrono::steady_clock::time_point m_createdAt; // the times logged count from here
    std::chrono::steady_clock::time_point m_lineStartedAt;
    long m_streamPackets = 0;   // of the current line stream
    long m_streamSkippedMs = 0;
};

} // namespace parvane
