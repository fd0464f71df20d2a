#pragma once
// The virtual adapter: a software twin of the USB telephone adapter.
//
// One instance per process lives in libparvane_vadapter.so. Consumers that
// must not link against it (the line-device library, the tone-detection
// library, capture and playback) reach it through
// parvane::ChosenVirtualAdapter() (platform/VirtualAdapterLink.h), which
// loads the library by file name and calls its one C entry point; everything
// else is a virtual call on this interface, so no other symbol crosses.
// Tests link the library directly and share the same instance; their extra
// controls are on the concrete class (vadapter/VirtualAdapterDevice.h).
//
// It answers 9-byte feature reports exactly as the hardware does and never
// looks at the state of whoever talks to it. Every member is safe to call
// from any thread.

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
    // Return false when the exchange fails (unplugged, injected fault, wrong
    // length or framing, closed handle) and put an errno value in error.
    virtual bool SendFeatureReport(int handle, const uint8_t* report, size_t length, int& error) = 0;
    virtual bool GetFeatureReport(int handle, uint8_t* report, size_t length, int& error) = 0;

    // ---- Line and clock ---------------------------------------------------
    // The clock the adapter runs on: milliseconds of a monotonic clock (tests
    // may replace it with one they drive). Line audio is paced by it.
    virtual uint64_t NowMs() = 0;
    // True while the DAA holds the line off-hook.
    virtual bool IsOffHook() = 0;
    // NowMs() at the moment the line last went off-hook (0 before it ever did).
    virtual uint64_t OffHookSinceMs() = 0;
    // NowMs() when the last ring burst before that off-hook ended (the
    // off-hook moment itself when it came during a burst); 0 when the line
    // went off-hook without having rung.
    virtual uint64_t LastRingEndMs() = 0;
    // The model name of the scenario (also held in EEPROM words 17 to 26).
    virtual std::string ModelName() = 0;

    // ---- USB audio ----------------------------------------------------------
    // The adapter's USB audio interface: one input carrying the line audio and
    // one output, both named AudioDeviceName(). Capture and playback in
    // platform/ (VirtualAudioBackend) pace themselves and call these.

    // "<model> USB Audio (virtual)", e.g. "Tarnbox USB Audio (virtual)".
    virtual std::string AudioDeviceName() = 0;
    // Sample rate of the line audio: 48000 Hz, 16-bit, stereo.
    static constexpr uint32_t kLineAudioRate = 48000;
    // Renders `frames` stereo frames of what the answered line carries (the
    // same on both channels), the first of them `firstFrame` frames after the
    // line went off-hook; frames before that (negative positions) are
    // silence. Pure: the same position always gives the same tone (the
    // noise under it is random). Capture renders silence itself while the
    // line is on-hook.
    virtual void RenderLineAudio(int16_t* interleaved, size_t frames, int64_t firstFrame) = 0;
    // Playback on the adapter's output: a stream opens (any rate, 1 or 2
    // channels; returns its id), takes frames and closes. Tests see what was
    // played through VirtualAdapterDevice::Playbacks().
    virtual int BeginPlayback(uint32_t sampleRate, uint16_t channels) = 0;
    virtual void PlayAudio(int playback, const int16_t* interleaved, size_t frames) = 0;
    virtual void EndPlayback(int playback) = 0;
};

} // namespace parvane

// The library's one entry point. Loads the scenario named by
// PARVANE_VIRTUAL_ADAPTER on first use; returns nullptr (after writing why to
// the debug output) when the scenario is refused.
extern "C" parvane::VirtualAdapter* ParvaneVirtualAdapter();
