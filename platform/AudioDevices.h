#pragma once
// Audio devices: the lists of input and output devices with their names, and
// the backends behind them.
//
// Device ids are positions in the lists below. When the virtual adapter is
// chosen (PARVANE_VIRTUAL_ADAPTER), its USB audio device comes first in both
// lists, followed by PortAudio's devices; otherwise the lists are PortAudio's.
// Ids change when devices come and go, so callers pick a device by a
// substring of its name (FindAudioInputDevice / FindAudioOutputDevice) right
// before opening it and never keep an id across runs.
//
// Everything here is toolkit-free and lives in parvane_platform_audio, which
// the program and the tone-detection library link.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace parvane {

// 16-bit signed little-endian PCM, channels interleaved, left sample first.
struct AudioFormat {
    uint32_t sampleRate = 48000;
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16; // only 16 is supported

    uint32_t BytesPerFrame() const { return channels * (bitsPerSample / 8u); }
    uint32_t BytesPerSecond() const { return sampleRate * BytesPerFrame(); }
    bool operator==(const AudioFormat&) const = default;
};

// ---- Device lists -----------------------------------------------------------

std::vector<std::string> AudioInputDeviceNames();
std::vector<std::string> AudioOutputDeviceNames();

// The id of the first name in `names` that contains `name` as a
// case-sensitive substring; -2 when the list is empty, -1 when none matches.
int FindDeviceByNameIn(const std::vector<std::string>& names, const std::string& name);

// FindDeviceByNameIn over the current input or output list.
int FindAudioInputDevice(const std::string& name);
int FindAudioOutputDevice(const std::string& name);

// ---- Backends ---------------------------------------------------------------
// A backend is one family of devices (PortAudio, the virtual adapter, a test
// double). WaveIn and WavePlayer open streams through these; nobody else
// needs them except tests, which install their own.

// Receives captured frames. Push is called from the backend's real-time
// context (PortAudio's callback, the virtual device's pacing thread): it only
// copies and signals, never blocks.
class CaptureSink {
public:
    virtual ~CaptureSink() = default;
    virtual void PushFrames(const int16_t* interleaved, size_t frames) = 0;
};

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Frames flow into the sink between Start and Stop. Stop returns only
    // once no Push is under way any more.
    virtual bool Start(std::string* error) = 0;
    virtual void Stop() = 0;
};

class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // Blocks until the frames are taken by the device (paced in real time).
    // False when the device failed (error filled).
    virtual bool Write(const int16_t* interleaved, size_t frames, std::string* error) = 0;
    // Waits until everything written has been played.
    virtual void Drain() = 0;
};

class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    virtual std::vector<std::string> InputDeviceNames() = 0;
    virtual std::vector<std::string> OutputDeviceNames() = 0;
    // `index` is the position in this backend's own list. nullptr and an
    // error text when the device cannot be opened in this format.
    virtual std::unique_ptr<CaptureStream> OpenCapture(int index, const AudioFormat& format, CaptureSink* sink,
                                                       std::string* error) = 0;
    virtual std::unique_ptr<PlaybackStream> OpenPlayback(int index, const AudioFormat& format,
                                                         std::string* error) = 0;
};

// The backends in list order (virtual adapter first when chosen, then
// PortAudio), or the test backends when installed.
std::vector<AudioBackend*> AudioBackends();

// Replaces the backends for this process (tests); an empty list restores the
// real ones. The caller keeps the backends alive while installed.
void SetAudioBackendsForTest(std::vector<AudioBackend*> backends);

// Opens a stream on a device id of the combined lists above.
std::unique_ptr<CaptureStream> OpenCaptureDevice(int deviceId, const AudioFormat& format, CaptureSink* sink,
                                                 std::string* error);
std::unique_ptr<PlaybackStream> OpenPlaybackDevice(int deviceId, const AudioFormat& format, std::string* error);

} // namespace parvane
