// Tick on Windows: the system's own millisecond tick and Sleep.
#include "platform/Tick.h"

#include <windows.h>

namespace parvane {

uint32_t GetTickCount32()
{
    return static_cast<uint32_t>(GetTickCount());
}

void SleepMs(uint32_t milliseconds)
{
    Sleep(milliseconds);
}

} // namespace parvane
