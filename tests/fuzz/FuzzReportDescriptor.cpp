// Any HID report descriptor, as the library finds the adapter's interface of
// a composite device by it. Items may be cut short or announce more data
// than there is; whatever follows a declared report cannot undo it.
#include "platform/AdapterNodes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> descriptor(data, data + size);
    const bool found = parvane::DescriptorHasFeatureReport(descriptor, 8);
    for (size_t bytes : {0, 1, 9, 64})
        parvane::DescriptorHasFeatureReport(descriptor, bytes);

    // The adapter's own report after the input: found once the input's last
    // item is whole, and appending to a descriptor that has it keeps it.
    std::vector<uint8_t> longer = descriptor;
    const uint8_t adapterReport[] = {0x75, 0x08, 0x95, 0x08, 0xB1, 0x02};
    longer.insert(longer.end(), std::begin(adapterReport), std::end(adapterReport));
    if (found && !parvane::DescriptorHasFeatureReport(longer, 8))
        __builtin_trap();
    return 0;
}
