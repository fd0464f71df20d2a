// The adapter's HID devices as SetupAPI lists them over the HID interface
// class. The identifiers come from the interface path ("...vid_1234&pid_0110..."),
// so listing opens nothing; FindAdapterNodes then tries each device
// read-write as the line-device library will.
#include "platform/AdapterNodes.h"

#include "platform/VirtualAdapterLink.h"
#include "platform/WideText.h"
#include "vadapter/VirtualAdapter.h"

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>

namespace parvane {

namespace {

// The four hex digits after key ("vid_", "pid_") in a lower-cased path.
bool IdAfter(const std::wstring& path, const wchar_t* key, unsigned& id)
{
    const size_t at = path.find(key);
    if (at == std::wstring::npos || at + 8 > path.size())
        return false;
    const std::wstring digits = path.substr(at + 4, 4);
    wchar_t* end = nullptr;
    id = static_cast<unsigned>(std::wcstoul(digits.c_str(), &end, 16));
    return end == digits.c_str() + 4;
}

std::vector<AdapterNode> ListAdapterNodes(uint16_t vendorId, std::span<const uint16_t> productIds)
{
    std::vector<AdapterNode> nodes;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return nodes;
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData); ++index) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
        if (size == 0)
            continue;
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::malloc(size));
        if (detail == nullptr)
            break;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        std::wstring path;
        if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, nullptr))
            path = detail->DevicePath;
        std::free(detail);
        std::wstring lower = path;
        for (wchar_t& c : lower)
            c = static_cast<wchar_t>(std::towlower(c));
        unsigned vendor = 0, product = 0;
        if (!IdAfter(lower, L"vid_", vendor) || !IdAfter(lower, L"pid_", product))
            continue;
        if (vendorId != 0 && vendor != vendorId)
            continue;
        bool known = false;
        for (uint16_t id : productIds)
            known = known || product == id;
        if (!known)
            continue;
        AdapterNode node;
        node.path = Narrow(path);
        node.vendorId = static_cast<uint16_t>(vendor);
        node.productId = static_cast<uint16_t>(product);
        nodes.push_back(node);
    }
    SetupDiDestroyDeviceInfoList(set);
    return nodes;
}

} // namespace

std::vector<AdapterNode> FindAdapterNodes(uint16_t vendorId, std::span<const uint16_t> productIds,
                                          const std::string&)
{
    std::vector<AdapterNode> nodes = ListAdapterNodes(vendorId, productIds);
    for (AdapterNode& node : nodes) {
        HANDLE handle = CreateFileW(Widen(node.path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        } else {
            const DWORD code = GetLastError();
            node.openError = code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
        }
    }
    return nodes;
}

bool AdapterPresent(uint16_t vendorId, uint16_t productId, const std::string&)
{
    if (VirtualAdapterChosen())
        return ChosenVirtualAdapterOffers(vendorId, productId);
    const uint16_t ids[] = {productId};
    return !ListAdapterNodes(vendorId, ids).empty();
}

std::string AdapterAccessProblem(const std::vector<AdapterNode>& nodes)
{
    for (const AdapterNode& node : nodes) {
        if (node.openError == 0)
            continue;
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", node.vendorId, node.productId);
        return "The adapter (" + std::string(ids) + ") is at " + node.path + " but cannot be opened (error " +
               std::to_string(node.openError) + "). Close the other program that uses it, or unplug and replug "
               "the adapter.";
    }
    return {};
}

} // namespace parvane
