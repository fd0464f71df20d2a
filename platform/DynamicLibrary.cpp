#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace parvane {

DynamicLibrary::~DynamicLibrary()
{
    Close();
}

bool DynamicLibrary::Open(const std::string& path)
{
    Close();
    m_path = path;
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char* error = dlerror();
        m_lastError = error ? error : "unknown error";
        return false;
    }
    m_lastError.clear();
    return true;
}

void DynamicLibrary::Close()
{
    if (m_handle != nullptr) {
        dlclose(m_handle);
        m_handle = nullptr;
    }
}

void* DynamicLibrary::Symbol(const char* name) const
{
    if (m_handle == nullptr)
        return nullptr;
    return dlsym(m_handle, name);
}

} // namespace parvane
