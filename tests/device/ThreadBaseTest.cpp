#include "display/ThreadBase.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A worker whose steps can be held up by the test.
class Worker : public CThreadBase {
public:
    ~Worker() override
    {
        Release();
        StopThread();
        WaitForWorkerExit();
    }

    void HoldRun() { m_holdRun = true; }
    void HoldOnStart(int ms) { m_onStartMs = ms; }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_holdRun = false;
        }
        m_condition.notify_all();
    }
    bool WaitFor(const std::atomic<int>& counter, int atLeast)
    {
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (counter.load() < atLeast && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return counter.load() >= atLeast;
    }

    std::atomic<int> m_runs{0}, m_starts{0}, m_stops{0}, m_runEntered{0}, m_concurrent{0}, m_maxConcurrent{0};
    std::atomic<int> m_niceSeen{100};

protected:
    void Run() override
    {
        const int inside = ++m_concurrent;
        if (inside > m_maxConcurrent)
            m_maxConcurrent = inside;
        ++m_runEntered;
        m_niceSeen = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return !m_holdRun.load(); });
        }
        --m_concurrent;
        ++m_runs;
    }
    void OnStart() override
    {
        ++m_starts;
        if (m_onStartMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_onStartMs));
    }
    void OnStop() override { ++m_stops; }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::atomic<bool> m_holdRun{false};
    int m_onStartMs = 0;
};

TEST(ThreadBase, StartsOnceStopsAndRestarts)
{
    Worker worker;
    EXPECT_EQ(worker.StopThread(), 0) << "stop before any start";
    EXPECT_EQ(worker.SetPriority(THREAD_PRIORITY_NORMAL), 0);

    EXPECT_EQ(worker.StartThread(), 1);
    EXPECT_EQ(worker.StartThread(), 0) << "already running";
    ASSERT_TRUE(worker.WaitFor(worker.m_runs, 3));
    EXPECT_EQ(worker.StopThread(), 1);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.m_starts, 1);
    EXPECT_EQ(worker.m_stops, 1);
    const int runsAfterStop = worker.m_runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(worker.m_runs, runsAfterStop) << "no step after the stop";

    EXPECT_EQ(worker.StartThread(), 1) << "restart";
    ASSERT_TRUE(worker.WaitFor(worker.m_runs, runsAfterStop + 2));
    EXPECT_EQ(worker.StopThread(), 1);
    EXPECT_EQ(worker.m_starts, 2);
    EXPECT_EQ(worker.m_stops, 2);
    EXPECT_EQ(CThreadBase::ThreadProcedure(nullptr), -1);
}

TEST(ThreadBase, StopGivesUpAfterOneSecondAndARestartWaitsForTheOldWorker)
{
    Worker worker;
    worker.HoldRun();
    worker.StartThread();
    ASSERT_TRUE(worker.WaitFor(worker.m_runEntered, 1));

    const auto before = Clock::now();
    EXPECT_EQ(worker.StopThread(), 1);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(1000));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.m_runs, 0) << "the blocked step is still running";
    EXPECT_EQ(worker.SetPriority(THREAD_PRIORITY_NORMAL), 0);

    // Restarting must not put a second worker on the object beside the stuck
    // one: the restart waits until the old worker has finished.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        worker.Release();
    });
    EXPECT_EQ(worker.StartThread(), 1);
    releaser.join();
    ASSERT_TRUE(worker.WaitFor(worker.m_runs, 3));
    EXPECT_EQ(worker.m_maxConcurrent, 1);
    EXPECT_EQ(worker.StopThread(), 1);
    EXPECT_EQ(worker.m_stops, 2);
}

TEST(ThreadBase, StopDuringOnStartSkipsRun)
{
    Worker worker;
    worker.HoldOnStart(200);
    worker.StartThread();
    ASSERT_TRUE(worker.WaitFor(worker.m_starts, 1));
    EXPECT_EQ(worker.StopThread(), 1);
    EXPECT_EQ(worker.m_runEntered, 0);
    EXPECT_EQ(worker.m_stops, 1);
}

TEST(ThreadBase, PriorityReachesTheWorker)
{
    Worker worker;
    worker.StartThread();
    EXPECT_EQ(worker.SetPriority(THREAD_PRIORITY_BELOW_NORMAL), 1);
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (worker.m_niceSeen != 5 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(worker.m_niceSeen, 5);
    worker.StopThread();
}

} // namespace
