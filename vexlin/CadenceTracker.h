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
// without them, its period) lie within Tolerance() of the request; a line
// whose times wander from cycle to cycle also matches while each cycle stays
// within JitterTolerance() and the mean of the last cycles within
// Tolerance(). A cadence of several on/off pairs (up to kMostPairs, as some
// exchanges send 400 on, 200 off, 400 on, 600 off) matches once the last
// pairs make up the whole pattern, starting at any of its pairs. One pair
// that matches only every other pair of the line is part of a longer
// cadence: once that shows (a pair of another kind on either side, twice),
// it no longer counts.
//
// Without a cadence (period 0) a cycle matches when the pairs before it
// repeat: one pair that repeats the pair before it, or a pattern of two to
// kMostPairs pairs that repeats the pattern before it. Every steady cadence
// counts, so it can be learnt from two of its cycles.
//
// The tone counts as found after kCyclesToConfirm matching cycles in a row:
// one whole cycle, measured from its burst, its gap and the next onset.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace parvane::vexlin {

// One burst of tone and the pause after it.
struct CadencePair {
    int onMs = 0;
    int offMs = 0;
    bool operator==(const CadencePair&) const = default;
};

struct CadenceRequest {
    int periodMs = 0; // 0: learn whatever steady cadence is there
    int onMs = 0;     // 0: not given
    int offMs = 0;    // 0: not given
    // Two or more pairs: the whole cadence (periodMs, onMs and offMs are then
    // not used). One pair is taken as onMs and offMs.
    std::vector<CadencePair> pattern = {};
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
    static constexpr int kCyclesToConfirm = 1;
    static constexpr size_t kMostPairs = 4;
    static constexpr size_t kRecentCycles = 16;
    static constexpr size_t kCyclesForPeriod = 7;
    // How many of the last cycles the mean of a wandering line is taken from.
    static constexpr size_t kJitterCycles = 4;

    // Real exchanges drift by about 10 %; short segments also by the few
    // milliseconds an edge takes to be recognised.
    static int Tolerance(int ms);
    static bool Near(int measured, int expected);
    // How far one cycle of a line whose times wander may stray.
    static int JitterTolerance(int ms);
    // Whether the times of a requested pattern, as given (at least one pair,
    // at most kMostPairs, every time from kShortestSegmentMs to
    // kLongestSegmentMs), can be detected; empty when they can, else why not.
    static std::string CheckPattern(const std::vector<CadencePair>& pattern);
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
    // times of the last plausible cycles; 0 before the first one. For a
    // cadence of several pairs, the length of the whole pattern.
    int PerhapsPeriod() const;
    // The cadence measured so far, once found: one pair, or the pattern of
    // several pairs starting after its longest pause; each time the median of
    // the last cycles. Empty before the first whole cycle (of a pattern of
    // several pairs: before it is found).
    std::vector<CadencePair> Pattern() const;
    // How long the tone has been on without a pause (0 in a pause): a tone
    // held longer than kLongestSegmentMs has no cadence.
    int64_t ToneHeldMs() const;
    const std::deque<Cycle>& RecentCycles() const { return m_recent; }

private:
    enum class State { Unknown, Tone, Silence };

    void EndSegment(State state, int64_t startMs, int64_t endMs);
    void CompleteCycle(int onMs, int offMs, int64_t endMs);
    bool MatchesRequest(int onMs, int offMs) const;
    bool PatternEndsHere() const;
    bool AlternatesWithAnotherPair() const;
    size_t LearntPatternEndingHere() const;
    size_t PatternLength() const;
    static bool Plausible(int onMs, int offMs);

    CadenceRequest m_request;
    int64_t m_nowMs = 0;
    State m_state = State::Unknown;
    int64_t m_segmentStartMs = 0;
    bool m_segmentIsFirst = true; // began with the stream: its length is unknown
    int m_pendingMs = 0;
    int m_lastOnMs = -1;          // the tone segment waiting for its pause, or -1

    size_t m_contiguous = 0;      // pairs in m_recent since the stream began or broke
    size_t m_pairsSinceCount = kMostPairs;
    size_t m_learntPairs = 0;     // pairs of the cadence learnt, 0 before one is

    int m_count = 0;
    int m_inARow = 0;
    int64_t m_foundAtMs = -1;
    std::deque<Cycle> m_recent;
};

} // namespace parvane::vexlin
