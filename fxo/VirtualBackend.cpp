// The virtual adapter as a transport backend: every report goes to it.
#include "fxo/HidTransport.h"

#include "platform/VirtualAdapterLink.h"
#include "vadapter/VirtualAdapter.h"

#include <cerrno>

namespace fxo {

namespace {

class VirtualDevice final : public HidDevice {
public:
    VirtualDevice(parvane::VirtualAdapter* adapter, int handle) : m_adapter(adapter), m_handle(handle) {}
    ~VirtualDevice() override { m_adapter->Close(m_handle); }

    bool SendFeature(const uint8_t* report, size_t length, int& error) override
    {
        return Checked(m_adapter->SendFeatureReport(m_handle, report, length, error), error);
    }

    bool GetFeature(uint8_t* report, size_t length, int& error) override
    {
        return Checked(m_adapter->GetFeatureReport(m_handle, report, length, error), error);
    }

    uint32_t Handle() const override { return static_cast<uint32_t>(m_handle); }

private:
    static bool Checked(bool ok, int& error)
    {
        if (!ok && error == 0)
            error = EIO;
        return ok;
    }

    parvane::VirtualAdapter* m_adapter;
    int m_handle;
};

class Virtual final : public HidBackend {
public:
    std::unique_ptr<HidDevice> OpenFirst(uint16_t vendorId, uint16_t productId, std::string& path,
                                         bool& enumerationFailed) override
    {
        parvane::VirtualAdapter* adapter = parvane::ChosenVirtualAdapter();
        enumerationFailed = adapter == nullptr;
        if (adapter == nullptr)
            return nullptr;
        for (const auto& device : adapter->Enumerate()) {
            if (device.vendorId != vendorId || device.productId != productId)
                continue;
            const int handle = adapter->Open(vendorId, productId);
            if (handle <= 0)
                continue;
            path = device.path;
            return std::make_unique<VirtualDevice>(adapter, handle);
        }
        return nullptr;
    }
};

} // namespace

HidBackend& VirtualBackend()
{
    static Virtual backend;
    return backend;
}

} // namespace fxo
