#pragma once
// Turns the per-millisecond tone decisions into tone-on and tone-off
// segments, pairs them into cycles and judges each cycle's cadence.
//
// A change of state counts only once the new state has held for a while
// (kToneSettleMs for a tone to begin, kSilenceSettleMs for it to end); it is
// then dated back to where it began, so brief drop-outs inside a tone (the
// troughs of an amplitude-modulated one, a burst of noise) or clicks inside
// a pause neither split a segment nor shift its edges.
//
// A cycle is one tone-on segment and the tone-off segment after it; it is
// complete when the next tone begins. Its period follows the convention of
// the callers: the on time when on and off are alike, else on plus off.
//
// With a requested cadence a cycle matches when its on and off times (or,
// without them, its period) lie within Tolerance() of the request. Without
// one (period 0) a cycle matches when it repeats the cycle before it: every
// steady cadence counts, so its period can be learnt. The tone counts as
// found after kCyclesToConfirm matching cycles in a row.

#include <cstddef>
#include <cstdint>
#include <deque>

namespace parvane::vexlin {

struct CadenceRequest {
    int periodMs = 0; // 0: learn whatever steady cadence is there
    int onMs = 0;     // 0: not given
    int offMs = 0;    // 0: not given
};

struct Cycle {
    int onMs = 0;
    int offMs = 0;
    int64_t endMs = 0;   // when the next tone began, in ms of the stream
    bool matched = false;
};

class CadenceTracker {
public:
    static constexpr int kToneSettleMs = 10;
    static constexpr int kSilenceSettleMs = 25;
    static constexpr int kShortestSegmentMs = 60;
    static constexpr int kLongestSegmentMs = 5000;
    static constexpr int kCyclesToConfirm = 2;
    static constexpr size_t kRecentCycles = 16;
    static constexpr size_t kCyclesForPeriod = 7;

    // Real exchanges drift by about 10 %; short segments also by the few
    // milliseconds an edge takes to be recognised.
    static int Tolerance(int ms);
    static bool Near(int measured, int expected);
    // The period of a cadence: the on time when on and off are alike (their
    // mean, which cancels any bias of the edges), else on plus off.
    static int PeriodOf(int onMs, int offMs);

    explicit CadenceTracker(const CadenceRequest& request = {});

    // One decision per millisecond, in order.
    void AddFrame(bool tone);
    // A millisecond without a decision: the segment under way has no known
    // length any more and is not used.
    void SkipFrame();

    int Count() const { return m_count; }
    bool Found() const { return m_foundAtMs >= 0; }
    int64_t FoundAtMs() const { return m_foundAtMs; }
    int64_t ElapsedMs() const { return m_nowMs; }
    // The measured period (see PeriodOf) from the medians of the on and off
    // times of the last plausible cycles; 0 before the first one.
    int PerhapsPeriod() const;
    const std::deque<Cycle>& RecentCycles() const { return m_recent; }

private:
    enum class State { Unknown, Tone, Silence };

    void EndSegment(State state, int64_t startMs, int64_t endMs);
    void CompleteCycle(int onMs, int offMs, int64_t endMs);
    bool MatchesRequest(int onMs, int offMs) const;
    static bool Plausible(int onMs, int offMs);

    CadenceRequest m_request;
    int64_t m_nowMs = 0;
    State m_state = State::Unknown;
    int64_t m_segmentStartMs = 0;
    bool m_segmentIsFirst = true; // began with the stream: its length is unknown
    int m_pendingMs = 0;
    int m_lastOnMs = -1;          // the tone segment waiting for its pause, or -1

    int m_count = 0;
    int m_inARow = 0;
    int64_t m_foundAtMs = -1;
    std::deque<Cycle> m_recent;
};

} // namespace parvane::vexlin
