#pragma once
// Capture in the shape of a wave-in device: open a device by id with a format
// and a callback, queue caller-owned buffers, start, stop, reset, close.
//
// Buffer cycle: the caller queues buffers with AddBuffer; while started, the
// device fills them in queue order and hands each one back, marked done,
// through the callback (WaveInMessage::Data) with bytesRecorded set. A buffer
// handed back is the caller's again until it is queued anew. Stop hands back
// the buffer being filled (partly filled) and keeps the empty ones queued;
// Reset hands back every queued buffer; Close refuses while buffers are
// queued (reset first), then sends WaveInMessage::Close.
//
// Threads: the backend's real-time context only copies samples into an
// internal ring and signals. Data callbacks run on the WaveIn's own delivery
// thread, one at a time, never on the real-time thread; the Open and Close
// messages arrive on the caller's thread inside Open and Close. A Data
// callback may call AddBuffer (that is what it is for), Prepare and
// Unprepare; Stop and Reset from it hand the buffers back at once; Close from
// it is refused (WrongThread). It must return quickly: data keeps arriving
// into the ring meanwhile (about two seconds fit before frames are dropped).
//
// Stop, Reset and Close return only after every callback they cause has run,
// and no callback runs after Close has returned.

#include "platform/AudioDevices.h"

#include <cstdint>
#include <memory>
#include <string>

namespace parvane {

// Flag bits of WaveBuffer::flags.
constexpr uint32_t kWaveBufferDone = 0x1;     // handed back by the device
constexpr uint32_t kWaveBufferPrepared = 0x2; // Prepare was called
constexpr uint32_t kWaveBufferInQueue = 0x10; // owned by the device

// One capture buffer, owned by the caller (the memory too).
struct WaveBuffer {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;  // bytes; a whole number of frames
    uint32_t bytesRecorded = 0; // set when handed back
    uintptr_t user = 0;         // free for the caller
    uint32_t flags = 0;
    uint32_t loops = 0;         // unused by capture, kept for the caller
};

enum class WaveInMessage { Open, Data, Close };

enum class WaveResult {
    Ok = 0,
    BadDeviceId,     // no such device id
    DeviceFailed,    // the backend could not open or start the device
    BadFormat,       // format not supported (only 16-bit PCM is)
    InvalidHandle,   // not open
    StillQueued,     // Close with buffers still queued
    Unprepared,      // AddBuffer of a buffer not prepared
    InvalidParameter, // null buffer, zero length, not whole frames, already queued
    WrongThread       // Close called from inside the callback
};

// A short English text for a result ("" for Ok).
const char* WaveResultText(WaveResult result);

class WaveIn;
using WaveInCallback = void (*)(WaveIn* device, WaveInMessage message, void* instance, WaveBuffer* buffer);

class WaveIn final {
public:
    WaveIn();
    // Resets and closes when still open.
    ~WaveIn();
    WaveIn(const WaveIn&) = delete;
    WaveIn& operator=(const WaveIn&) = delete;

    // Opens device `deviceId` of AudioInputDeviceNames(). The callback gets
    // WaveInMessage::Open before Open returns.
    WaveResult Open(int deviceId, const AudioFormat& format, WaveInCallback callback, void* instance);
    WaveResult Prepare(WaveBuffer* buffer);
    WaveResult Unprepare(WaveBuffer* buffer);
    WaveResult AddBuffer(WaveBuffer* buffer);
    WaveResult Start();
    WaveResult Stop();
    WaveResult Reset();
    WaveResult Close();

    bool IsOpen() const;
    // The backend's text for the last DeviceFailed.
    std::string LastError() const;
    // Frames lost because no buffer was queued for them in time (about two
    // seconds) or because Stop or Reset discarded them.
    uint64_t DroppedFrames() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace parvane
