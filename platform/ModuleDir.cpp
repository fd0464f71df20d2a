#include "platform/ModuleDir.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace {

std::mutex g_mutex;
std::string g_override;

std::string DirOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return "./";
    return path.substr(0, slash + 1);
}

} // namespace

std::string GetModuleDir()
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_override.empty())
            return g_override;
    }
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0)
        return "./";
    return DirOf(std::string(path, static_cast<size_t>(length)));
}

namespace parvane {

std::string GetDirOfAddress(const void* address)
{
    Dl_info info{};
    link_map* module = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP) == 0 ||
        info.dli_fname == nullptr)
        return GetModuleDir();
    // The program itself (the loader's first module, with no name of its
    // own): dladdr names it after argv[0], which is a bare name when it was
    // found on the PATH and is taken from the working directory otherwise.
    if (module == nullptr || module->l_name == nullptr || module->l_name[0] == '\0')
        return GetModuleDir();
    char resolved[PATH_MAX] = {};
    if (realpath(info.dli_fname, resolved) == nullptr)
        return DirOf(info.dli_fname);
    return DirOf(resolved);
}

void SetModuleDirForTest(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = dir;
    if (!g_override.empty() && g_override.back() != '/')
        g_override += '/';
}

} // namespace parvane
