#include "platform/VirtualAudioBackend.h"

#include "platform/DebugPrint.h"
#include "platform/VirtualAdapterLink.h"
#include "vadapter/VirtualAdapter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace parvane {
namespace {

constexpr uint32_t kRate = VirtualAdapter::kLineAudioRate;
constexpr uint32_t kFramesPerMs = kRate / 1000;
// How often the capture thread wakes to hand over what is due.
constexpr auto kPacingInterval = std::chrono::milliseconds(5);
// At most this much is rendered per hand-over (a clock that jumps ahead is
// caught up in steps).
constexpr size_t kLargestChunkFrames = kRate / 10;

bool CheckFormat(const AudioFormat& format, std::string* error)
{
    if (format.sampleRate == kRate && format.bitsPerSample == 16 && (format.channels == 1 || format.channels == 2))
        return true;
    if (error)
        *error = "the adapter's audio runs at 48000 Hz, 16-bit, mono or stereo";
    return false;
}

// The adapter's input: line audio paced by the adapter's clock. Silence while
// the line is on-hook; once off-hook, frames are placed by how long ago the
// line went off-hook, so the tone plays on without a break however the
// hand-overs fall.
class VirtualCapture final : public CaptureStream {
public:
    VirtualCapture(VirtualAdapter* adapter, const AudioFormat& format, CaptureSink* sink)
        : m_adapter(adapter), m_format(format), m_sink(sink)
    {
    }
    ~VirtualCapture() override { Stop(); }

    bool Start(std::string*) override
    {
        Stop();
        m_startMs = m_adapter->NowMs();
        m_produced = 0;
        m_running = true;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    void Stop() override
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        std::vector<int16_t> stereo(kLargestChunkFrames * 2);
        std::vector<int16_t> mono(kLargestChunkFrames);
        while (m_running.load()) {
            const uint64_t now = m_adapter->NowMs();
            const uint64_t due = now > m_startMs ? (now - m_startMs) * kFramesPerMs : 0;
            if (due <= m_produced) {
                std::this_thread::sleep_for(kPacingInterval);
                continue;
            }
            const size_t frames = static_cast<size_t>(std::min<uint64_t>(due - m_produced, kLargestChunkFrames));
            if (m_adapter->Enumerate().empty()) {
                // Unplugged: its USB audio is gone, nothing arrives.
                if (!m_unplugged)
                    DebugPrint("Virtual adapter audio: the adapter is unplugged; capture receives nothing");
                m_unplugged = true;
                m_produced += frames;
                continue;
            }
            m_unplugged = false;
            if (m_adapter->IsOffHook()) {
                const auto since = static_cast<int64_t>(m_adapter->OffHookSinceMs());
                const int64_t first = static_cast<int64_t>(m_produced) +
                                      (static_cast<int64_t>(m_startMs) - since) * kFramesPerMs;
                m_adapter->RenderLineAudio(stereo.data(), frames, first);
            } else {
                std::fill(stereo.begin(), stereo.begin() + static_cast<long>(frames * 2), int16_t{0});
            }
            if (m_format.channels == 2) {
                m_sink->PushFrames(stereo.data(), frames);
            } else {
                for (size_t i = 0; i < frames; ++i)
                    mono[i] = stereo[2 * i];
                m_sink->PushFrames(mono.data(), frames);
            }
            m_produced += frames;
        }
    }

    VirtualAdapter* m_adapter;
    AudioFormat m_format;
    CaptureSink* m_sink;
    uint64_t m_startMs = 0;
    uint64_t m_produced = 0;
    bool m_unplugged = false;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
};

// The adapter's output: takes frames at the rate they would play.
class VirtualPlayback final : public PlaybackStream {
public:
    VirtualPlayback(VirtualAdapter* adapter, const AudioFormat& format)
        : m_adapter(adapter), m_format(format), m_id(adapter->BeginPlayback(format.sampleRate, format.channels))
    {
    }
    ~VirtualPlayback() override { m_adapter->EndPlayback(m_id); }

    bool Write(const int16_t* interleaved, size_t frames, std::string*) override
    {
        if (m_written == 0)
            m_start = std::chrono::steady_clock::now();
        m_adapter->PlayAudio(m_id, interleaved, frames);
        m_written += frames;
        // Keep no more than about 100 ms ahead of what has been heard.
        const auto ahead = std::chrono::milliseconds(100);
        std::this_thread::sleep_until(PlayedUntil() - ahead);
        return true;
    }

    void Drain() override
    {
        if (m_written > 0)
            std::this_thread::sleep_until(PlayedUntil());
    }

private:
    std::chrono::steady_clock::time_point PlayedUntil() const
    {
        return m_start + std::chrono::microseconds(m_written * 1000000 / m_format.sampleRate);
    }

    VirtualAdapter* m_adapter;
    AudioFormat m_format;
    int m_id;
    uint64_t m_written = 0;
    std::chrono::steady_clock::time_point m_start;
};

class VirtualAudioBackend final : public AudioBackend {
public:
    std::vector<std::string> InputDeviceNames() override { return Names(); }
    std::vector<std::string> OutputDeviceNames() override { return Names(); }

    std::unique_ptr<CaptureStream> OpenCapture(int index, const AudioFormat& format, CaptureSink* sink,
                                               std::string* error) override
    {
        VirtualAdapter* adapter = ChosenVirtualAdapter();
        if (adapter == nullptr || index != 0) {
            if (error)
                *error = "the virtual adapter's audio input is not there";
            return nullptr;
        }
        if (!CheckFormat(format, error))
            return nullptr;
        return std::make_unique<VirtualCapture>(adapter, format, sink);
    }

    std::unique_ptr<PlaybackStream> OpenPlayback(int index, const AudioFormat& format, std::string* error) override
    {
        VirtualAdapter* adapter = ChosenVirtualAdapter();
        if (adapter == nullptr || index != 0) {
            if (error)
                *error = "the virtual adapter's audio output is not there";
            return nullptr;
        }
        if (format.bitsPerSample != 16 || format.channels < 1 || format.channels > 2 || format.sampleRate < 1000 ||
            format.sampleRate > 192000) {
            if (error)
                *error = "the adapter's audio output plays 16-bit mono or stereo at 1000 to 192000 Hz";
            return nullptr;
        }
        return std::make_unique<VirtualPlayback>(adapter, format);
    }

private:
    static std::vector<std::string> Names()
    {
        VirtualAdapter* adapter = ChosenVirtualAdapter();
        if (adapter == nullptr || adapter->Enumerate().empty())
            return {}; // an unplugged adapter has no USB audio either
        return {adapter->AudioDeviceName()};
    }
};

} // namespace

AudioBackend* VirtualAdapterAudioDevices()
{
    // Never destroyed: a caller the program no longer waits for (a
    // verification worker given up on) may still list or open devices while
    // the process exits and its static objects go away.
    static VirtualAudioBackend* const backend = new VirtualAudioBackend;
    return ChosenVirtualAdapter() != nullptr ? backend : nullptr;
}

} // namespace parvane
