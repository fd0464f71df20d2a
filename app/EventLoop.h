#pragma once
// A small toolkit-free event loop: tasks posted from any thread and the run
// timers, both carried out on the thread that runs the loop. The headless
// front end drives RunControl with it; the tests do too.
//
//   EventLoop loop;
//   RunControl run(device, language, panel, loop, capture);
//   loop.SetTimerHandler([&](int id) { run.OnTimer(id); });
//   run.Start();
//   loop.RunUntil([&] { return done; }, 30000);

#include "app/RunTimers.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace parvane {

class EventLoop final : public RunTimers {
public:
    using TimerHandler = std::function<void(int id)>;

    // Called on the loop's thread for each expired timer (set it before the
    // loop runs).
    void SetTimerHandler(TimerHandler handler);

    // RunTimers; any thread.
    void SetTimer(int id, uint32_t milliseconds) override;
    void KillTimer(int id) override;
    bool IsTimerPending(int id) const;

    // Queues a task for the loop's thread; any thread.
    void Post(std::function<void()> task);

    // Runs tasks and expired timers on the calling thread until `done`
    // answers true (asked after each task or timer and at least every
    // 10 ms), Quit is called, or timeoutMs pass. True when `done` (or Quit)
    // ended it, false on the timeout.
    bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs);
    // Runs for the given time.
    void RunFor(uint32_t milliseconds);
    // Ends the running RunUntil; any thread.
    void Quit();

private:
    using Clock = std::chrono::steady_clock;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::map<int, Clock::time_point> m_timers; // id -> due time
    TimerHandler m_timerHandler;
    bool m_quit = false;
};

} // namespace parvane
