#pragma once
// The adapter's USB vendor id kept in a settings file, so that a user who
// found it once (parvane-cli probe) need not give --vendor-id every time.
// Both programs read, first found wins:
//   $XDG_CONFIG_HOME/parvane/parvane.conf  (default ~/.config/parvane/parvane.conf)
//   DIR/parvane/parvane.conf for each DIR of $XDG_CONFIG_DIRS (default /etc/xdg)
// The file:
//   [adapter]
//   vendor_id = 0x1234     ; decimal or 0x hexadecimal, 1 to 0xFFFF
// Comments start with ';' or '#'. --vendor-id overrides the file, and
// `make install-udev` writes the udev rule for the same value.

#include <cstdint>
#include <string>
#include <vector>

namespace parvane {

inline constexpr const char* kSettingsFileName = "parvane/parvane.conf";

// The settings files in the order they are read (user first), from the
// XDG variables as they are now.
std::vector<std::string> SettingsFiles();

// Looks for vendor_id in the files. True with the value and the file it came
// from when one has it; false with error empty when none does, or with error
// naming the file and line when the first file that has one gives a bad
// value or the file holds an unknown key.
bool ReadVendorIdSetting(const std::vector<std::string>& files, uint16_t& vendorId, std::string& from,
                         std::string& error);

} // namespace parvane
