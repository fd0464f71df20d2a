#include "vexlin/CadenceTracker.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace parvane::vexlin {

int CadenceTracker::Tolerance(int ms)
{
    return std::max(std::abs(ms) / 10, 40);
}

bool CadenceTracker::Near(int measured, int expected)
{
    return std::abs(measured - expected) <= Tolerance(expected);
}

int CadenceTracker::JitterTolerance(int ms)
{
    return std::max(std::abs(ms) / 5, 40);
}

std::string CadenceTracker::CheckPattern(const std::vector<CadencePair>& pattern)
{
    if (pattern.empty())
        return "no on/off pair";
    if (pattern.size() > kMostPairs)
        return "more than " + std::to_string(kMostPairs) + " on/off pairs";
    for (const CadencePair& pair : pattern) {
        for (int ms : {pair.onMs, pair.offMs}) {
            if (ms < kShortestSegmentMs || ms > kLongestSegmentMs)
                return "cadence time " + std::to_string(ms) + " ms is outside " + std::to_string(kShortestSegmentMs) +
                       ".." + std::to_string(kLongestSegmentMs) + " ms";
        }
    }
    return {};
}

int CadenceTracker::PeriodOf(int onMs, int offMs)
{
    if (std::abs(onMs - offMs) <= Tolerance(std::max(onMs, offMs)))
        return (onMs + offMs + 1) / 2;
    return onMs + offMs;
}

CadenceTracker::CadenceTracker(const CadenceRequest& request) : m_request(request)
{
    if (m_request.pattern.size() == 1) {
        m_request.onMs = m_request.pattern[0].onMs;
        m_request.offMs = m_request.pattern[0].offMs;
        m_request.periodMs = m_request.onMs == m_request.offMs ? m_request.onMs : m_request.onMs + m_request.offMs;
        m_request.pattern.clear();
    }
}

void CadenceTracker::AddFrame(bool tone)
{
    const State seen = tone ? State::Tone : State::Silence;
    const int64_t now = m_nowMs++;
    if (m_state == State::Unknown) {
        m_state = seen;
        m_segmentStartMs = now;
        return;
    }
    if (seen == m_state) {
        m_pendingMs = 0;
        return;
    }
    const int settle = seen == State::Tone ? kToneSettleMs : kSilenceSettleMs;
    if (++m_pendingMs < settle)
        return;
    const int64_t changedAt = now - settle + 1;
    EndSegment(m_state, m_segmentStartMs, changedAt);
    m_state = seen;
    m_segmentStartMs = changedAt;
    m_pendingMs = 0;
}

void CadenceTracker::SkipFrame()
{
    ++m_nowMs;
    m_state = State::Unknown;
    m_segmentIsFirst = true;
    m_pendingMs = 0;
    m_lastOnMs = -1;
    m_contiguous = 0;
}

void CadenceTracker::EndSegment(State state, int64_t startMs, int64_t endMs)
{
    const bool whole = !m_segmentIsFirst;
    m_segmentIsFirst = false;
    const int length = static_cast<int>(std::min<int64_t>(endMs - startMs, 1 << 30));
    if (state == State::Tone) {
        m_lastOnMs = whole ? length : -1;
        return;
    }
    if (m_lastOnMs >= 0)
        CompleteCycle(m_lastOnMs, length, endMs);
    m_lastOnMs = -1;
}

bool CadenceTracker::Plausible(int onMs, int offMs)
{
    return onMs >= kShortestSegmentMs && offMs >= kShortestSegmentMs && onMs <= kLongestSegmentMs &&
           offMs <= kLongestSegmentMs;
}

