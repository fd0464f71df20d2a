#pragma once
// Dials a number with DTMF through the adapter's audio output (the output
// device named after the adapter's model, as the priming sound is played),
// on a thread of its own: the playback takes the digits at the rate they
// play. Levels are dBm0 of the 16-bit signal, a sine whose peak is full
// scale being +3.14 dBm0 (as in G.711 coding), each tone of a digit at the
// level given.
//
//   DtmfDialler dialler;
//   dialler.Start("200", {100, 100, -10});
//   ... later: if (dialler.Done()) { if (!dialler.Failure().empty()) ... }

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace parvane::cli {

struct DtmfTiming {
    int onMs = 100;
    int offMs = 100;
    int levelDbm0 = -10;
};

// The samples of the digits (mono, at `rate`): each digit's two tones for
// onMs, then offMs of silence.
std::vector<int16_t> DtmfSamples(const std::string& digits, const DtmfTiming& timing, uint32_t rate);

class DtmfDialler {
public:
    DtmfDialler() = default;
    // Waits for a dialling under way (it lasts as long as its digits).
    ~DtmfDialler();
    DtmfDialler(const DtmfDialler&) = delete;
    DtmfDialler& operator=(const DtmfDialler&) = delete;

    // Starts dialling; false when one is already under way.
    bool Start(const std::string& digits, const DtmfTiming& timing);
    // True once the digits have played (or the output failed).
    bool Done() const { return m_done.load(); }
    // Why the digits could not be played; empty when they were.
    std::string Failure() const;

private:
    void Play(std::string digits, DtmfTiming timing);

    std::thread m_thread;
    std::atomic<bool> m_done{false};
    mutable std::mutex m_mutex;
    std::string m_failure;
};

} // namespace parvane::cli
