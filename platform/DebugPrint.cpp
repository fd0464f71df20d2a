#include "platform/DebugPrint.h"

#ifdef _WIN32
#include "platform/WideText.h"

#include <windows.h>
#endif

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::mutex& SinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

parvane::DebugSink& Sink()
{
    static parvane::DebugSink sink;
    return sink;
}

} // namespace

void DebugOutput(const std::string& text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    {
        std::lock_guard<std::mutex> lock(SinkMutex());
        if (Sink()) {
            Sink()(line);
            return;
        }
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
#ifdef _WIN32
    // Outside the lock: with a debugger attached the call waits for it to
    // take the line.
    OutputDebugStringW(parvane::Widen(line + "\n").c_str());
#endif
}

void DebugPrint(const char* format, ...)
{
    constexpr size_t kBufferChars = 16000;
    char buffer[kBufferChars] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kBufferChars, format, args); // writes at most 15999 + NUL
    va_end(args);
    DebugOutput(buffer);
}

namespace parvane {

DebugSink SetDebugSink(DebugSink sink)
{
    std::lock_guard<std::mutex> lock(SinkMutex());
    DebugSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

} // namespace parvane
