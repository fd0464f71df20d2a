#include "app/EventLoop.h"

#include <utility>

namespace parvane {

void EventLoop::SetTimerHandler(TimerHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timerHandler = std::move(handler);
}

void EventLoop::SetTimer(int id, uint32_t milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_timers[id] = Clock::now() + std::chrono::milliseconds(milliseconds);
    }
    m_wake.notify_all();
}

void EventLoop::KillTimer(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timers.erase(id);
}

bool EventLoop::IsTimerPending(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timers.count(id) != 0;
}

void EventLoop::Post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_all();
}

void EventLoop::Quit()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

bool EventLoop::RunUntil(const std::function<bool()>& done, uint32_t timeoutMs)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_quit = false;
    for (;;) {
        if (m_quit) {
            m_quit = false;
            return true;
        }
        lock.unlock();
        const bool finished = done && done();
        lock.lock();
        if (finished)
            return true;

        const Clock::time_point now = Clock::now();
        if (!m_tasks.empty()) {
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        // The earliest expired timer, if any; it is disarmed before its
        // handler runs, so the handler may arm it again.
        auto due = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->second <= now && (due == m_timers.end() || it->second < due->second))
                due = it;
        }
        if (due != m_timers.end()) {
            const int id = due->first;
            m_timers.erase(due);
            TimerHandler handler = m_timerHandler;
            lock.unlock();
            if (handler)
                handler(id);
            lock.lock();
            continue;
        }
        if (now >= deadline)
            return false;
        Clock::time_point wakeAt = std::min(deadline, now + std::chrono::milliseconds(10));
        for (const auto& timer : m_timers)
            wakeAt = std::min(wakeAt, timer.second);
        m_wake.wait_until(lock, wakeAt);
    }
}

void EventLoop::RunFor(uint32_t milliseconds)
{
    RunUntil(nullptr, milliseconds);
}

} // namespace parvane
