#pragma once
#include "platform/DynamicLibrary.h"

namespace parvane::test {

// Binds a loaded library's exported functions by name, as a host does, and
// remembers whether every name was found.
class ExportBinder {
public:
    explicit ExportBinder(const DynamicLibrary& library) : m_library(library) {}

    template <typename F>
    void operator()(F& function, const char* name)
    {
        function = m_library.Function<F>(name);
        m_allBound = m_allBound && function != nullptr;
    }

    bool AllBound() const { return m_allBound; }

private:
    const DynamicLibrary& m_library;
    bool m_allBound = true;
};

} // namespace parvane::test