bool CadenceTracker::MatchesRequest(int onMs, int offMs) const
{
    auto fits = [this](int on, int off, bool loose) {
        auto close = [loose](int measured, int expected) {
            return std::abs(measured - expected) <= (loose ? JitterTolerance(expected) : Tolerance(expected));
        };
        if (m_request.onMs > 0 || m_request.offMs > 0)
            return (m_request.onMs <= 0 || close(on, m_request.onMs)) &&
                   (m_request.offMs <= 0 || close(off, m_request.offMs));
        return close(PeriodOf(on, off), m_request.periodMs);
    };
    if (fits(onMs, offMs, false))
        return true;
    if (!fits(onMs, offMs, true))
        return false;
    // A wandering line: this cycle strays further, but the mean of the last
    // cycles (this one the newest of them) keeps to the request.
    int on = 0, off = 0, cycles = 0;
    const size_t contiguous = std::min(m_contiguous, m_recent.size());
    for (size_t i = 0; i < contiguous && i < kJitterCycles; ++i) {
        const Cycle& cycle = m_recent[m_recent.size() - 1 - i];
        if (!Plausible(cycle.onMs, cycle.offMs))
            break;
        on += cycle.onMs;
        off += cycle.offMs;
        ++cycles;
    }
    return cycles > 1 && fits(on / cycles, off / cycles, false);
}

bool CadenceTracker::PatternEndsHere() const
{
    const size_t n = m_request.pattern.size();
    if (std::min(m_contiguous, m_recent.size()) < n)
        return false;
    const size_t first = m_recent.size() - n;
    for (size_t rotation = 0; rotation < n; ++rotation) {
        bool all = true;
        for (size_t k = 0; k < n && all; ++k) {
            const Cycle& cycle = m_recent[first + k];
            const CadencePair& expected = m_request.pattern[(rotation + k) % n];
            all = Plausible(cycle.onMs, cycle.offMs) && Near(cycle.onMs, expected.onMs) &&
                  Near(cycle.offMs, expected.offMs);
        }
        if (all)
            return true;
    }
    return false;
}

size_t CadenceTracker::LearntPatternEndingHere() const
{
    // Two measured cycles each stray by the line's wander and the edges'.
    auto alike = [](int a, int b) { return std::abs(a - b) <= JitterTolerance(std::max(a, b)); };
    // Pairs of one pattern that are clearly not the same pair.
    auto apart = [](const Cycle& a, const Cycle& b) {
        auto far = [](int x, int y) { return std::abs(x - y) > std::max(std::max(x, y) * 2 / 5, 80); };
        return far(a.onMs, b.onMs) || far(a.offMs, b.offMs);
    };
    const size_t contiguous = std::min(m_contiguous, m_recent.size());
    auto repeats = [&](size_t n) {
        if (2 * n > contiguous)
            return false;
        const size_t first = m_recent.size() - 2 * n;
        for (size_t k = 0; k < 2 * n; ++k) {
            if (!Plausible(m_recent[first + k].onMs, m_recent[first + k].offMs))
                return false;
        }
        for (size_t k = 0; k < n; ++k) {
            const Cycle& a = m_recent[first + k];
            const Cycle& b = m_recent[first + n + k];
            if (!alike(a.onMs, b.onMs) || !alike(a.offMs, b.offMs))
                return false;
        }
        return true;
    };
    // The shortest pattern of several pairs that repeats, and whose pairs
    // differ (alike pairs are a one-pair cadence, wandering); a pattern may
    // hold the same pair twice in a row, so it goes before one pair.
    for (size_t n = 2; n <= kMostPairs; ++n) {
        if (!repeats(n))
            continue;
        const size_t first = m_recent.size() - n;
        for (size_t k = 1; k < n; ++k) {
            if (apart(m_recent[first], m_recent[first + k]))
                return n;
        }
    }
    return repeats(1) ? 1 : 0;
}

bool CadenceTracker::AlternatesWithAnotherPair() const
{
    if (std::min(m_contiguous, m_recent.size()) < 4)
        return false;
    const size_t last = m_recent.size() - 1;
    auto other = [this](size_t i) { return !m_recent[i].matched && Plausible(m_recent[i].onMs, m_recent[i].offMs); };
    return other(last - 1) && m_recent[last - 2].matched && other(last - 3);
}

