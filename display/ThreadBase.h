#pragma once
// CThreadBase: the base of the program's polling workers.
//
// A worker thread calls OnStart once, then Run over and over (waiting 5 ms
// for the stop signal and sleeping 1 ms between passes) until StopThread is
// called, then OnStop once. The device object's line watch runs on it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Thread priorities, in the steps the program uses. On Linux they map to the
// thread's nice value; raising a priority above normal needs the privilege to
// lower nice values and is otherwise refused with a trace line. On Windows
// they are the system's own thread priorities (SetThreadPriority).
enum ThreadPriority : int {
    THREAD_PRIORITY_IDLE = -15,
    THREAD_PRIORITY_LOWEST = -2,
    THREAD_PRIORITY_BELOW_NORMAL = -1,
    THREAD_PRIORITY_NORMAL = 0,
    THREAD_PRIORITY_ABOVE_NORMAL = 1,
    THREAD_PRIORITY_HIGHEST = 2,
    THREAD_PRIORITY_TIME_CRITICAL = 15,
};

class CThreadBase {
public:
    CThreadBase();
    // Stops the worker. A worker that outlived the 1000 ms stop bound is
    // waited for here, because it still uses this object. A derived class
    // must call StopThread in its own destructor: by the time this one runs,
    // the derived part (and its Run) is gone.
    virtual ~CThreadBase();

    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;

    // Starts the worker. Returns 0 when it is already running, else 1 (also
    // when the thread could not be created; the running flag then stays 0).
    int StartThread();
    // Signals the worker to stop and waits at most 1000 ms for it to finish.
    // Returns 0 when it was not running, else 1. The running flag is cleared
    // either way; a worker still busy after the bound is left to finish its
    // current pass and is waited for before a restart or destruction.
    int StopThread();
    // Sets the worker's priority (one of THREAD_PRIORITY_*). Returns 1 while
    // running, 0 otherwise.
    int SetPriority(int priority);

    bool IsRunning() const { return m_bRunning.load() != 0; }

    // The worker's procedure: OnStart, the Run loop, OnStop. With no object
    // it returns -1, otherwise 0 once the stop signal has been seen.
    static int ThreadProcedure(CThreadBase* object);

protected:
    // One step of work, called on the worker.
    virtual void Run() = 0;
    // Called once on the worker before the first Run, and once after the last.
    virtual void OnStart() {}
    virtual void OnStop() {}

    // Waits for a worker that outlived StopThread's bound to finish. Derived
    // classes call it before freeing what their Run uses.
    void WaitForWorkerExit();
    // The same, for at most the time given: true when no worker is left.
    bool WaitForWorkerExit(uint32_t milliseconds);
    // The thread of a worker that outlived StopThread's bound (no thread
    // when there is none).
    std::thread::id LingeringWorker() const { return m_lingering.get_id(); }
    // Lets a lingering worker go without waiting for it. Only for a worker
    // that is known never to touch this object again.
    void AbandonWorker();

    static constexpr uint32_t kStopWaitMs = 1000;

private:
    // An auto-reset event: a signal wakes one wait and is consumed by it.
    class AutoResetEvent {
    public:
        void Set();
        void Reset();
        // True when signalled within the time (the signal is then consumed).
        bool Wait(uint32_t milliseconds);

    private:
        std::mutex m_mutex;
        std::condition_variable m_condition;
        bool m_bSignalled = false;
    };

    AutoResetEvent m_stopEvent;
    AutoResetEvent m_exitedEvent;
    std::atomic<int> m_nThreadId{0};   // kernel thread id of the worker, for the priority
    std::thread m_thread;              // the running worker
    std::thread m_lingering;           // a stopped worker that had not finished in time
    std::atomic<int> m_bRunning{0};
};
