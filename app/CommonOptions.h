#pragma once
// The options every Parvane program takes, free of any toolkit:
//   --virtual-adapter[=PRESET|FILE]   run against the virtual adapter (a
//                                     country preset or a scenario file;
//                                     the bare option takes the "cn" preset)
//   --vendor-id ID | --vendor-id=ID   the adapter's USB vendor id (decimal or
//                                     0x hexadecimal, 1 to 0xFFFF)
// Other arguments are left in place for the program's own parsing.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvane {

inline constexpr const char* kDefaultVirtualAdapterPreset = "cn";

struct CommonOptions {
    uint16_t vendorId = 0;                     // the settings file's or the built-in one unless given
    std::optional<std::string> virtualAdapter; // preset name or scenario path
    std::vector<std::string> rest;             // arguments not consumed, in order (program name first)
};

// A USB vendor id: decimal or 0x hexadecimal, 1 to 0xFFFF.
bool ParseVendorId(const std::string& text, uint16_t& id);

// Parses argv; the vendor id defaults to the settings file's
// (app/AdapterSettings.h), else the built-in one. False with a message in error on a malformed option.
bool ParseCommonOptions(int argc, const char* const* argv, CommonOptions& options, std::string& error);

// Makes the chosen virtual adapter the process's (PARVANE_VIRTUAL_ADAPTER)
// and loads it, so that a refused scenario is known before anything else
// starts. True when no virtual adapter was asked for or it was accepted;
// false with a message in error otherwise (the adapter's own reason has
// gone to the debug output just before).
bool ApplyVirtualAdapterOption(const CommonOptions& options, std::string& error);

} // namespace parvane
