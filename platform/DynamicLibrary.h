#pragma once
#include <string>

namespace parvane {

// Thin layer over dlopen/dlsym/dlclose. Opening the same file twice gives the
// same loaded copy; a second port therefore loads a second file.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the file; false (with the loader's message in LastError) when it
    // cannot be loaded. A library already held is freed first.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_handle != nullptr; }

    // The address of an exported name, or nullptr.
    void* Symbol(const char* name) const;

    template <typename F>
    F Function(const char* name) const { return reinterpret_cast<F>(Symbol(name)); }

    const std::string& LastError() const { return m_lastError; }
    const std::string& Path() const { return m_path; }

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_lastError;
};

} // namespace parvane
