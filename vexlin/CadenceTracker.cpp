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

int CadenceTracker::PeriodOf(int onMs, int offMs)
{
    if (std::abs(onMs - offMs) <= Tolerance(std::max(onMs, offMs)))
        return (onMs + offMs + 1) / 2;
    return onMs + offMs;
}

CadenceTracker::CadenceTracker(const CadenceRequest& request) : m_request(request) {}

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
    if (m_request.onMs > 0 || m_request.offMs > 0) {
        return (m_request.onMs <= 0 || Near(onMs, m_request.onMs)) &&
               (m_request.offMs <= 0 || Near(offMs, m_request.offMs));
    }
    return Near(PeriodOf(onMs, offMs), m_request.periodMs);
}

void CadenceTracker::CompleteCycle(int onMs, int offMs, int64_t endMs)
{
    Cycle cycle{onMs, offMs, endMs, false};
    if (Plausible(onMs, offMs)) {
        if (m_request.periodMs > 0) {
            cycle.matched = MatchesRequest(onMs, offMs);
        } else if (!m_recent.empty()) {
            const Cycle& previous = m_recent.back();
            cycle.matched = Plausible(previous.onMs, previous.offMs) && Near(onMs, previous.onMs) &&
                            Near(offMs, previous.offMs);
        }
    }
    if (cycle.matched) {
        ++m_count;
        if (++m_inARow >= kCyclesToConfirm && m_foundAtMs < 0)
            m_foundAtMs = m_nowMs;
    } else {
        m_inARow = 0;
    }
    m_recent.push_back(cycle);
    if (m_recent.size() > kRecentCycles)
        m_recent.pop_front();
}

int CadenceTracker::PerhapsPeriod() const
{
    std::vector<int> on, off;
    for (auto it = m_recent.rbegin(); it != m_recent.rend() && on.size() < kCyclesForPeriod; ++it) {
        if (Plausible(it->onMs, it->offMs)) {
            on.push_back(it->onMs);
            off.push_back(it->offMs);
        }
    }
    if (on.empty())
        return 0;
    auto median = [](std::vector<int>& values) {
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2] + 1) / 2;
    };
    return PeriodOf(median(on), median(off));
}

} // namespace parvane::vexlin
