#pragma once
#include <string>
#include <vector>

namespace parvane::test {

// Captures everything written to file descriptor 2 while it lives, from this
// program and from every library loaded into it (the line-device library's
// trace lines among them), and hands it back as lines.
class CapturedStderr {
public:
    CapturedStderr();
    ~CapturedStderr();
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;

    // Everything captured so far, one entry per line.
    std::vector<std::string> Lines();
    // True when some captured line contains the text.
    bool Contains(const std::string& text);
    // How many captured lines contain the text.
    int Count(const std::string& text);

private:
    std::string Text();
    int m_savedFd = -1;
    int m_fileFd = -1;
};

} // namespace parvane::test
