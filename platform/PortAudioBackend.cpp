#include "platform/PortAudioBackend.h"

#include "platform/DebugPrint.h"

#ifndef _WIN32
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#endif
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace parvane {
namespace {

#ifndef _WIN32
// ALSA prints dozens of lines when it probes a machine without sound cards
// (every PCM alias of its configuration that names a missing card). They say
// nothing a user of this program can act on, so they are dropped; with
// PARVANE_AUDIO_TRACE set they go to the debug output instead.
bool AudioTraceWanted()
{
    const char* value = std::getenv("PARVANE_AUDIO_TRACE");
    return value != nullptr && value[0] != '\0' && value[0] != '0';
}

void AlsaErrorHandler(const char* file, int line, const char* function, int error, const char* format, ...)
{
    if (!AudioTraceWanted())
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    DebugPrint("ALSA %s:%d (%s) %s%s%s", file, line, function, text, error ? ": " : "",
               error ? snd_strerror(error) : "");
}

void JackMessage(const char* text)
{
    if (AudioTraceWanted())
        DebugPrint("JACK %s", text);
}

// PortAudio's JACK host API links libjack, whose client prints to stderr
// when no JACK server runs. Its message hooks are set through the already
// loaded library, so the program does not link JACK itself.
void QuietJack()
{
    using SetFunction = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (auto set = reinterpret_cast<SetFunction>(dlsym(RTLD_DEFAULT, name)))
            set(&JackMessage);
    }
    // Never start a JACK server just to list devices.
    setenv("JACK_NO_START_SERVER", "1", 0);
}
#endif

std::mutex& PaMutex()
{
    static std::mutex mutex;
    return mutex;
}

// What one capture stream's callback saw: the frames it delivered and the
// callbacks PortAudio flagged with an input overflow (frames the sound card
// lost because they were not read in time). Written only by the callback;
// read once the stream has stopped.
struct CaptureCounts {
    CaptureSink* sink = nullptr;
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> overflows{0};
};

constexpr double kLeastCaptureLatencySeconds = 0.25;

class PortAudioCapture final : public CaptureStream {
public:
    PortAudioCapture(PaStream* stream, std::unique_ptr<CaptureCounts> counts)
        : m_stream(stream), m_counts(std::move(counts))
    {
    }
    ~PortAudioCapture() override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        Pa_CloseStream(m_stream);
    }
    bool Start(std::string* error) override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        const PaError result = Pa_StartStream(m_stream);
        if (result != paNoError) {
            if (error)
                *error = Pa_GetErrorText(result);
            return false;
        }
        m_startedAt = std::chrono::steady_clock::now();
        m_started = true;
        return true;
    }
    void Stop() override
    {
        {
            std::lock_guard<std::mutex> lock(PaMutex());
            if (Pa_IsStreamActive(m_stream) == 1 || Pa_IsStreamStopped(m_stream) == 0)
                Pa_StopStream(m_stream); // returns after the callback has finished
        }
        if (!m_started)
            return;
        m_started = false;
        // Once a run: how much the sound card delivered and whether it lost
        // any, so a slow or lossy capture path shows in the trace.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                              m_startedAt);
        DebugPrint("Audio: capture stopped after %llu frames in %lld ms, %llu input overflows",
                   static_cast<unsigned long long>(m_counts->frames.load()), static_cast<long long>(ms.count()),
                   static_cast<unsigned long long>(m_counts->overflows.load()));
    }

private:
    PaStream* m_stream;
    std::unique_ptr<CaptureCounts> m_counts;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_startedAt;
};

class PortAudioPlayback final : public PlaybackStream {
public:
    PortAudioPlayback(PaStream* stream, int channels) : m_stream(stream), m_channels(channels) {}
    ~PortAudioPlayback() override
    {
        Pa_AbortStream(m_stream);
        Pa_CloseStream(m_stream);
    }
    bool Write(const int16_t* interleaved, size_t frames, std::string* error) override
    {
        if (!m_started) {
            const PaError result = Pa_StartStream(m_stream);
            if (result != paNoError) {
                if (error)
                    *error = Pa_GetErrorText(result);
                return false;
            }
            m_started = true;
        }
        const PaError result = Pa_WriteStream(m_stream, interleaved, static_cast<unsigned long>(frames));
        if (result != paNoError && result != paOutputUnderflowed) {
            if (error)
                *error = Pa_GetErrorText(result);
            return false;
        }
        (void)m_channels;
        return true;
    }
    void Drain() override
    {
        if (m_started)
            Pa_StopStream(m_stream); // plays what is buffered, then stops
        m_started = false;
    }

private:
    PaStream* m_stream;
    int m_channels;
    bool m_started = false;
};

