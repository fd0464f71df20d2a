#include "app/CommonOptions.h"

#include "app/AdapterSettings.h"

#include "platform/AdapterIds.h"
#include "platform/VirtualAdapterLink.h"

#include <cstdlib>
#include <string_view>

namespace parvane {

bool ParseVendorId(const std::string& text, uint16_t& id)
{
    if (text.empty())
        return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 8)
        return false;
    for (char c : digits) {
        const bool ok = hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c));
        if (!ok)
            return false;
    }
    const unsigned long value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    if (value == 0 || value > 0xFFFF)
        return false;
    id = static_cast<uint16_t>(value);
    return true;
}

bool ParseCommonOptions(int argc, const char* const* argv, CommonOptions& options, std::string& error)
{
    options = CommonOptions{};
    options.vendorId = kAdapterVendorId;
    // The settings file's vendor id, unless --vendor-id gives one below.
    std::string from;
    if (!ReadVendorIdSetting(SettingsFiles(), options.vendorId, from, error) && !error.empty())
        return false;
    constexpr std::string_view kVirtual = "--virtual-adapter";
    constexpr std::string_view kVendor = "--vendor-id";
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i] != nullptr ? argv[i] : "";
        if (i == 0) {
            options.rest.push_back(argument);
            continue;
        }
        if (argument == kVirtual) {
            options.virtualAdapter = kDefaultVirtualAdapterPreset;
        } else if (argument.rfind(std::string(kVirtual) + "=", 0) == 0) {
            const std::string value = argument.substr(kVirtual.size() + 1);
            if (value.empty()) {
                error = "--virtual-adapter= needs a preset name or a scenario file";
                return false;
            }
            options.virtualAdapter = value;
        } else if (argument == kVendor || argument.rfind(std::string(kVendor) + "=", 0) == 0) {
            std::string value;
            if (argument == kVendor) {
                if (i + 1 >= argc) {
                    error = "--vendor-id needs a value such as 0x1234";
                    return false;
                }
                value = argv[++i];
            } else {
                value = argument.substr(kVendor.size() + 1);
            }
            if (!ParseVendorId(value, options.vendorId)) {
                error = "--vendor-id: '" + value + "' is not a USB vendor id (1 to 0xFFFF, e.g. 0x1234)";
                return false;
            }
        } else {
            options.rest.push_back(argument);
        }
    }
    return true;
}

bool ApplyVirtualAdapterOption(const CommonOptions& options, std::string& error)
{
    if (options.virtualAdapter) {
#ifdef _WIN32
        // Into the C runtime's environment, which the libraries loaded later
        // read, and the process's.
        ::_putenv_s(kVirtualAdapterEnv, options.virtualAdapter->c_str());
#else
        ::setenv(kVirtualAdapterEnv, options.virtualAdapter->c_str(), 1);
#endif
    }
    if (!VirtualAdapterChosen())
        return true;
    if (ChosenVirtualAdapter() != nullptr)
        return true;
    const char* chosen = std::getenv(kVirtualAdapterEnv);
    error = std::string("the virtual adapter '") + (chosen ? chosen : "") +
            "' was refused: it is neither a preset (us, uk, cn, de, fr, jp, au, in, ru, br) nor a valid "
            "scenario file";
    return false;
}

} // namespace parvane
