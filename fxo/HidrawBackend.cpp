// Real adapters through hidapi's hidraw backend.
#include "fxo/HidTransport.h"

#include "platform/DebugPrint.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cwchar>

namespace fxo {

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string result;
    if (text == nullptr)
        return result;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (; *text != L'\0'; ++text) {
        const size_t length = std::wcrtomb(buffer, *text, &state);
        result.append(length == static_cast<size_t>(-1) ? "?" : std::string(buffer, length));
    }
    return result;
}

class HidrawDevice final : public HidDevice {
public:
    HidrawDevice(hid_device* device, uint32_t handle) : m_device(device), m_handle(handle) {}
    ~HidrawDevice() override { hid_close(m_device); }

    bool SendFeature(const uint8_t* report, size_t length, int& error) override
    {
        errno = 0;
        const int sent = hid_send_feature_report(m_device, report, length);
        return Check(sent, length, "send", error);
    }

    bool GetFeature(uint8_t* report, size_t length, int& error) override
    {
        errno = 0;
        const int got = hid_get_feature_report(m_device, report, length);
        return Check(got, length, "get", error);
    }

    uint32_t Handle() const override { return m_handle; }

private:
    bool Check(int moved, size_t length, const char* what, int& error)
    {
        if (moved >= 0 && static_cast<size_t>(moved) >= length)
            return true;
        error = moved < 0 && errno != 0 ? errno : EIO;
        // The device's error text belongs to this handle: take it now.
        DebugPrint("FXO: hidraw feature report %s failed: %s", what,
                   moved < 0 ? Narrow(hid_error(m_device)).c_str() : "short transfer");
        return false;
    }

    hid_device* m_device;
    uint32_t m_handle;
};

class Hidraw final : public HidBackend {
public:
    std::unique_ptr<HidDevice> OpenFirst(uint16_t vendorId, uint16_t productId, std::string& path,
                                         bool& enumerationFailed) override
    {
        enumerationFailed = false;
        if (!m_initialised) {
            if (hid_init() != 0) {
                enumerationFailed = true;
                return nullptr;
            }
            m_initialised = true;
        }
        std::unique_ptr<HidDevice> opened;
        hid_device_info* devices = hid_enumerate(vendorId, productId);
        for (hid_device_info* info = devices; info != nullptr && !opened; info = info->next) {
            if (info->vendor_id != vendorId || info->product_id != productId || info->path == nullptr)
                continue;
            hid_device* device = hid_open_path(info->path);
            if (device == nullptr)
                continue; // a device we may not open never matches
            path = info->path;
            opened = std::make_unique<HidrawDevice>(device, ++m_handles);
        }
        hid_free_enumeration(devices);
        return opened;
    }

private:
    bool m_initialised = false;
    uint32_t m_handles = 0;
};

} // namespace

HidBackend& HidrawBackend()
{
    static Hidraw backend;
    return backend;
}

} // namespace fxo
