#pragma once
// The POSIX environment calls the tests use, on the Windows C runtime (whose
// environment every module of the process shares). Force-included into the
// Windows build of the tests.
#ifdef _WIN32
#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name) != nullptr)
        return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name)
{
    return _putenv_s(name, "") == 0 ? 0 : -1;
}
#endif
