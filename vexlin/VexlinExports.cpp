// The nine functions of the tone-detection library, with C linkage. Each
// loaded file (Vexlin.so for port 1, Vexlin_02.so for port 2) holds its own
// listener, so the two ports never share state. Every function may be called
// in any order, more than once, and without a start.

#include "platform/DebugPrint.h"
#include "vexlin/LineListener.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

// On Windows dllexport names exactly the nine, undecorated.
#ifdef _WIN32
#define VEXLIN_EXPORT extern "C" __declspec(dllexport)
#else
#define VEXLIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using parvane::vexlin::BusyToneRequest;
using parvane::vexlin::LineListener;

struct Library {
    std::timed_mutex mutex; // orders starts, stops and the test times
    LineListener listener;
    std::atomic<int> portIndex{0}; // also read by the close, which may not get the mutex
    int testOnMs = 0;
    int testOffMs = 0;
};

// The state is reached by callers the file cannot wait for: a verification
// worker given up on by its program may still be inside a call when the
// program exits, and static objects are destroyed while other threads run.
// So the state is not a static object: it is made when the file is loaded
// and deleted by whoever lets go of it last, either the file's own hold
// (given up when the file is unloaded or the process exits) or the last
// call still inside. The counter and the pointer are constant-initialised
// atomics with nothing to destroy, so a call that arrives after the close
// still reads them, and is refused without touching the state.
//
// g_holds: bit 0 is set once the library is closed; the rest counts the
// calls inside it, kOneCall each.
constexpr uint64_t kClosed = 1;
constexpr uint64_t kOneCall = 2;
std::atomic<uint64_t> g_holds{0};
std::atomic<Library*> g_library{nullptr};

bool LibraryClosed()
{
    return (g_holds.load() & kClosed) != 0;
}

void LetGo()
{
    // The last call out after the close ends the state (and with it any
    // capture still under way). The exchange makes sure it is deleted once.
    if (g_holds.fetch_sub(kOneCall) == (kClosed | kOneCall))
        delete g_library.exchange(nullptr);
}

// Holds the state for the length of one exported call; empty (the call is
// refused) once the library is closed.
class Call {
public:
    Call()
    {
        if ((g_holds.fetch_add(kOneCall) & kClosed) == 0)
            m_library = g_library.load();
    }
    ~Call() { LetGo(); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    Library* operator->() const { return m_library; }
    explicit operator bool() const { return m_library != nullptr; }

private:
    Library* m_library = nullptr;
};

// How long the close waits for a start or stop under way to come back
// before leaving the capture to it.
constexpr auto kCloseWait = std::chrono::seconds(2);

// Refuses every later call, ends the capture and gives up the file's hold.
// A start or stop still inside is waited for, at most kCloseWait: it ends
// the capture itself when it comes back (a start sees the close and undoes
// itself), and the last call out deletes the state.
void CloseLibrary()
{
    if ((g_holds.fetch_add(kOneCall) & kClosed) != 0 || (g_holds.fetch_or(kClosed) & kClosed) != 0) {
        LetGo(); // closed already
        return;
    }
    Library* library = g_library.load();
    if (library != nullptr) {
        std::unique_lock<std::timed_mutex> lock(library->mutex, std::defer_lock);
        // Timed against the system clock: a steady-clock wait becomes
        // pthread_mutex_clocklock, which this toolchain's ThreadSanitizer
        // does not see.
        if (lock.try_lock_until(std::chrono::system_clock::now() + kCloseWait))
            library->listener.Stop();
        else
            DebugPrint("The tone-detection library is closing while a call is still inside it; that call ends the "
                       "listening when it comes back (index=%d)",
                       library->portIndex.load());
    }
    LetGo();
    LetGo(); // the file's own hold, taken when it was loaded
}

// Takes the file's hold when the file is loaded (before any call can come)
// and gives it up when the file is unloaded or the process exits, whether or
// not detection ever started.
struct LibraryOwner {
    LibraryOwner()
    {
        g_library.store(new Library);
        g_holds.fetch_add(kOneCall);
    }
    ~LibraryOwner() { CloseLibrary(); }
};
const LibraryOwner g_owner;

// Capture must end before the file is unloaded or the process exits, while
// the audio devices it uses still exist. Made at the first start, hence after
// those devices came to life, it is destroyed before they are torn down. A
// static object's destructor is tied to this file, so it runs at the unload;
// a handler passed to atexit is not where the C library's atexit is
// interposed (ThreadSanitizer's is), and would then run after the unload.
struct StopBeforeUnload {
    ~StopBeforeUnload() { CloseLibrary(); }
};

// Device names come from a 200-byte buffer; anything longer is not a name.
constexpr size_t kLongestDeviceName = 1024;

} // namespace

