#pragma once
#include "platform/DebugPrint.h"

#include <mutex>
#include <string>
#include <vector>

namespace parvane::test {

// Collects the program's trace lines (instead of stderr) while it lives.
class TraceLines {
public:
    TraceLines();
    ~TraceLines();
    TraceLines(const TraceLines&) = delete;
    TraceLines& operator=(const TraceLines&) = delete;

    // Lines containing the text.
    int Count(const std::string& text);
    std::vector<std::string> Containing(const std::string& text);
    // The position of the last line that is exactly the text; -1 when none.
    int LastIndexOf(const std::string& text);

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    DebugSink m_previous;
};

} // namespace parvane::test
