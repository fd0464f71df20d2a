#pragma once
#include <cstdint>

namespace parvane {

// Milliseconds of a monotonic clock, truncated to 32 bits. It wraps after
// about 49.7 days, so callers compare ticks by unsigned subtraction.
uint32_t GetTickCount32();

// Sleeps the calling thread for the given number of milliseconds.
void SleepMs(uint32_t milliseconds);

} // namespace parvane
