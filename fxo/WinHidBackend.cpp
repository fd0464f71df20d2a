// Real adapters on Windows: discovery through SetupAPI over the HID interface
// class, feature reports through HidD_SetFeature and HidD_GetFeature.
#include "fxo/HidTransport.h"

#include "platform/DebugPrint.h"
#include "platform/WideText.h"

#include <windows.h>
// hidsdi.h and setupapi.h need the types of windows.h first; mingw's hidsdi.h
// declares its functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>

namespace fxo {

namespace {

// A failed call that left no error code still fails with one.
int LastErrorCode()
{
    const DWORD code = GetLastError();
    return code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
}

class WinHidDevice final : public HidDevice {
public:
    explicit WinHidDevice(HANDLE handle) : m_handle(handle) {}
    ~WinHidDevice() override { CloseHandle(m_handle); }

    bool SendFeature(const uint8_t* report, size_t length, int& error) override
    {
        // HidD_SetFeature takes a writable buffer; the caller's stays as it is.
        uint8_t buffer[kMaxReport] = {};
        if (length > sizeof(buffer)) {
            error = ERROR_INVALID_PARAMETER;
            return false;
        }
        std::copy(report, report + length, buffer);
        if (HidD_SetFeature(m_handle, buffer, static_cast<ULONG>(length)))
            return true;
        error = LastErrorCode();
        return false;
    }

    bool GetFeature(uint8_t* report, size_t length, int& error) override
    {
        if (HidD_GetFeature(m_handle, report, static_cast<ULONG>(length)))
            return true;
        error = LastErrorCode();
        return false;
    }

    uint32_t Handle() const override
    {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(m_handle));
    }

private:
    static constexpr size_t kMaxReport = 64;
    HANDLE m_handle;
};

class WinHid final : public HidBackend {
public:
    std::unique_ptr<HidDevice> OpenFirst(uint16_t vendorId, uint16_t productId, std::string& path,
                                         bool& enumerationFailed) override
    {
        enumerationFailed = false;
        GUID hidGuid;
        HidD_GetHidGuid(&hidGuid);
        HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            enumerationFailed = true;
            return nullptr;
        }
        std::unique_ptr<HidDevice> opened;
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        for (DWORD index = 0; !opened && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData);
             ++index) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
            if (size == 0) {
                DebugOutput("FXO: Length=0 ???");
                break;
            }
            auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(size));
            if (detail == nullptr) {
                DebugOutput("FXO: malloc failed 001");
                break;
            }
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, nullptr))
                opened = OpenIfMatching(detail->DevicePath, vendorId, productId, path);
            std::free(detail);
        }
        SetupDiDestroyDeviceInfoList(set);
        return opened;
    }

private:
    // Opens one interface's device and keeps it when its identifiers match.
    // An interface that does not open (another program holds it, access is
    // refused) never matches.
    static std::unique_ptr<HidDevice> OpenIfMatching(const wchar_t* devicePath, uint16_t vendorId,
                                                     uint16_t productId, std::string& path)
    {
        HANDLE handle = CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return nullptr;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (!HidD_GetAttributes(handle, &attributes) || attributes.VendorID != vendorId ||
            attributes.ProductID != productId) {
            CloseHandle(handle);
            return nullptr;
        }
        // The log names the device without its "\\?\" prefix.
        const std::wstring name(devicePath);
        path = parvane::Narrow(name.size() > 4 ? name.substr(4) : name);
        return std::make_unique<WinHidDevice>(handle);
    }
};

} // namespace

HidBackend& WindowsHidBackend()
{
    static WinHid backend;
    return backend;
}

} // namespace fxo
