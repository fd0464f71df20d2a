#pragma once
// The adapter's HID nodes as the kernel lists them (/sys/class/hidraw), apart
// from hidapi: to tell a user whose adapter is present but whose node they
// may not open where it is and how to get access, instead of "not found".
// On Windows (AdapterNodesWin.cpp) the nodes are the HID interfaces SetupAPI
// lists, the path is the interface's, openError GetLastError's code, and the
// report-descriptor helpers at the end are not built.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace parvane {

struct AdapterNode {
    std::string path;       // /dev/hidrawN
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int openError = 0;      // errno of opening it read-write; 0 when it opens
};

// The hidraw nodes of USB HID devices with this vendor id and one of the
// product ids (any vendor when vendorId is 0). sysRoot is for tests.
std::vector<AdapterNode> FindAdapterNodes(uint16_t vendorId, std::span<const uint16_t> productIds,
                                          const std::string& sysRoot = "/sys/class/hidraw");

// Whether the adapter with these ids is still on the bus: the virtual
// adapter's list when it is chosen, else the kernel's hidraw nodes in sysfs.
// Opens nothing: a node that is listed but cannot be opened just now counts
// as present. It may be asked while a run uses the adapter. sysRoot is for
// tests.
bool AdapterPresent(uint16_t vendorId, uint16_t productId, const std::string& sysRoot = "/sys/class/hidraw");

// For an adapter that is present but cannot be opened: names the node, the
// reason and the fix (the udev rule), in one line. Empty when every node
// with these ids opens or there is none.
std::string AdapterAccessProblem(const std::vector<AdapterNode>& nodes);

} // namespace parvane

namespace parvane {

// True when a HID report descriptor declares a feature report of this many
// bytes (report size times count, report id not counted): the adapter's
// interface of a composite device has its 8-byte one, the others do not.
bool DescriptorHasFeatureReport(const std::vector<uint8_t>& descriptor, size_t bytes);

// The report descriptor of a hidraw node (/dev/hidrawN) from sysfs; empty
// when it cannot be read.
std::vector<uint8_t> HidrawReportDescriptor(const std::string& nodePath);

} // namespace parvane