size_t CadenceTracker::PatternLength() const
{
    if (!m_request.pattern.empty())
        return m_request.pattern.size();
    return std::max<size_t>(m_learntPairs, 1);
}

void CadenceTracker::CompleteCycle(int onMs, int offMs, int64_t endMs)
{
    m_recent.push_back({onMs, offMs, endMs, false});
    if (m_recent.size() > kRecentCycles)
        m_recent.pop_front();
    ++m_contiguous;
    ++m_pairsSinceCount;
    bool matched = false;
    if (!m_request.pattern.empty()) {
        matched = PatternEndsHere();
    } else if (m_request.periodMs > 0) {
        matched = Plausible(onMs, offMs) && MatchesRequest(onMs, offMs);
    } else if (const size_t learnt = LearntPatternEndingHere()) {
        matched = true;
        if (learnt != m_learntPairs)
            m_pairsSinceCount = kMostPairs;
        m_learntPairs = learnt;
    }
    m_recent.back().matched = matched;
    if (matched && m_request.pattern.empty() && m_request.periodMs > 0 && AlternatesWithAnotherPair()) {
        // Every other pair of a longer cadence: not this one.
        m_inARow = 0;
        return;
    }
    if (matched) {
        // A pattern of several pairs counts once per whole pattern.
        if (m_pairsSinceCount >= PatternLength()) {
            ++m_count;
            m_pairsSinceCount = 0;
        }
        if (++m_inARow >= kCyclesToConfirm && m_foundAtMs < 0)
            m_foundAtMs = m_nowMs;
    } else {
        m_inARow = 0;
        m_pairsSinceCount = kMostPairs;
    }
}

namespace {

int MedianOf(std::vector<int>& values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2] + 1) / 2;
}

} // namespace

std::vector<CadencePair> CadenceTracker::Pattern() const
{
    const size_t n = PatternLength();
    if (n == 1) {
        std::vector<int> on, off;
        for (auto it = m_recent.rbegin(); it != m_recent.rend() && on.size() < kCyclesForPeriod; ++it) {
            if (Plausible(it->onMs, it->offMs)) {
                on.push_back(it->onMs);
                off.push_back(it->offMs);
            }
        }
        if (on.empty())
            return {};
        return {{MedianOf(on), MedianOf(off)}};
    }
    // The last whole patterns heard in a row, slot by slot from the newest.
    const size_t contiguous = std::min(m_contiguous, m_recent.size());
    const size_t patterns = std::min<size_t>(contiguous / n, 3);
    if (!Found() || patterns == 0)
        return {};
    std::vector<CadencePair> pattern(n);
    for (size_t slot = 0; slot < n; ++slot) {
        std::vector<int> on, off;
        for (size_t k = 0; k < patterns; ++k) {
            const Cycle& cycle = m_recent[m_recent.size() - n * (k + 1) + slot];
            on.push_back(cycle.onMs);
            off.push_back(cycle.offMs);
        }
        pattern[slot] = {MedianOf(on), MedianOf(off)};
    }
    // Written from the burst after the longest pause.
    const auto longest = std::max_element(pattern.begin(), pattern.end(),
                                          [](const CadencePair& a, const CadencePair& b) { return a.offMs < b.offMs; });
    std::rotate(pattern.begin(), longest + 1, pattern.end());
    return pattern;
}

int CadenceTracker::PerhapsPeriod() const
{
    if (PatternLength() == 1) {
        const std::vector<CadencePair> pair = Pattern();
        return pair.empty() ? 0 : PeriodOf(pair[0].onMs, pair[0].offMs);
    }
    int total = 0;
    for (const CadencePair& pair : Pattern())
        total += pair.onMs + pair.offMs;
    return total;
}

int64_t CadenceTracker::ToneHeldMs() const
{
    return m_state == State::Tone ? m_nowMs - m_segmentStartMs : 0;
}

} // namespace parvane::vexlin
