#pragma once
// The two timers of a run, behind an interface so that the dialog (Qt
// timers), the headless front end and the tests (EventLoop) can each supply
// their own.
//
// A timer is one-shot: SetTimer arms it (arming an armed timer restarts it,
// as SetTimer on a window does), KillTimer disarms it. Both may be called
// from any thread (the device thread arms the answer timer). When a timer
// expires, the owner calls RunControl::OnTimer(id) on the control thread,
// the thread that runs every other RunControl handler.

#include <cstdint>

namespace parvane {

class RunTimers {
public:
    // Auto-stop: 15000 ms after an Analyze start with the check box checked.
    static constexpr int kAutoStopTimer = 1;
    // Answer: armed by the device thread when a ring is confirmed.
    static constexpr int kAnswerTimer = 2;
    // Adapter presence: armed at 0 ms by the device thread when the adapter
    // is unplugged or back, so that the run reacts on the control thread.
    static constexpr int kAdapterTimer = 3;

    virtual ~RunTimers() = default;
    virtual void SetTimer(int id, uint32_t milliseconds) = 0;
    virtual void KillTimer(int id) = 0;
};

} // namespace parvane
