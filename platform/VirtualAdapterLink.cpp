#include "platform/VirtualAdapterLink.h"

#include "platform/AdapterIds.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"
#include "vadapter/VirtualAdapter.h"

#ifdef _WIN32
#include "platform/WideText.h"

#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
#include <mutex>

namespace parvane {

bool VirtualAdapterChosen()
{
    const char* value = std::getenv(kVirtualAdapterEnv);
    return value != nullptr && value[0] != '\0';
}

VirtualAdapter* ChosenVirtualAdapter()
{
    if (!VirtualAdapterChosen())
        return nullptr;
    // The library is loaded once per module that links this file and never
    // unloaded: the adapter lives as long as the process, like hardware.
    static std::mutex mutex;
    static void* library = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    if (library == nullptr) {
        static const int anchor = 0;
        const std::string path = GetDirOfAddress(&anchor) + kVirtualAdapterLibrary;
#ifdef _WIN32
        library = LoadLibraryW(Widen(path).c_str());
        if (library == nullptr) {
            DebugPrint("Virtual adapter: cannot load %s: error code %lu", path.c_str(),
                       static_cast<unsigned long>(GetLastError()));
            return nullptr;
        }
#else
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (library == nullptr) {
            const char* error = dlerror();
            DebugPrint("Virtual adapter: cannot load %s: %s", path.c_str(), error ? error : "unknown error");
            return nullptr;
        }
#endif
    }
    using EntryPoint = VirtualAdapter* (*)();
#ifdef _WIN32
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), "ParvaneVirtualAdapter")));
#else
    auto entry = reinterpret_cast<EntryPoint>(dlsym(library, "ParvaneVirtualAdapter"));
#endif
    if (entry == nullptr) {
        DebugPrint("Virtual adapter: library has no entry point ParvaneVirtualAdapter");
        return nullptr;
    }
    return entry();
}

bool ChosenVirtualAdapterOffers(uint16_t vendorId, uint16_t productId)
{
    VirtualAdapter* adapter = ChosenVirtualAdapter();
    if (adapter == nullptr)
        return false;
    for (const VirtualHidDevice& device : adapter->Enumerate()) {
        if (device.vendorId == vendorId && device.productId == productId)
            return true;
    }
    return false;
}

} // namespace parvane
