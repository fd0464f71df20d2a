#pragma once
// The twin's USB audio as an ALSA client: it plays what the line carries
// (silence on-hook, the line audio off-hook) into one PCM at the adapter's
// 48000 Hz, 16-bit stereo, paced by the sound card, and watches the status
// file of the PCM the host plays the adapter's output into. With snd-aloop
// the host program captures the first through the loopback and plays into
// the other (its status reads "state: RUNNING" while it plays).

#include "vadapter/VirtualAdapter.h"

#include <atomic>
#include <string>
#include <thread>

namespace parvane {

class AlsaLineFront {
public:
    explicit AlsaLineFront(VirtualAdapter& adapter) : m_adapter(adapter) {}
    ~AlsaLineFront() { Stop(); }

    // Opens the line PCM and starts the threads (heardStatus may be empty:
    // nothing watched). False with ALSA's reason when the PCM cannot be set up.
    bool Start(const std::string& linePcm, const std::string& heardStatus, std::string& error);
    // Stops both threads and closes the PCMs: the line audio stops.
    void Stop();

    // Times the host has started playing to the adapter's output so far.
    long Playbacks() const { return m_playbacks.load(); }

private:
    void PlayLine(void* pcm);
    void Watch(std::string statusFile);

    VirtualAdapter& m_adapter;
    std::atomic<bool> m_running{false};
    std::atomic<long> m_playbacks{0};
    std::thread m_player;
    std::thread m_listener;
};

} // namespace parvane
