#pragma once
// The POSIX calls the tests use that the Windows C runtime lacks: setenv and
// unsetenv (on the runtime's environment, which every module of the process
// shares) and mkdtemp. Force-included into the Windows build of the tests.
#ifdef _WIN32
#include <cstdlib>
#include <cstring>
#include <direct.h>
#include <random>

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

// Replaces the trailing XXXXXX with random letters and creates the directory.
inline char* mkdtemp(char* pattern)
{
    const size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0)
        return nullptr;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (size_t i = length - 6; i < length; ++i)
            pattern[i] = letters[random() % (sizeof(letters) - 1)];
        if (_mkdir(pattern) == 0)
            return pattern;
    }
    return nullptr;
}
#endif