// The argument is the port index, written into the trace lines. Once the
// library is closed (unloaded, or the process exiting), every call is
// refused: the starts, loads and queries answer 0, the stops 1.
VEXLIN_EXPORT int VexlinLoad(int portIndex)
{
    const Call library;
    if (!library)
        return 0;
    std::lock_guard<std::timed_mutex> lock(library->mutex);
    library->portIndex.store(portIndex);
    DebugPrint("VexlinLoad (index=%d)", portIndex);
    return 1;
}

VEXLIN_EXPORT int StopVexlin()
{
    const Call library;
    if (!library)
        return 1; // closed: listening has ended, or ends as the call still inside comes back
    std::lock_guard<std::timed_mutex> lock(library->mutex);
    if (library->listener.Listening())
        DebugPrint("StopVexlin: stop listening to \"%s\" (index=%d)", library->listener.DeviceName().c_str(),
                   library->portIndex.load());
    library->listener.Stop();
    return 1;
}

VEXLIN_EXPORT int VexlinUnload()
{
    return StopVexlin();
}

// On and off times (ms) that a cycle must match besides the period of the
// next start; 0 leaves that time free.
VEXLIN_EXPORT int SetOnOffTimeForTest(int onMs, int offMs)
{
    const Call library;
    if (!library)
        return 0;
    std::lock_guard<std::timed_mutex> lock(library->mutex);
    library->testOnMs = onMs;
    library->testOffMs = offMs;
    return 1;
}

// Starts detecting a tone of frequency1 (plus frequency2 when not 0) with the
// given period (0: learn it) on the audio input whose name contains the
// device name. The three trailing arguments are reserved and ignored.
// Returns 1 when detection runs, 0 when it was refused.
VEXLIN_EXPORT int StartVexlin2(const char* device, int frequency1, int frequency2, int periodMs, int, int, int)
{
    const std::string name = device ? std::string(device, strnlen(device, kLongestDeviceName)) : std::string();
    const Call library;
    if (!library) {
        DebugPrint("StartVexlin2(%s,%d,%d,%d) refused: the library is being unloaded", name.c_str(), frequency1,
                   frequency2, periodMs);
        return 0;
    }
    std::lock_guard<std::timed_mutex> lock(library->mutex);
    BusyToneRequest request{frequency1, frequency2, periodMs, 0, 0};
    if (periodMs > 0) {
        request.onMs = library->testOnMs;
        request.offMs = library->testOffMs;
    }
    std::string why;
    bool started = library->listener.Start(name, request, &why);
    if (started && LibraryClosed()) {
        // Closed while this start looked for the device: the close may have
        // found the capture not yet open, so it ends here.
        library->listener.Stop();
        started = false;
        why = "the library is being unloaded";
    }
    if (!started) {
        DebugPrint("StartVexlin2(%s,%d,%d,%d) refused: %s (index=%d)", name.c_str(), frequency1, frequency2, periodMs,
                   why.c_str(), library->portIndex.load());
        return 0;
    }
    static const StopBeforeUnload stopBeforeUnload;
    DebugPrint("StartVexlin2: listening to \"%s\" for %d Hz + %d Hz, period %d ms, on %d ms, off %d ms (index=%d)",
               library->listener.DeviceName().c_str(), frequency1, frequency2, periodMs, request.onMs, request.offMs,
               library->portIndex.load());
    return 1;
}

VEXLIN_EXPORT int StartVexlin(const char* device, int frequency1, int frequency2, int periodMs)
{
    return StartVexlin2(device, frequency1, frequency2, periodMs, 0, 0, 0);
}

VEXLIN_EXPORT int GetBusyToneCount()
{
    const Call library;
    return library ? library->listener.Count() : 0;
}

VEXLIN_EXPORT int IsBusyToneHappened()
{
    const Call library;
    return library && library->listener.Found() ? 1 : 0;
}

VEXLIN_EXPORT int GetPerhapsPeriod()
{
    const Call library;
    return library ? library->listener.PerhapsPeriod() : 0;
}