int CaptureCallback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                    PaStreamCallbackFlags flags, void* userData)
{
    auto* counts = static_cast<CaptureCounts*>(userData);
    if ((flags & paInputOverflow) != 0)
        counts->overflows.fetch_add(1, std::memory_order_relaxed);
    if (input != nullptr) {
        counts->frames.fetch_add(frames, std::memory_order_relaxed);
        counts->sink->PushFrames(static_cast<const int16_t*>(input), frames);
    }
    return paContinue;
}

class PortAudioBackend final : public AudioBackend {
public:
    std::vector<std::string> InputDeviceNames() override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        return Names(true, nullptr);
    }
    std::vector<std::string> OutputDeviceNames() override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        return Names(false, nullptr);
    }

    std::unique_ptr<CaptureStream> OpenCapture(int index, const AudioFormat& format, CaptureSink* sink,
                                               std::string* error) override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        PaStreamParameters parameters{};
        if (!Parameters(true, index, format, &parameters, error))
            return nullptr;
        auto counts = std::make_unique<CaptureCounts>();
        counts->sink = sink;
        PaStream* stream = nullptr;
        const PaError result = Pa_OpenStream(&stream, &parameters, nullptr, format.sampleRate,
                                             paFramesPerBufferUnspecified, paNoFlag, &CaptureCallback, counts.get());
        if (result != paNoError) {
            if (error)
                *error = Pa_GetErrorText(result);
            return nullptr;
        }
        return std::make_unique<PortAudioCapture>(stream, std::move(counts));
    }

    std::unique_ptr<PlaybackStream> OpenPlayback(int index, const AudioFormat& format,
                                                 std::string* error) override
    {
        std::lock_guard<std::mutex> lock(PaMutex());
        PaStreamParameters parameters{};
        if (!Parameters(false, index, format, &parameters, error))
            return nullptr;
        PaStream* stream = nullptr;
        const PaError result = Pa_OpenStream(&stream, nullptr, &parameters, format.sampleRate,
                                             paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
        if (result != paNoError) {
            if (error)
                *error = Pa_GetErrorText(result);
            return nullptr;
        }
        return std::make_unique<PortAudioPlayback>(stream, format.channels);
    }

private:
    // Starts PortAudio once; false when it cannot start (then there are no
    // devices). Called with PaMutex held.
    bool Initialised()
    {
        if (m_tried)
            return m_ready;
        m_tried = true;
#ifndef _WIN32 // Windows: PortAudio's WMME and WASAPI host APIs, quiet by themselves
        snd_lib_error_set_handler(&AlsaErrorHandler);
        QuietJack();
#endif
        const PaError result = Pa_Initialize();
        m_ready = result == paNoError;
        if (!m_ready)
            DebugPrint("Audio: PortAudio did not start: %s", Pa_GetErrorText(result));
        return m_ready;
    }

    // Names of the input (or output) devices; `ids` gets their PortAudio
    // ids. Called with PaMutex held.
    std::vector<std::string> Names(bool input, std::vector<PaDeviceIndex>* ids)
    {
        std::vector<std::string> names;
        if (!Initialised())
            return names;
        const PaDeviceIndex count = Pa_GetDeviceCount();
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info == nullptr)
                continue;
            if ((input ? info->maxInputChannels : info->maxOutputChannels) <= 0)
                continue;
            names.emplace_back(info->name ? info->name : "");
            if (ids)
                ids->push_back(i);
        }
        return names;
    }

    bool Parameters(bool input, int index, const AudioFormat& format, PaStreamParameters* parameters,
                    std::string* error)
    {
        std::vector<PaDeviceIndex> ids;
        Names(input, &ids);
        if (index < 0 || index >= static_cast<int>(ids.size())) {
            if (error)
                *error = "no such audio device";
            return false;
        }
        if (format.bitsPerSample != 16) {
            if (error)
                *error = "only 16-bit samples are supported";
            return false;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(ids[index]);
        parameters->device = ids[index];
        parameters->channelCount = format.channels;
        parameters->sampleFormat = paInt16;
        // Capture asks for a quarter second of buffer at least: nothing here
        // needs the line audio sooner, and a callback thread held up for a
        // while (a loaded machine) must not overrun the device's buffer and
        // cut a piece out of a cadence being measured.
        parameters->suggestedLatency =
            input ? std::max(info->defaultHighInputLatency, kLeastCaptureLatencySeconds) : info->defaultHighOutputLatency;
        parameters->hostApiSpecificStreamInfo = nullptr;
        const PaError supported = Pa_IsFormatSupported(input ? parameters : nullptr, input ? nullptr : parameters,
                                                       format.sampleRate);
        if (supported != paFormatIsSupported) {
            if (error)
                *error = Pa_GetErrorText(supported);
            return false;
        }
        return true;
    }

    bool m_tried = false;
    bool m_ready = false;
};

} // namespace

AudioBackend& PortAudioDevices()
{
    // Never destroyed, like the virtual adapter's backend: it may still be
    // reached while the process exits.
    static PortAudioBackend* const backend = new PortAudioBackend;
    return *backend;
}

} // namespace parvane
