// Real adapters through hidapi's hidraw backend.
#include "fxo/HidTransport.h"

#include "platform/AdapterNodes.h"
#include "platform/DebugPrint.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>

namespace fxo {

namespace {

// Of a fetched reply the library reads the report id and bytes 1 to 6 (the
// register value, the serial number). usbhid hands over what the adapter
// sent with the report id in front, so an adapter replying a byte short
// gives 8 bytes: still a good reply, the rest stays as zeroed by the caller.
// A longer reply never reaches us, the kernel cuts it to the buffer.
constexpr size_t kReplyBytesUsed = 7;
// The adapter's feature report after its report id.
constexpr size_t kReportDataBytes = 8;

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
        return Check(got, std::min(length, kReplyBytesUsed), "get", error);
    }

    uint32_t Handle() const override { return m_handle; }

private:
    bool Check(int moved, size_t needed, const char* what, int& error)
    {
        if (moved >= 0 && static_cast<size_t>(moved) >= needed)
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
            // Of a composite device only the interface with the adapter's
            // 8-byte feature report will do; a descriptor that cannot be
            // read does not rule a node out.
            const std::vector<uint8_t> descriptor = parvane::HidrawReportDescriptor(info->path);
            if (!descriptor.empty() && !parvane::DescriptorHasFeatureReport(descriptor, kReportDataBytes)) {
                DebugPrint("FXO: %s has no feature report of the adapter: another interface", info->path);
                continue;
            }
            errno = 0;
            hid_device* device = hid_open_path(info->path);
            if (device == nullptr) {
                // A device we may not open never matches; say which and why.
                DebugPrint("FXO: cannot open %s (%s): install the udev rule (make install-udev) and replug",
                           info->path, errno != 0 ? std::strerror(errno) : "refused");
                continue;
            }
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
