// DynamicLibrary on Windows: LoadLibraryW, GetProcAddress, FreeLibrary.
#include "platform/DynamicLibrary.h"

#include "platform/WideText.h"

#include <windows.h>

namespace parvane {

namespace {

std::string SystemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
    if (text != nullptr)
        LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return (message.empty() ? std::string("error") : Narrow(message)) + " (error code " + std::to_string(code) + ")";
}

} // namespace

DynamicLibrary::~DynamicLibrary()
{
    Close();
}

bool DynamicLibrary::Open(const std::string& path)
{
    Close();
    m_path = path;
    m_handle = LoadLibraryW(Widen(path).c_str());
    if (m_handle == nullptr) {
        m_lastError = path + ": " + SystemMessage(GetLastError());
        return false;
    }
    m_lastError.clear();
    return true;
}

void DynamicLibrary::Close()
{
    if (m_handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(m_handle));
        m_handle = nullptr;
    }
}

void* DynamicLibrary::Symbol(const char* name) const
{
    if (m_handle == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

} // namespace parvane
