#pragma once
// One loaded copy of the tone-detection library, bound by name as the
// program binds it, for tests that use it only through its nine functions.
// Detection still running is stopped before the file is unloaded.

#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "tests/support/ExportBinder.h"

#include <string>
#include <type_traits>

namespace parvane::test {

// The two copies of the library file in the program directory.
#ifdef _WIN32
constexpr const char* kVexlinPort1File = "Vexlin.dll";
constexpr const char* kVexlinPort2File = "Vexlin_02.dll";
#else
constexpr const char* kVexlinPort1File = "Vexlin.so";
constexpr const char* kVexlinPort2File = "Vexlin_02.so";
#endif

class VexlinLibraryFile {
public:
    ~VexlinLibraryFile() { Unload(); }

    // Loads the file from the test program's directory and binds the nine names.
    bool Load(const std::string& fileName)
    {
        if (!m_library.Open(GetModuleDir() + fileName))
            return false;
        ExportBinder bind(m_library);
        bind(VexlinLoad, "VexlinLoad");
        bind(VexlinUnload, "VexlinUnload");
        bind(StartVexlin, "StartVexlin");
        bind(StartVexlin2, "StartVexlin2");
        bind(StopVexlin, "StopVexlin");
        bind(GetBusyToneCount, "GetBusyToneCount");
        bind(GetPerhapsPeriod, "GetPerhapsPeriod");
        bind(IsBusyToneHappened, "IsBusyToneHappened");
        bind(SetOnOffTimeForTest, "SetOnOffTimeForTest");
        return bind.AllBound();
    }

    void Unload()
    {
        if (StopVexlin)
            StopVexlin();
        StopVexlin = nullptr;
        m_library.Close();
    }
    const std::string& LastError() const { return m_library.LastError(); }
    void* Symbol(const char* name) const { return m_library.Symbol(name); }

    int (*VexlinLoad)(int) = nullptr;
    int (*VexlinUnload)() = nullptr;
    int (*StartVexlin)(const char*, int, int, int) = nullptr;
    int (*StartVexlin2)(const char*, int, int, int, int, int, int) = nullptr;
    int (*StopVexlin)() = nullptr;
    int (*GetBusyToneCount)() = nullptr;
    int (*GetPerhapsPeriod)() = nullptr;
    int (*IsBusyToneHappened)() = nullptr;
    int (*SetOnOffTimeForTest)(int, int) = nullptr;

private:
    DynamicLibrary m_library;
};

} // namespace parvane::test
