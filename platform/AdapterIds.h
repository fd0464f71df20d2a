#pragma once
#include <cstdint>

namespace parvane {

// USB identifiers of the telephone adapter. The vendor id is ours to fix and
// kept here only; the programs take another through --vendor-id for adapters
// in the field that report a different one.
constexpr uint16_t kAdapterVendorId = 0x1234;
constexpr uint16_t kAdapterProductIds[] = {0x0110, 0x2110, 0x2111};

// Environment variable that selects the virtual adapter: a preset name or the
// path of a scenario file. The programs' --virtual-adapter option sets it.
constexpr const char* kVirtualAdapterEnv = "PARVANE_VIRTUAL_ADAPTER";

// File name of the virtual adapter's shared library in the program directory.
#ifdef _WIN32
constexpr const char* kVirtualAdapterLibrary = "parvane_vadapter.dll";
#else
constexpr const char* kVirtualAdapterLibrary = "libparvane_vadapter.so";
#endif

} // namespace parvane
