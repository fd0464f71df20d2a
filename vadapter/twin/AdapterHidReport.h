#pragma once
// What every front of the twin shows of the adapter's HID side: the report
// descriptors and the framing of a feature-report reply.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace parvane {

// The model's feature report: report id 0 in byte 0, then 8 bytes.
constexpr size_t kAdapterReportLength = 9;

// Vendor page 0xFF00, one feature report of 8 bytes, no report ids: the
// adapter's report as the host sees it (report id 0 in front of it).
inline constexpr uint8_t kAdapterReportDescriptor[] = {
    0x06, 0x00, 0xFF, // Usage Page (Vendor 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x01,       //   Usage (1)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x08,       //   Report Count (8)
    0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
    0xC0,             // End Collection
};

// Another interface of a composite device: consumer keys, one input report.
inline constexpr uint8_t kOtherInterfaceReportDescriptor[] = {
    0x05, 0x0C,       // Usage Page (Consumer)
    0x09, 0x01,       // Usage (Consumer Control)
    0xA1, 0x01,       // Collection (Application)
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
    0x09, 0xE9, 0x09, 0xEA, 0x09, 0xE2, 0x09, 0xCD, 0x09, 0xB5, 0x09, 0xB6, 0x09, 0xB7, 0x09, 0xB3,
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0xC0,
};

// The reply to a feature-report read as hidraw receives it: the model's 9
// bytes (report id 0 first), cut off or padded with zeros to replyLength, as
// an adapter that answers short or long would.
inline std::vector<uint8_t> FrameFeatureReply(const uint8_t (&model)[kAdapterReportLength], size_t replyLength)
{
    std::vector<uint8_t> reply(replyLength, 0);
    std::copy_n(model, std::min(replyLength, kAdapterReportLength), reply.begin());
    return reply;
}

} // namespace parvane
