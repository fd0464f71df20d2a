#include "vadapter/twin/AlsaLineFront.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <vector>

namespace parvane {

namespace {

constexpr unsigned kRate = VirtualAdapter::kLineAudioRate;
constexpr unsigned kChannels = 2;
constexpr snd_pcm_uframes_t kChunkFrames = 480; // 10 ms
constexpr int kFramesPerMs = kRate / 1000;

snd_pcm_t* OpenPcm(const std::string& name, snd_pcm_stream_t stream, std::string& error)
{
    snd_pcm_t* pcm = nullptr;
    int result = snd_pcm_open(&pcm, name.c_str(), stream, 0);
    if (result >= 0)
        result = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels, kRate,
                                    1, 200000);
    if (result < 0) {
        error = "ALSA PCM " + name + ": " + snd_strerror(result);
        if (pcm != nullptr)
            snd_pcm_close(pcm);
        return nullptr;
    }
    return pcm;
}

} // namespace

bool AlsaLineFront::Start(const std::string& linePcm, const std::string& heardStatus, std::string& error)
{
    snd_pcm_t* line = OpenPcm(linePcm, SND_PCM_STREAM_PLAYBACK, error);
    if (line == nullptr)
        return false;
    m_running = true;
    m_player = std::thread([this, line] { PlayLine(line); });
    if (!heardStatus.empty())
        m_listener = std::thread([this, heardStatus] { Watch(heardStatus); });
    return true;
}

void AlsaLineFront::Stop()
{
    m_running = false;
    if (m_player.joinable())
        m_player.join();
    if (m_listener.joinable())
        m_listener.join();
}

void AlsaLineFront::PlayLine(void* handle)
{
    auto* pcm = static_cast<snd_pcm_t*>(handle);
    std::vector<int16_t> chunk(kChunkFrames * kChannels);
    const uint64_t startMs = m_adapter.NowMs();
    int64_t written = 0;
    bool offHook = false;
    while (m_running.load()) {
        if (m_adapter.IsOffHook() != offHook) {
            offHook = !offHook;
            std::fprintf(stderr, "parvane-twin: the line is %s\n", offHook ? "off-hook (answered)" : "on-hook");
        }
        if (offHook) {
            // The frame's place on the answered line: frames since the
            // start, less the time from the start to the off-hook moment.
            const auto since = static_cast<int64_t>(m_adapter.OffHookSinceMs());
            const int64_t first = written + (static_cast<int64_t>(startMs) - since) * kFramesPerMs;
            m_adapter.RenderLineAudio(chunk.data(), kChunkFrames, first);
        } else {
            std::fill(chunk.begin(), chunk.end(), int16_t{0});
        }
        // Every frame of the line goes out once and in order: a chunk the
        // card did not take (an underrun while the machine was busy, the
        // stream stopped by the other end) is written again, so the host
        // hears the tone's cadence as it is, only later.
        snd_pcm_uframes_t sent = 0;
        while (sent < kChunkFrames && m_running.load()) {
            snd_pcm_sframes_t done = snd_pcm_writei(pcm, chunk.data() + sent * kChannels, kChunkFrames - sent);
            if (done < 0)
                done = snd_pcm_recover(pcm, static_cast<int>(done), 1);
            if (done < 0) {
                std::fprintf(stderr, "parvane-twin: line audio interrupted (%s), restarting it\n",
                             snd_strerror(static_cast<int>(done)));
                snd_pcm_drop(pcm);
                if (snd_pcm_prepare(pcm) < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            sent += static_cast<snd_pcm_uframes_t>(done);
        }
        written += static_cast<int64_t>(kChunkFrames);
    }
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

void AlsaLineFront::Watch(std::string statusFile)
{
    bool playing = false;
    while (m_running.load()) {
        std::ifstream status(statusFile);
        std::string text((std::istreambuf_iterator<char>(status)), std::istreambuf_iterator<char>());
        const bool now = text.find("RUNNING") != std::string::npos;
        if (now && !playing) {
            ++m_playbacks;
            std::fprintf(stderr, "parvane-twin: the host plays to the adapter's output\n");
        }
        playing = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace parvane
