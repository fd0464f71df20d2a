#include "vadapter/VirtualCall.h"

#include <algorithm>
#include <cstddef>

namespace parvane {

void VirtualCall::Configure(uint32_t ringDelayMs, const std::vector<uint32_t>& cadenceMs, uint32_t redialMs)
{
    m_ringDelayMs = ringDelayMs;
    m_cadenceMs = cadenceMs;
    m_cycleMs = 0;
    for (uint32_t interval : cadenceMs)
        m_cycleMs += interval;
    m_redialMs = redialMs;
    PowerOn();
}

void VirtualCall::PowerOn()
{
    m_state = State::Unarmed;
    m_ringStart = 0;
    m_offHook = false;
    m_ownCall = false;
    m_foundBusy = false;
}

void VirtualCall::Opened(uint64_t now)
{
    if (m_state != State::Unarmed)
        return;
    m_state = State::Calling;
    m_ringStart = now + m_ringDelayMs;
}

void VirtualCall::Advance(uint64_t now)
{
    if (m_state != State::Calling || !m_offHook || now < m_ringStart)
        return;
    if (m_ownCall) {
        // The call falls due while the line is taken for a call of the
        // program's own: the caller finds it busy and tries again later.
        m_foundBusy = true;
        const uint64_t retryMs = std::max(m_redialMs, m_ringDelayMs);
        m_ringStart += (now - m_ringStart) / retryMs * retryMs + retryMs;
        return;
    }
    // Taking the line while the phone rings (or once a call is due) answers it.
    m_state = State::Answered;
}

void VirtualCall::HookChanged(bool offHook, uint64_t now)
{
    Advance(now);
    m_offHook = offHook;
    if (offHook) {
        // Taken before the call is due (or with no call coming): a call of
        // the program's own.
        m_ownCall = m_state != State::Calling || now < m_ringStart;
        Advance(now);
        return;
    }
    if (m_ownCall) {
        m_ownCall = false;
        // A caller who found the line busy calls back a while after it is
        // free again.
        if (m_foundBusy)
            m_ringStart = std::max(m_ringStart, now + std::max(m_redialMs, m_ringDelayMs));
        m_foundBusy = false;
        return;
    }
    if (m_state == State::Answered) {
        if (m_redialMs == 0) {
            m_state = State::Finished;
        } else {
            m_state = State::Calling;
            m_ringStart = now + m_redialMs;
        }
    }
}

bool VirtualCall::RingBurst(uint64_t now)
{
    Advance(now);
    if (m_state != State::Calling || (m_offHook && m_ownCall) || now < m_ringStart || m_cycleMs == 0)
        return false;
    uint64_t phase = (now - m_ringStart) % m_cycleMs;
    for (std::size_t i = 0; i < m_cadenceMs.size(); ++i) {
        if (phase < m_cadenceMs[i])
            return i % 2 == 0;
        phase -= m_cadenceMs[i];
    }
    return false;
}

uint64_t VirtualCall::LastBurstEnd(uint64_t now)
{
    if (m_state != State::Calling || (m_offHook && m_ownCall) || now < m_ringStart || m_cycleMs == 0)
        return 0;
    const uint64_t cycleStart = m_ringStart + (now - m_ringStart) / m_cycleMs * m_cycleMs;
    // Bursts are the even intervals of the cadence, and a cycle begins with
    // one, so the last burst to have ended is in this cycle.
    uint64_t lastEnd = 0;
    uint64_t start = cycleStart;
    for (std::size_t i = 0; i < m_cadenceMs.size(); ++i) {
        const uint64_t end = start + m_cadenceMs[i];
        if (i % 2 == 0) {
            if (now < end)
                return now >= start ? now : lastEnd;
            lastEnd = end;
        }
        start = end;
    }
    return lastEnd;
}

bool VirtualCall::Answered(uint64_t now)
{
    Advance(now);
    return m_state == State::Answered;
}

} // namespace parvane
