#include "TraceLines.h"

namespace parvane::test {

TraceLines::TraceLines()
{
    m_previous = SetDebugSink([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(line);
    });
}

TraceLines::~TraceLines()
{
    SetDebugSink(m_previous);
}

int TraceLines::Count(const std::string& text)
{
    return static_cast<int>(Containing(text).size());
}

std::vector<std::string> TraceLines::Containing(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> found;
    for (const std::string& line : m_lines)
        if (line.find(text) != std::string::npos)
            found.push_back(line);
    return found;
}

int TraceLines::LastIndexOf(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = m_lines.size(); i-- > 0;)
        if (m_lines[i] == text)
            return static_cast<int>(i);
    return -1;
}

} // namespace parvane::test
