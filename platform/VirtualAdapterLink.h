#pragma once
#include <cstdint>
#include <string>

namespace parvane {

class VirtualAdapter;

// True when the process runs against the virtual adapter
// (PARVANE_VIRTUAL_ADAPTER set and not empty).
bool VirtualAdapterChosen();

// The process's virtual adapter when it is chosen, else nullptr. Loads
// libparvane_vadapter.so (parvane_vadapter.dll on Windows) from the directory of the calling module's file on
// first use; a library that cannot be loaded or a refused scenario gives
// nullptr and a trace line.
VirtualAdapter* ChosenVirtualAdapter();

// Whether the chosen virtual adapter offers a HID device with these ids
// (false when it cannot be loaded).
bool ChosenVirtualAdapterOffers(uint16_t vendorId, uint16_t productId);

} // namespace parvane
