// Any settings file, read as both programs read it: one file, or the input
// cut at its first NUL byte into a user file and a system one.
#include "app/AdapterSettings.h"
#include "tests/fuzz/FuzzFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto& scratch = parvane::fuzz::Scratch();
    const uint8_t* cut = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    std::vector<std::string> files;
    if (cut == nullptr) {
        files.push_back(scratch.Write("parvane.conf", data, size));
    } else {
        const size_t first = static_cast<size_t>(cut - data);
        files.push_back(scratch.Write("user.conf", data, first));
        files.push_back(scratch.Write("system.conf", cut + 1, size - first - 1));
    }
    files.push_back(scratch.Path() + "/missing.conf");

    uint16_t vendorId = 0;
    std::string from;
    std::string error;
    const bool found = parvane::ReadVendorIdSetting(files, vendorId, from, error);
    // A value is a real vendor id from one of the files; a refusal names the
    // file and line it came from.
    if (found && (vendorId == 0 || !error.empty() || (from != files[0] && from != files[1])))
        __builtin_trap();
    if (!found && !error.empty() && error.rfind(scratch.Path(), 0) != 0)
        __builtin_trap();
    if (!found && !error.empty() && error.find(", line ") == std::string::npos)
        __builtin_trap();
    return 0;
}
