#pragma once
#include <cstdint>
#include <vector>

namespace parvane {

// The caller on the far end of the virtual line. After the adapter is opened
// it waits ring_delay, then rings with the cadence (on,off[,on,off...],
// repeated) until the line goes off-hook, which answers the call. When the
// answered call is released (line back on-hook) it calls again after redial
// ms, or never when redial is 0. A line taken off-hook before the call is
// due is a call of the program's own (the exchange's, VirtualExchange): a
// call falling due while it lasts finds the line busy, and the caller calls
// back redial ms (at least ring_delay) after the line is free again. Times
// are ms of the adapter's clock.
// Not thread-safe on its own; the adapter holds its lock around every call.
class VirtualCall {
public:
    void Configure(uint32_t ringDelayMs, const std::vector<uint32_t>& cadenceMs, uint32_t redialMs);

    // Power-on: no call until the adapter is opened.
    void PowerOn();
    // The adapter was opened; the first opening since power-on schedules the call.
    void Opened(uint64_t now);
    // The hook state changed at this time.
    void HookChanged(bool offHook, uint64_t now);

    // True while a ring burst is on the line (whatever the hook state).
    bool RingBurst(uint64_t now);
    // True once the current call has been answered and not yet released.
    bool Answered(uint64_t now);
    // When the last ring burst of the current call ended, as of `now`: now
    // itself during a burst, 0 when the call has not rung yet (or is not
    // calling).
    uint64_t LastBurstEnd(uint64_t now);

private:
    enum class State { Unarmed, Calling, Answered, Finished };
    void Advance(uint64_t now);

    uint32_t m_ringDelayMs = 0;
    std::vector<uint32_t> m_cadenceMs;
    uint64_t m_cycleMs = 0;
    uint32_t m_redialMs = 0;

    State m_state = State::Unarmed;
    uint64_t m_ringStart = 0;
    bool m_offHook = false;
    // The line was taken before the call was due, for a call of the
    // program's own; a call that fell due meanwhile found it busy.
    bool m_ownCall = false;
    bool m_foundBusy = false;
};

} // namespace parvane
