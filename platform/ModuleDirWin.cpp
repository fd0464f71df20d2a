// ModuleDir on Windows: the module file names come from GetModuleFileNameW.
#include "platform/ModuleDir.h"

#include "platform/WideText.h"

#include <windows.h>

#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_override;

// The directory of a loaded module's file, up to and including its last
// backslash; "" when the name cannot be had.
std::string DirOfModule(HMODULE module)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) // the longest name Windows has
            return {};
        path.resize(path.size() * 2);
    }
    const auto separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos)
        return ".\\";
    return parvane::Narrow(path.substr(0, separator + 1));
}

} // namespace

std::string GetModuleDir()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_override.empty())
            return g_override;
    }
    const std::string dir = DirOfModule(nullptr);
    return dir.empty() ? ".\\" : dir;
}

namespace parvane {

std::string GetDirOfAddress(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return GetModuleDir();
    const std::string dir = DirOfModule(module);
    return dir.empty() ? GetModuleDir() : dir;
}

void SetModuleDirForTest(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = dir;
    if (!g_override.empty() && g_override.back() != '/' && g_override.back() != '\\')
        g_override += '\\';
}

} // namespace parvane
