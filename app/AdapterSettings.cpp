#include "app/AdapterSettings.h"

#include "app/CommonOptions.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace parvane {

namespace {

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// One file: 1 found, 0 not there, -1 bad (error filled).
int ReadFile(const std::string& path, uint16_t& vendorId, std::string& error)
{
    std::ifstream file(path);
    if (!file)
        return 0;
    std::string line;
    std::string section;
    int found = 0;
    for (int number = 1; std::getline(file, line); ++number) {
        const size_t comment = line.find_first_of(";#");
        line = Trim(comment == std::string::npos ? line : line.substr(0, comment));
        if (line.empty())
            continue;
        const std::string where = path + ", line " + std::to_string(number) + ": ";
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t equals = line.find('=');
        const std::string key = Trim(line.substr(0, equals));
        if (equals == std::string::npos || section != "adapter" || key != "vendor_id") {
            error = where + "unknown setting '" + line + "' (the file holds [adapter] vendor_id = 0xNNNN)";
            return -1;
        }
        const std::string value = Trim(line.substr(equals + 1));
        if (!ParseVendorId(value, vendorId)) {
            error = where + "vendor_id '" + value + "' is not a USB vendor id (1 to 0xFFFF, e.g. 0x1234)";
            return -1;
        }
        found = 1;
    }
    return found;
}

} // namespace

std::vector<std::string> SettingsFiles()
{
    std::vector<std::string> files;
    std::string user = Environment("XDG_CONFIG_HOME");
    if (user.empty() && !Environment("HOME").empty())
        user = Environment("HOME") + "/.config";
    if (!user.empty())
        files.push_back(user + "/" + kSettingsFileName);
    std::string dirs = Environment("XDG_CONFIG_DIRS");
    if (dirs.empty())
        dirs = "/etc/xdg";
    std::stringstream list(dirs);
    for (std::string dir; std::getline(list, dir, ':');) {
        if (!dir.empty())
            files.push_back(dir + "/" + kSettingsFileName);
    }
    return files;
}

bool ReadVendorIdSetting(const std::vector<std::string>& files, uint16_t& vendorId, std::string& from,
                         std::string& error)
{
    error.clear();
    for (const std::string& file : files) {
        const int result = ReadFile(file, vendorId, error);
        if (result < 0)
            return false;
        if (result > 0) {
            from = file;
            return true;
        }
    }
    return false;
}

} // namespace parvane
