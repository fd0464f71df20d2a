#pragma once
// A backend of made-up devices for tests: the test pushes the frames a
// capture device would deliver and reads what was played.

#include "platform/AudioDevices.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace parvane::test {

class FakeAudioBackend final : public AudioBackend {
public:
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::atomic<int> captureOpens{0};
    std::atomic<int> captureStarts{0};
    bool failStart = false;
    // Playback writes fail once this many frames were played (-1: never).
    std::atomic<long> failPlayAfterFrames{-1};

    std::vector<std::string> InputDeviceNames() override { return inputs; }
    std::vector<std::string> OutputDeviceNames() override { return outputs; }

    // Delivers frames to the open capture stream as the device would.
    void Capture(const std::vector<int16_t>& interleaved, int channels = 2)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sink != nullptr && m_running)
            m_sink->PushFrames(interleaved.data(), interleaved.size() / channels);
    }

    std::vector<int16_t> Played()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_played;
    }

    std::unique_ptr<CaptureStream> OpenCapture(int, const AudioFormat&, CaptureSink* sink, std::string*) override
    {
        ++captureOpens;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sink = sink;
        return std::make_unique<Stream>(*this);
    }

    std::unique_ptr<PlaybackStream> OpenPlayback(int, const AudioFormat& format, std::string*) override
    {
        return std::make_unique<Player>(*this, format.channels);
    }

private:
    struct Stream final : CaptureStream {
        explicit Stream(FakeAudioBackend& backend) : backend(backend) {}
        ~Stream() override
        {
            std::lock_guard<std::mutex> lock(backend.m_mutex);
            backend.m_sink = nullptr;
            backend.m_running = false;
        }
        bool Start(std::string* error) override
        {
            ++backend.captureStarts;
            if (backend.failStart) {
                *error = "start refused";
                return false;
            }
            std::lock_guard<std::mutex> lock(backend.m_mutex);
            backend.m_running = true;
            return true;
        }
        void Stop() override
        {
            std::lock_guard<std::mutex> lock(backend.m_mutex);
            backend.m_running = false;
        }
        FakeAudioBackend& backend;
    };
    struct Player final : PlaybackStream {
        Player(FakeAudioBackend& backend, int channels) : backend(backend), channels(channels) {}
        bool Write(const int16_t* samples, size_t frames, std::string* error) override
        {
            std::lock_guard<std::mutex> lock(backend.m_mutex);
            const long failAfter = backend.failPlayAfterFrames.load();
            if (failAfter >= 0 && static_cast<long>(backend.m_played.size() / channels) >= failAfter) {
                if (error)
                    *error = "device lost";
                return false;
            }
            backend.m_played.insert(backend.m_played.end(), samples, samples + frames * channels);
            return true;
        }
        void Drain() override {}
        FakeAudioBackend& backend;
        int channels;
    };

    std::mutex m_mutex;
    CaptureSink* m_sink = nullptr;
    bool m_running = false;
    std::vector<int16_t> m_played;
};

// Installs backends for the life of a test.
class ScopedAudioBackends {
public:
    explicit ScopedAudioBackends(std::vector<AudioBackend*> backends) { SetAudioBackendsForTest(std::move(backends)); }
    ~ScopedAudioBackends() { SetAudioBackendsForTest({}); }
};

} // namespace parvane::test
