// CapturedStderr on the Windows C runtime: descriptor 2 goes to a file opened
// for appending, so reading it back through our own descriptor never moves
// where the next line lands.
#include "tests/support/CapturedStderr.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

namespace parvane::test {

namespace {

std::wstring TempFileName()
{
    wchar_t dir[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH, dir) == 0 || GetTempFileNameW(dir, L"pvs", 0, name) == 0)
        return {};
    return name;
}

} // namespace

CapturedStderr::CapturedStderr()
{
    std::fflush(stderr);
    const std::wstring name = TempFileName();
    if (name.empty())
        return;
    // _O_TEMPORARY: the file goes when the last descriptor on it closes.
    m_fileFd = _wopen(name.c_str(), _O_RDWR | _O_BINARY | _O_APPEND | _O_TRUNC | _O_TEMPORARY,
                      _S_IREAD | _S_IWRITE);
    if (m_fileFd < 0)
        return;
    m_savedFd = _dup(2);
    _dup2(m_fileFd, 2);
}

CapturedStderr::~CapturedStderr()
{
    std::fflush(stderr);
    if (m_savedFd >= 0) {
        _dup2(m_savedFd, 2);
        _close(m_savedFd);
    }
    if (m_fileFd >= 0)
        _close(m_fileFd);
}

std::string CapturedStderr::Text()
{
    std::fflush(stderr);
    std::string text;
    if (m_fileFd < 0)
        return text;
    char buffer[4096];
    _lseeki64(m_fileFd, 0, SEEK_SET);
    for (;;) {
        const int got = _read(m_fileFd, buffer, sizeof(buffer));
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

} // namespace parvane::test
