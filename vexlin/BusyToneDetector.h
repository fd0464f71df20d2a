#pragma once
// The busy-tone detector: a tone of one or two frequencies, switched on and
// off with a regular cadence, in a stream of 16-bit mono samples.
//
//   parvane::vexlin::BusyToneDetector detector;
//   if (!detector.Start({450, 0, 350}))          // 450 Hz, 350 on / 350 off
//       puts(detector.Problem().c_str());
//   detector.Process(samples, count);            // as often as samples come
//   detector.Found(); detector.Count(); detector.PerhapsPeriod();
//
// Times are milliseconds of the stream (samples / rate), not of the wall
// clock, so a recording is judged the same however fast it is read. The
// detector is not thread-safe; one thread feeds it, or a lock guards it.
//
// Tone presence per millisecond: ToneFrameAnalyzer.h. Cadence: CadenceTracker.h.

#include "vexlin/CadenceTracker.h"
#include "vexlin/ToneFrameAnalyzer.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace parvane::vexlin {

struct BusyToneRequest {
    int frequency1 = 0; // Hz
    int frequency2 = 0; // Hz; 0: a single-frequency tone
    int periodMs = 0;   // on time when on equals off, else on + off; 0: learn the cadence
    int onMs = 0;       // when not 0, the tone-on time must match too
    int offMs = 0;      // when not 0, the tone-off time must match too
    // A cadence of two to four on/off pairs, the whole of it (the three
    // figures above are then not used); one pair is taken as onMs and offMs.
    std::vector<CadencePair> pattern = {};
};

class BusyToneDetector {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kLowestFrequency = 10;

    // Why the request cannot be detected at this rate, or empty when it can:
    // no first frequency, a frequency at or above half the sample rate or
    // below kLowestFrequency, negative times, a pattern that cannot be
    // detected, or a rate that is not a whole number of kHz.
    static std::string CheckRequest(const BusyToneRequest& request, int sampleRate = kSampleRate);

    BusyToneDetector() = default;

    // Begins a new detection; everything found before is forgotten. False
    // (and Problem() says why) when the request cannot be detected; the
    // detector then ignores samples and finds nothing.
    bool Start(const BusyToneRequest& request, int sampleRate = kSampleRate);
    bool Running() const { return m_analyzer != nullptr; }
    const std::string& Problem() const { return m_problem; }
    const BusyToneRequest& Request() const { return m_request; }

    // Feeds mono samples.
    void Process(const int16_t* samples, size_t count);
    // Feeds one channel of interleaved samples (channel 0 is the left one).
    void ProcessChannel(const int16_t* interleaved, size_t frames, int channels, int channel = 0);
    // Samples were lost between two calls (a capture that fell behind): the
    // segment under way has no known length any more and is not used, and
    // the analysis starts afresh after the gap.
    void Discontinuity(size_t lostSamples);

    // Cycles whose cadence matched so far.
    int Count() const { return m_cadence.Count(); }
    // A tone with a matching cadence was seen (kCyclesToConfirm in a row).
    bool Found() const { return m_cadence.Found(); }
    // Measured period in the request's convention, whatever was requested;
    // 0 before the first whole cycle.
    int PerhapsPeriod() const { return m_cadence.PerhapsPeriod(); }
    // The measured cadence (CadenceTracker::Pattern).
    std::vector<CadencePair> Pattern() const { return m_cadence.Pattern(); }
    // How long the tone has been on without a pause, in ms of stream.
    int64_t ToneHeldMs() const { return m_cadence.ToneHeldMs(); }
    // Milliseconds of stream when the tone was first found, or -1.
    int64_t FoundAtMs() const { return m_cadence.FoundAtMs(); }
    // Milliseconds of stream judged so far.
    int64_t ElapsedMs() const { return m_elapsedMs; }
    const std::deque<Cycle>& RecentCycles() const { return m_cadence.RecentCycles(); }

private:
    BusyToneRequest m_request;
    std::string m_problem;
    int m_sampleRate = kSampleRate;
    std::unique_ptr<ToneFrameAnalyzer> m_analyzer;
    CadenceTracker m_cadence;
    std::vector<ToneFrameAnalyzer::Frame> m_frames;
    int64_t m_elapsedMs = 0;
};

} // namespace parvane::vexlin
