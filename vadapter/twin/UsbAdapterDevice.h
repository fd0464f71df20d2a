#pragma once
// The twin as a full-speed composite USB device, without any transport: its
// descriptors and the answers to the requests on endpoint 0 (standard, HID
// class, USB audio class), plus the bytes of its isochronous streams. The
// usbredir front (UsbRedirFront) carries these to a virtual USB port; a test
// or a fuzz target can drive them directly.
//
// Interfaces: [the other HID interface, with --other-interface], the
// adapter's HID interface (one 8-byte feature report, no report ids, and the
// interrupt IN endpoint usbhid requires), then, unless audio is off, USB
// audio class 1: a control interface, a streaming interface taking the
// host's playback (iso OUT, adaptive) and one carrying the line audio (iso
// IN, asynchronous), both 48000 Hz, 16-bit stereo.

#include "vadapter/VirtualAdapter.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace parvane {

struct UsbIdentity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string product;       // the model name: snd-usb-audio names the card after it
    std::string serial;
    bool otherInterface = false; // an interface without the adapter's report comes first
    bool audio = true;
    size_t replyLength = 9;    // bytes of a feature-report reply, report id included
};

struct UsbSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

struct UsbEndpoint {
    uint8_t address = 0;
    uint8_t type = 0;          // 1 iso, 3 interrupt
    uint8_t interval = 0;
    uint8_t interfaceNumber = 0;
    uint16_t maxPacketSize = 0;
};

struct UsbInterfaceClass {
    uint8_t number = 0;
    uint8_t interfaceClass = 0;
    uint8_t subclass = 0;
    uint8_t protocol = 0;
};

class UsbAdapterDevice {
public:
    static constexpr uint8_t kLineInEndpoint = 0x83;  // line audio to the host
    static constexpr uint8_t kPlaybackEndpoint = 0x02; // the host's playback
    // The line audio goes out in packets of 1.5 ms (72 frames, every third
    // USB frame empty), not one a millisecond: the host polls the endpoint
    // every millisecond, so polls outnumber packets and a host that keeps up
    // only most of the time (QEMU's usb-redir queues the packets for a guest
    // and drops them when it falls 120 packets behind) still drains the
    // queue. An asynchronous endpoint may vary its packets like this; 72
    // frames is the largest one snd-usb-audio expects at 48000 Hz.
    static constexpr size_t kFramesPerPacket = VirtualAdapter::kLineAudioRate * 3 / 2000;
    static constexpr size_t kBytesPerPacket = kFramesPerPacket * 4;
    static constexpr long kPacketPeriodUs = 1500;

    UsbAdapterDevice(VirtualAdapter& adapter, UsbIdentity identity);
    ~UsbAdapterDevice();

    // A control request on endpoint 0. OUT requests bring their data; IN
    // requests get it back (at most setup.length bytes). False: stall.
    bool Control(const UsbSetup& setup, const std::vector<uint8_t>& out, std::vector<uint8_t>& in);
    bool SetConfiguration(uint8_t configuration);
    bool SetAltSetting(uint8_t interfaceNumber, uint8_t alt);
    uint8_t Configuration() const { return m_configuration; }
    uint8_t AltSetting(uint8_t interfaceNumber) const;
    // Back to the unconfigured state (a bus reset or an unplug).
    void Reset();

    std::vector<UsbInterfaceClass> Interfaces() const;
    // The endpoints of the current configuration and alternate settings.
    std::vector<UsbEndpoint> Endpoints() const;

    // The sampling frequency the host set on an audio endpoint (48000 until then).
    uint32_t SamplingFrequency(uint8_t endpoint) const;

    // The line audio stream: starting it takes the moment it starts; each
    // call gives the next packet (kBytesPerPacket bytes, S16_LE stereo):
    // silence on-hook, the line audio off-hook.
    void StartLineStream();
    std::vector<uint8_t> NextLinePacket();
    // The host's playback: the stream starts, takes packets and stops. The
    // twin logs the start and the level it heard.
    void StartPlayback();
    void TakePlayback(const uint8_t* data, size_t size);
    void StopPlayback();
    long Playbacks() const { return m_playbacks; }
    // Peak level of the last (or current) playback, 0 to 32768.
    int PlaybackPeak() const { return m_playbackPeak; }

    // The host opened or closed the adapter's HID interface (usbhid runs
    // its interrupt endpoint while hidraw's node is open): the model starts
    // its call timing at the open.
    void InterruptReceiving(uint8_t endpoint, bool running);

    int ReportsServed() const { return m_served; }
    // The most feature-report exchanges (SET_REPORT and GET_REPORT) within
    // any one second while the HID interface was last open.
    int BusiestSecondExchanges() const { return m_busiestSecond; }

private:
    std::vector<uint8_t> DeviceDescriptor() const;
    std::vector<uint8_t> ConfigurationDescriptor() const;
    std::vector<uint8_t> StringDescriptor(uint8_t index) const;
    bool HidRequest(uint8_t interfaceNumber, const UsbSetup& setup, const std::vector<uint8_t>& out,
                    std::vector<uint8_t>& in);
    bool AudioEndpointRequest(const UsbSetup& setup, const std::vector<uint8_t>& out, std::vector<uint8_t>& in);
    uint8_t AdapterInterface() const { return m_identity.otherInterface ? 1 : 0; }
    uint8_t FirstAudioInterface() const { return AdapterInterface() + 1; }
    int ModelHandle();
    // Counts one feature-report exchange for the per-second figure.
    void CountExchange();
    // Logs the exchanges counted since the HID interface opened, if any.
    void LogExchanges(const char* why);
    // Logs the line's hook changes as the model saw them; an answer with
    // the time from the end of the ring it answered.
    void NoteHook();

    VirtualAdapter& m_adapter;
    UsbIdentity m_identity;
    uint8_t m_configuration = 0;
    uint8_t m_playbackAlt = 0;
    uint8_t m_lineAlt = 0;
    uint32_t m_playbackRate = VirtualAdapter::kLineAudioRate;
    uint32_t m_lineRate = VirtualAdapter::kLineAudioRate;
    int m_handle = 0;
    int m_served = 0;
    uint64_t m_createdMs = 0;                // the adapter's clock when the device appeared
    int m_exchanges = 0;                     // since the HID interface opened
    uint64_t m_firstExchangeMs = 0;
    uint64_t m_lastExchangeMs = 0;
    std::deque<uint64_t> m_lastSecond;       // times of the exchanges within the last second
    int m_busiestSecond = 0;
    uint64_t m_lineStartMs = 0;
    int64_t m_lineFrames = 0;
    bool m_offHook = false;
    bool m_playing = false;
    int m_playbackId = 0;                     // the adapter's stream, while playing
    long m_playbacks = 0;
    int m_playbackPeak = 0;
    int64_t m_playbackFrames = 0;
};

} // namespace parvane
