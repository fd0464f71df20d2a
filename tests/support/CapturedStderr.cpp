#include "tests/support/CapturedStderr.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace parvane::test {

CapturedStderr::CapturedStderr()
{
    std::fflush(stderr);
    char name[] = "/tmp/parvane-stderr-XXXXXX";
    m_fileFd = mkstemp(name);
    if (m_fileFd < 0)
        return;
    unlink(name);
    m_savedFd = dup(2);
    dup2(m_fileFd, 2);
}

CapturedStderr::~CapturedStderr()
{
    std::fflush(stderr);
    if (m_savedFd >= 0) {
        dup2(m_savedFd, 2);
        close(m_savedFd);
    }
    if (m_fileFd >= 0)
        close(m_fileFd);
}

std::string CapturedStderr::Text()
{
    std::fflush(stderr);
    std::string text;
    if (m_fileFd < 0)
        return text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = pread(m_fileFd, buffer, sizeof(buffer), offset);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

} // namespace parvane::test
