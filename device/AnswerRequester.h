#pragma once
// How the device thread asks the main dialog to answer a ring.
//
// When the line watch of CDeviceOper confirms a ring and reports it (once per
// call: the LED starts blinking), it calls RequestAnswer(kAnswerDelayMs) on
// the requester it was given with CDeviceOper::SetAnswerRequester, unless the
// line is already answered (CDeviceOper::m_bLineAnswered is 1).
//
// The dialog's side, for whoever implements it:
//  - RequestAnswer runs on the device thread. It must not touch widgets or
//    block; it only arms the dialog's answer timer (timer 2) on the dialog's
//    own thread, e.g. with a queued call, and returns at once. Arming an
//    armed timer again restarts it, like SetTimer.
//  - When the timer fires (on the dialog's thread) the dialog kills it; if a
//    run is armed it takes the line off-hook through the binding
//    (Binding().DaaSetOffhook()), sets m_bLineAnswered to 1, calls
//    SetLedMode(2) and starts the analysis; otherwise, while m_bPstnRing is
//    still 1, it arms the timer again with kAnswerRetryMs.
//  - On Stop it sets m_bLineAnswered to 0 and puts the line on-hook
//    (Binding().DaaSetOnhook()).
// m_bPstnRing, m_bLineAnswered and the LED mode are plain shared values:
// read and write them from any thread without a lock.

#include <cstdint>

class AnswerRequester {
public:
    // Delay with which the device thread asks for the answer.
    static constexpr uint32_t kAnswerDelayMs = 2000;
    // Delay with which the dialog re-arms while no run is armed yet.
    static constexpr uint32_t kAnswerRetryMs = 200;
    // The dialog's timer id for answering.
    static constexpr int kAnswerTimerId = 2;

    virtual ~AnswerRequester() = default;

    // Called on the device thread; see above. Must be safe to call from any
    // thread and must return without waiting for the dialog.
    virtual void RequestAnswer(uint32_t delayMs) = 0;
    // Called on the device thread when the adapter has gone (unplugged) and
    // when it is back and ready again; same rules as RequestAnswer.
    virtual void AdapterPresenceChanged(bool /*present*/) {}
};
