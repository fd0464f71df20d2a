#include "platform/AdapterNodes.h"

#include "platform/VirtualAdapterLink.h"
#include "vadapter/VirtualAdapter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace parvane {

namespace {

// HID_ID=0003:00001234:00000110 in the device's uevent: bus, vendor, product.
bool ReadHidId(const std::string& ueventFile, unsigned& bus, unsigned& vendor, unsigned& product)
{
    std::ifstream uevent(ueventFile);
    std::string line;
    while (std::getline(uevent, line)) {
        if (line.rfind("HID_ID=", 0) == 0)
            return std::sscanf(line.c_str() + 7, "%x:%x:%x", &bus, &vendor, &product) == 3;
    }
    return false;
}

} // namespace

namespace {

// The nodes as sysfs lists them; none is opened.
std::vector<AdapterNode> ListAdapterNodes(uint16_t vendorId, std::span<const uint16_t> productIds,
                                          const std::string& sysRoot)
{
    std::vector<AdapterNode> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysRoot, error)) {
        unsigned bus = 0, vendor = 0, product = 0;
        if (!ReadHidId(entry.path().string() + "/device/uevent", bus, vendor, product) || bus != 0x03)
            continue;
        if (vendorId != 0 && vendor != vendorId)
            continue;
        bool known = false;
        for (uint16_t id : productIds)
            known = known || product == id;
        if (!known)
            continue;
        AdapterNode node;
        node.path = "/dev/" + entry.path().filename().string();
        node.vendorId = static_cast<uint16_t>(vendor);
        node.productId = static_cast<uint16_t>(product);
        nodes.push_back(node);
    }
    return nodes;
}

} // namespace

std::vector<AdapterNode> FindAdapterNodes(uint16_t vendorId, std::span<const uint16_t> productIds,
                                          const std::string& sysRoot)
{
    std::vector<AdapterNode> nodes = ListAdapterNodes(vendorId, productIds, sysRoot);
    for (AdapterNode& node : nodes) {
        const int fd = open(node.path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0)
            close(fd);
        else
            node.openError = errno;
    }
    return nodes;
}

bool AdapterPresent(uint16_t vendorId, uint16_t productId, const std::string& sysRoot)
{
    if (VirtualAdapterChosen())
        return ChosenVirtualAdapterOffers(vendorId, productId);
    const uint16_t ids[] = {productId};
    // Listed is present, whether or not the node opens just now (udev may
    // still be setting its permissions, another program may hold it).
    return !ListAdapterNodes(vendorId, ids, sysRoot).empty();
}

std::string AdapterAccessProblem(const std::vector<AdapterNode>& nodes)
{
    for (const AdapterNode& node : nodes) {
        if (node.openError == 0)
            continue;
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", node.vendorId, node.productId);
        return "The adapter (" + std::string(ids) + ") is at " + node.path + " but cannot be opened (" +
               std::strerror(node.openError) +
               "). Give your user access with the udev rule: run `sudo make install-udev` in the source tree "
               "(or copy 70-parvane-adapter.rules to /etc/udev/rules.d/ and run `sudo udevadm control "
               "--reload-rules && sudo udevadm trigger`), then unplug and replug the adapter.";
    }
    return {};
}

} // namespace parvane

namespace parvane {

bool DescriptorHasFeatureReport(const std::vector<uint8_t>& descriptor, size_t bytes)
{
    uint32_t reportSize = 0;
    uint32_t reportCount = 0;
    size_t at = 0;
    while (at < descriptor.size()) {
        const uint8_t prefix = descriptor[at];
        if (prefix == 0xFE) { // long item: size, tag, data
            if (at + 1 >= descriptor.size())
                break;
            at += 3 + descriptor[at + 1];
            continue;
        }
        const size_t size = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        if (at + 1 + size > descriptor.size())
            break;
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= static_cast<uint32_t>(descriptor[at + 1 + i]) << (8 * i);
        switch (prefix & 0xFC) {
        case 0x74: reportSize = value; break;   // Report Size (bits)
        case 0x94: reportCount = value; break;  // Report Count
        case 0xB0:                              // Feature
            if (static_cast<size_t>(reportSize) * reportCount == bytes * 8)
                return true;
            break;
        default: break;
        }
        at += 1 + size;
    }
    return false;
}

std::vector<uint8_t> HidrawReportDescriptor(const std::string& nodePath)
{
    const std::string name = nodePath.substr(nodePath.find_last_of('/') + 1);
    std::ifstream file("/sys/class/hidraw/" + name + "/device/report_descriptor", std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

} // namespace parvane
