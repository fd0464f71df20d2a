#pragma once
// Listens to the line: captures the audio input whose name contains a given
// text (the adapter's model name) at 48000 Hz and runs the busy-tone
// detector over its left channel, on the capture's own delivery thread.
// Queries may come from any thread.

#include "platform/WaveIn.h"
#include "vexlin/BusyToneDetector.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace parvane::vexlin {

class LineListener {
public:
    LineListener() = default;
    ~LineListener();
    LineListener(const LineListener&) = delete;
    LineListener& operator=(const LineListener&) = delete;

    // Stops any detection under way, then opens the first audio input whose
    // name contains deviceName and starts detecting. False, with the reason
    // in *why, when the request cannot be detected, no input matches or the
    // input cannot be opened or started; nothing is left open then.
    bool Start(const std::string& deviceName, const BusyToneRequest& request, std::string* why);
    // Ends the capture and closes the device; what was found stays readable
    // until the next Start. Harmless when not listening.
    void Stop();
    bool Listening() const;

    int Count() const;
    bool Found() const;
    int PerhapsPeriod() const;
    // Milliseconds of audio judged since Start.
    int64_t HeardMs() const;
    // The name of the input opened by the last successful Start.
    std::string DeviceName() const;

private:
    // Room for as much audio as the capture ring holds (about 2 s), so that
    // a burst of it never finds the queue empty.
    static constexpr int kBuffers = 40;
    static constexpr uint32_t kBufferFrames = 2400; // 50 ms

    static void OnWaveIn(WaveIn* device, WaveInMessage message, void* instance, WaveBuffer* buffer);
    bool OpenDevice(int deviceId, std::string* why);
    void CloseDevice();

    mutable std::mutex m_controlMutex;  // Start and Stop
    mutable std::mutex m_detectorMutex; // the detector, between capture and queries
    BusyToneDetector m_detector;
    WaveIn m_waveIn;
    int m_channels = 2;
    uint64_t m_droppedFrames = 0; // as last seen by the capture callback
    std::atomic<bool> m_closing{false};
    std::vector<std::vector<uint8_t>> m_memory;
    std::vector<WaveBuffer> m_buffers;
    std::string m_deviceName;
};

} // namespace parvane::vexlin
