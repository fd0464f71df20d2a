// A host program as other Windows programs are: it links nothing of ours,
// loads FXO.dll and FXO_02.dll from its own folder with LoadLibraryW, binds
// the exports it uses by their plain names and drives one copy per port.
// Run with the virtual adapter chosen; exits 0 when the two copies kept
// their own state, else names what went wrong.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

constexpr int32_t kVendorId = 0x1234;
constexpr int32_t kProductId = 0x0110;
constexpr uint8_t kLineRegister = 10;

struct Port {
    HMODULE module = nullptr;
    uint8_t (*ZorvLoad)(int32_t, int32_t) = nullptr;
    uint8_t (*ZorvClose)() = nullptr;
    int32_t (*SetPortIndex)(int32_t) = nullptr;
    uint8_t (*ReadByte)(uint8_t) = nullptr;
};

int g_failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok)
        ++g_failures;
}

template <typename F>
bool Bind(HMODULE module, F& function, const char* name)
{
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

bool Load(Port& port, const std::wstring& path)
{
    port.module = LoadLibraryW(path.c_str());
    if (port.module == nullptr) {
        std::printf("cannot load %ls: error code %lu\n", path.c_str(), GetLastError());
        return false;
    }
    return Bind(port.module, port.ZorvLoad, "ZorvLoad") && Bind(port.module, port.ZorvClose, "ZorvClose") &&
           Bind(port.module, port.SetPortIndex, "SetPortIndex") && Bind(port.module, port.ReadByte, "ReadByte");
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

} // namespace

int main()
{
    const std::wstring folder = ProgramFolder();
    Port port1, port2;
    Check(Load(port1, folder + L"FXO.dll"), "FXO.dll loads and has its exports");
    Check(Load(port2, folder + L"FXO_02.dll"), "FXO_02.dll loads and has its exports");
    if (g_failures != 0)
        return 1;
    Check(port1.module != port2.module, "the two files are two loaded copies");
    port1.SetPortIndex(0);
    port2.SetPortIndex(1);

    Check(port1.ZorvLoad(kVendorId, kProductId) == 1, "port 1 opens the adapter");
    Check(port1.ReadByte(kLineRegister) != 0, "port 1 reads the line register");
    Check(port2.ReadByte(kLineRegister) == 0, "port 2 is not plugged while port 1 is");

    Check(port2.ZorvLoad(kVendorId, kProductId) == 1, "port 2 opens the adapter too");
    Check(port1.ZorvClose() == 1, "port 1 closes");
    Check(port1.ReadByte(kLineRegister) == 0, "port 1 is no longer plugged");
    Check(port2.ReadByte(kLineRegister) != 0, "port 2 still reads the line register");
    port2.ZorvClose();

    FreeLibrary(port2.module);
    FreeLibrary(port1.module);
    std::printf("%s\n", g_failures == 0 ? "two ports, two states" : "the ports share state");
    return g_failures == 0 ? 0 : 1;
}
