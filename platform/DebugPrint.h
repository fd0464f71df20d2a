#pragma once
#include <functional>
#include <string>

// Trace output. Every trace line of the program goes to the debug output:
// one line on stderr, UTF-8 (on Windows also to the debugger output, through
// OutputDebugStringW). Tests can capture the lines instead.

#if defined(__MINGW_PRINTF_FORMAT)
#define PARVANE_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define PARVANE_PRINTF_FORMAT printf
#endif

// Formats printf-style into a 16000-character buffer (at most 15999 written)
// and writes the result to the debug output.
void DebugPrint(const char* format, ...) __attribute__((format(PARVANE_PRINTF_FORMAT, 1, 2)));

// Writes a text to the debug output unformatted. A trailing newline is
// dropped; the output always ends the line itself.
void DebugOutput(const std::string& text);

namespace parvane {

using DebugSink = std::function<void(const std::string& line)>;

// Replaces the destination of debug output for this process (or, with an
// empty function, restores stderr). Returns the previous sink.
DebugSink SetDebugSink(DebugSink sink);

} // namespace parvane
