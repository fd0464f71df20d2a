// The nine functions of the tone-detection library, with C linkage. Each
// loaded file (Vexlin.so for port 1, Vexlin_02.so for port 2) holds its own
// listener, so the two ports never share state. Every function may be called
// in any order, more than once, and without a start.

#include "platform/DebugPrint.h"
#include "vexlin/LineListener.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#define VEXLIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using parvane::vexlin::BusyToneRequest;
using parvane::vexlin::LineListener;

struct Library {
    std::mutex mutex; // orders starts, stops and the test times
    LineListener listener;
    int portIndex = 0;
    int testOnMs = 0;
    int testOffMs = 0;
};

Library& TheLibrary()
{
    static Library library;
    return library;
}

// Capture must end before the file is unloaded or the process exits, while
// the audio devices it uses still exist. Made at the first start, hence after
// those devices came to life, it is destroyed before they are torn down. A
// static object's destructor is tied to this file, so it runs at the unload;
// a handler passed to atexit is not where the C library's atexit is
// interposed (ThreadSanitizer's is), and would then run after the unload.
struct StopBeforeUnload {
    ~StopBeforeUnload() { TheLibrary().listener.Stop(); }
};

// Device names come from a 200-byte buffer; anything longer is not a name.
constexpr size_t kLongestDeviceName = 1024;

} // namespace

// The argument is the port index, written into the trace lines.
VEXLIN_EXPORT int VexlinLoad(int portIndex)
{
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    library.portIndex = portIndex;
    DebugPrint("VexlinLoad (index=%d)", portIndex);
    return 1;
}

VEXLIN_EXPORT int StopVexlin()
{
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    if (library.listener.Listening())
        DebugPrint("StopVexlin: stop listening to \"%s\" (index=%d)", library.listener.DeviceName().c_str(),
                   library.portIndex);
    library.listener.Stop();
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
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    library.testOnMs = onMs;
    library.testOffMs = offMs;
    return 1;
}

// Starts detecting a tone of frequency1 (plus frequency2 when not 0) with the
// given period (0: learn it) on the audio input whose name contains the
// device name. The three trailing arguments are reserved and ignored.
// Returns 1 when detection runs, 0 when it was refused.
VEXLIN_EXPORT int StartVexlin2(const char* device, int frequency1, int frequency2, int periodMs, int, int, int)
{
    Library& library = TheLibrary();
    std::lock_guard<std::mutex> lock(library.mutex);
    const std::string name = device ? std::string(device, strnlen(device, kLongestDeviceName)) : std::string();
    BusyToneRequest request{frequency1, frequency2, periodMs, 0, 0};
    if (periodMs > 0) {
        request.onMs = library.testOnMs;
        request.offMs = library.testOffMs;
    }
    std::string why;
    if (!library.listener.Start(name, request, &why)) {
        DebugPrint("StartVexlin2(%s,%d,%d,%d) refused: %s (index=%d)", name.c_str(), frequency1, frequency2, periodMs,
                   why.c_str(), library.portIndex);
        return 0;
    }
    static const StopBeforeUnload stopBeforeUnload;
    DebugPrint("StartVexlin2: listening to \"%s\" for %d Hz + %d Hz, period %d ms, on %d ms, off %d ms (index=%d)",
               library.listener.DeviceName().c_str(), frequency1, frequency2, periodMs, request.onMs, request.offMs,
               library.portIndex);
    return 1;
}

VEXLIN_EXPORT int StartVexlin(const char* device, int frequency1, int frequency2, int periodMs)
{
    return StartVexlin2(device, frequency1, frequency2, periodMs, 0, 0, 0);
}

VEXLIN_EXPORT int GetBusyToneCount()
{
    return TheLibrary().listener.Count();
}

VEXLIN_EXPORT int IsBusyToneHappened()
{
    return TheLibrary().listener.Found() ? 1 : 0;
}

VEXLIN_EXPORT int GetPerhapsPeriod()
{
    return TheLibrary().listener.PerhapsPeriod();
}
