#include "display/ThreadBase.h"

#include "platform/DebugPrint.h"
#include "platform/Tick.h"

#ifdef _WIN32
// After ThreadBase.h: windows.h defines the THREAD_PRIORITY_* names as
// macros, of the values the header's steps already have.
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <system_error>

namespace {

#ifdef _WIN32
int CurrentThreadId()
{
    return static_cast<int>(GetCurrentThreadId());
}

// The steps are the system's own thread priorities.
bool SetThreadPriorityOf(int threadId, int priority, std::string& error)
{
    HANDLE thread = OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(threadId));
    const bool set = thread != nullptr && SetThreadPriority(thread, priority) != 0;
    if (!set)
        error = "error " + std::to_string(GetLastError());
    if (thread != nullptr)
        CloseHandle(thread);
    return set;
}
#else
// Nice value for a priority step: each step below or above normal is five
// nice levels, idle and time-critical the ends of the range.
int NiceValueOf(int priority)
{
    if (priority <= THREAD_PRIORITY_IDLE)
        return 19;
    if (priority >= THREAD_PRIORITY_TIME_CRITICAL)
        return -20;
    const int nice = -5 * priority;
    return nice < -20 ? -20 : (nice > 19 ? 19 : nice);
}

int CurrentThreadId()
{
    return static_cast<int>(syscall(SYS_gettid));
}

bool SetThreadPriorityOf(int threadId, int priority, std::string& error)
{
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), NiceValueOf(priority)) == 0)
        return true;
    error = std::strerror(errno);
    return false;
}
#endif

} // namespace

void CThreadBase::AutoResetEvent::Set()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bSignalled = true;
    }
    m_condition.notify_one();
}

void CThreadBase::AutoResetEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = false;
}

bool CThreadBase::AutoResetEvent::Wait(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_condition.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_bSignalled; }))
        return false;
    m_bSignalled = false;
    return true;
}

CThreadBase::CThreadBase() = default;

CThreadBase::~CThreadBase()
{
    StopThread();
    WaitForWorkerExit();
}

int CThreadBase::StartThread()
{
    if (m_bRunning.load() != 0)
        return 0;
    // A worker that outlived its stop bound still uses this object: let it
    // finish so that two workers never run side by side, then start afresh.
    WaitForWorkerExit();
    m_stopEvent.Reset();
    m_exitedEvent.Reset();
    m_nThreadId = 0;
    m_bRunning = 1;
    try {
        std::promise<void> started;
        std::future<void> startedFuture = started.get_future();
        m_thread = std::thread([this, &started] {
            m_nThreadId = CurrentThreadId();
            started.set_value();
            ThreadProcedure(this);
        });
        startedFuture.wait();
    } catch (const std::system_error& error) {
        DebugPrint("CThreadBase: cannot create the worker thread: %s", error.what());
        m_bRunning = 0;
    }
    return 1;
}

int CThreadBase::StopThread()
{
    if (m_bRunning.load() == 0)
        return 0;
    m_stopEvent.Set();
    const bool finished = m_exitedEvent.Wait(kStopWaitMs);
    m_bRunning = 0;
    if (m_thread.joinable()) {
        if (finished)
            m_thread.join();
        else
            m_lingering = std::move(m_thread);
    }
    m_nThreadId = 0;
    return 1;
}

int CThreadBase::SetPriority(int priority)
{
    const int threadId = m_nThreadId.load();
    if (m_bRunning.load() == 0 || threadId == 0)
        return 0;
    std::string error;
    if (!SetThreadPriorityOf(threadId, priority, error))
        DebugPrint("CThreadBase: cannot set priority %d: %s", priority, error.c_str());
    return 1;
}

void CThreadBase::WaitForWorkerExit()
{
    if (!m_lingering.joinable())
        return;
    if (m_lingering.get_id() == std::this_thread::get_id())
        m_lingering.detach(); // stopped from its own Run: it ends by itself
    else
        m_lingering.join();
}

bool CThreadBase::WaitForWorkerExit(uint32_t milliseconds)
{
    if (!m_lingering.joinable() || m_lingering.get_id() == std::this_thread::get_id()) {
        WaitForWorkerExit();
        return true;
    }
    // The worker signals its end as the last thing it does with this object.
    if (!m_exitedEvent.Wait(milliseconds))
        return false;
    m_lingering.join();
    return true;
}

void CThreadBase::AbandonWorker()
{
    if (m_lingering.joinable())
        m_lingering.detach();
}

int CThreadBase::ThreadProcedure(CThreadBase* object)
{
    if (object == nullptr)
        return -1;
    object->OnStart();
    while (!object->m_stopEvent.Wait(5)) {
        object->Run();
        parvane::SleepMs(1);
    }
    object->OnStop();
    object->m_exitedEvent.Set();
    return 0;
}
