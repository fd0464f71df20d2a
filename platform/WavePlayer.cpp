#include "platform/WavePlayer.h"

#include "platform/AudioDevices.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>
#include <vector>

namespace parvane {

const char* WavePlayErrorText(int code)
{
    switch (code) {
    case kWavePlayNoFile: return "No file name was given.";
    case kWavePlayUnknownExtension:
        return "The file cannot be played: no audio format is known by its extension.";
    case kWavePlayCannotOpenFile: return "The file cannot be opened: it is missing, unreadable or not audio.";
    case kWavePlayUnsupportedFormat: return "The file's audio format is not supported.";
    case kWavePlayBadDevice: return "The audio output device does not exist.";
    case kWavePlayDeviceFailed: return "The audio output device could not play the file.";
    case kWavePlayNotOpen: return "No file is open.";
    case kWavePlayBusy: return "The file is already playing.";
    default: return "";
    }
}

namespace {

std::string LowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

} // namespace

bool IsPlayableExtension(const std::string& path)
{
    const std::string extension = LowerExtension(path);
    if (extension.empty() || extension == "raw")
        return false; // headerless data cannot be played without being told its format
    if (extension == "aif" || extension == "oga")
        return true;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 && info.extension != nullptr &&
            extension == info.extension)
            return true;
    }
    return false;
}

struct WavePlayer::Impl {
    mutable std::mutex mutex;
    SNDFILE* file = nullptr;
    SF_INFO info{};
    std::string detail;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> playing{false};

    int Fail(int code, const std::string& why)
    {
        detail = why.empty() ? WavePlayErrorText(code) : why;
        return code;
    }

    // Plays the whole file (or until stopped); kWavePlayOk when it reached
    // the end.
    int PlayAll(PlaybackStream& stream)
    {
        constexpr sf_count_t kChunkFrames = 1024;
        std::vector<int16_t> samples(static_cast<size_t>(kChunkFrames) * info.channels);
        sf_seek(file, 0, SEEK_SET);
        while (!stop.load()) {
            const sf_count_t frames = sf_readf_short(file, samples.data(), kChunkFrames);
            if (frames <= 0)
                break;
            std::string error;
            if (!stream.Write(samples.data(), static_cast<size_t>(frames), &error)) {
                std::lock_guard<std::mutex> lock(mutex);
                return Fail(kWavePlayDeviceFailed, error);
            }
        }
        if (stop.load())
            return kWavePlayDeviceFailed;
        stream.Drain();
        return kWavePlayOk;
    }

    // Checks that a file is open and idle, opens the device and marks the
    // player playing; nullptr with the error in `code` otherwise. Called with
    // the lock.
    std::unique_ptr<PlaybackStream> BeginPlay(int deviceId, int* code)
    {
        if (file == nullptr) {
            *code = Fail(kWavePlayNotOpen, "");
            return nullptr;
        }
        if (playing.load() || thread.joinable()) {
            *code = Fail(kWavePlayBusy, "");
            return nullptr;
        }
        auto stream = OpenDevice(deviceId, code);
        if (stream) {
            stop = false;
            playing = true;
        }
        return stream;
    }

    std::unique_ptr<PlaybackStream> OpenDevice(int deviceId, int* code)
    {
        const int outputs = static_cast<int>(AudioOutputDeviceNames().size());
        if (deviceId < 0 || deviceId >= outputs) {
            *code = Fail(kWavePlayBadDevice, "");
            return nullptr;
        }
        AudioFormat format;
        format.sampleRate = static_cast<uint32_t>(info.samplerate);
        format.channels = static_cast<uint16_t>(info.channels);
        std::string error;
        auto stream = OpenPlaybackDevice(deviceId, format, &error);
        if (!stream)
            *code = Fail(kWavePlayDeviceFailed, error);
        return stream;
    }
};

WavePlayer::WavePlayer() : m_impl(std::make_unique<Impl>()) {}

WavePlayer::~WavePlayer()
{
    Close();
}

int WavePlayer::Open(const std::string& path)
{
    Impl& d = *m_impl;
    if (IsOpen())
        Close();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (path.empty())
        return d.Fail(kWavePlayNoFile, "");
    if (!IsPlayableExtension(path))
        return d.Fail(kWavePlayUnknownExtension, "no audio format is known by the extension of " + path);
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return d.Fail(kWavePlayCannotOpenFile, path + ": " + sf_strerror(nullptr));
    if (info.channels < 1 || info.channels > 8 || info.samplerate < 1000 || info.samplerate > 384000) {
        sf_close(file);
        return d.Fail(kWavePlayUnsupportedFormat,
                      path + ": " + std::to_string(info.channels) + " channels at " +
                          std::to_string(info.samplerate) + " Hz");
    }
    d.file = file;
    d.info = info;
    d.detail.clear();
    return kWavePlayOk;
}

int WavePlayer::Play(int deviceId, Completion completion)
{
    Impl& d = *m_impl;
    std::lock_guard<std::mutex> lock(d.mutex);
    int code = kWavePlayOk;
    std::shared_ptr<PlaybackStream> stream = d.BeginPlay(deviceId, &code);
    if (!stream)
        return code;
    d.thread = std::thread([&d, stream, completion = std::move(completion)] {
        const int result = d.PlayAll(*stream);
        const bool stopped = d.stop.load();
        d.playing = false;
        if (completion)
            completion(result == kWavePlayOk ? End::Completed : stopped ? End::Stopped : End::Failed);
    });
    return kWavePlayOk;
}

int WavePlayer::PlaySync(int deviceId)
{
    Impl& d = *m_impl;
    std::unique_ptr<PlaybackStream> stream;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        int code = kWavePlayOk;
        stream = d.BeginPlay(deviceId, &code);
        if (!stream)
            return code;
    }
    const int result = d.PlayAll(*stream);
    d.playing = false;
    return result;
}

int WavePlayer::Close()
{
    Impl& d = *m_impl;
    d.stop = true;
    if (d.thread.joinable()) {
        if (d.thread.get_id() == std::this_thread::get_id())
            return kWavePlayBusy; // from the completion: the thread cannot wait for itself
        d.thread.join();
    }
    std::lock_guard<std::mutex> lock(d.mutex);
    if (d.file == nullptr)
        return kWavePlayNotOpen;
    sf_close(d.file);
    d.file = nullptr;
    d.info = SF_INFO{};
    return kWavePlayOk;
}

bool WavePlayer::IsOpen() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->file != nullptr;
}

bool WavePlayer::IsPlaying() const
{
    return m_impl->playing.load();
}

std::string WavePlayer::LastErrorDetail() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->detail;
}

int WavePlayer::FileSampleRate() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->info.samplerate;
}

int WavePlayer::FileChannels() const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->info.channels;
}

} // namespace parvane
