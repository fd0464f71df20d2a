// What a capture of stderr holds, as lines, on every system; the capture
// itself (CapturedStderr.cpp, CapturedStderrWin.cpp) is the system's.
#include "CapturedStderr.h"

#include <sstream>

namespace parvane::test {

std::vector<std::string> CapturedStderr::Lines()
{
    std::vector<std::string> lines;
    std::istringstream stream(Text());
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool CapturedStderr::Contains(const std::string& text)
{
    return Count(text) > 0;
}

int CapturedStderr::Count(const std::string& text)
{
    int count = 0;
    for (const auto& line : Lines())
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}

} // namespace parvane::test
