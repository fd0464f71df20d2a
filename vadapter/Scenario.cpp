#include "vadapter/Scenario.h"

#include "platform/AdapterIds.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace parvane {

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Drops a trailing comment: ';' or '#' at the start or after white space.
std::string StripComment(const std::string& line)
{
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

// Number of UTF-16 units of a UTF-8 text, or -1 when it is not valid UTF-8.
int Utf16Length(const std::string& text)
{
    int units = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return -1;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return -1;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

bool ApplyId(const std::string& value, uint16_t& id, std::string& error)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, 0xFFFF, number)) {
        error = "expected a 16-bit number such as 0x0110";
        return false;
    }
    id = static_cast<uint16_t>(number);
    return true;
}

bool ApplyVid(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyId(value, scenario.vendorId, error);
}

bool ApplyPid(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyId(value, scenario.productId, error);
}

bool ApplyModel(const std::string& value, Scenario& scenario, std::string& error)
{
    const int units = Utf16Length(value);
    if (units <= 0 || units > 10) {
        error = "expected a name of 1 to 10 characters (EEPROM words 17 to 26)";
        return false;
    }
    scenario.model = value;
    return true;
}

bool ApplySerial(const std::string& value, Scenario& scenario, std::string& error)
{
    std::array<uint8_t, 6> serial{};
    size_t position = 0;
    for (size_t i = 0; i < serial.size(); ++i) {
        if (i > 0) {
            if (position >= value.size() || (value[position] != ':' && value[position] != '-'))
                break;
            ++position;
        }
        if (position + 2 > value.size() || !std::isxdigit(static_cast<unsigned char>(value[position])) ||
            !std::isxdigit(static_cast<unsigned char>(value[position + 1]))) {
            position = std::string::npos;
            break;
        }
        serial[i] = static_cast<uint8_t>(std::stoul(value.substr(position, 2), nullptr, 16));
        position += 2;
        if (i + 1 == serial.size() && position == value.size()) {
            scenario.serial = serial;
            return true;
        }
    }
    error = "expected six hexadecimal bytes such as 00:11:22:33:44:55";
    return false;
}

constexpr uint64_t kLongestInterval = 3600 * 1000; // an hour, in ms

bool ApplyInterval(const std::string& value, uint32_t& ms, std::string& error, const char* expected)
{
    uint64_t number = 0;
    if (!ParseScenarioNumber(value, kLongestInterval, number)) {
        error = expected;
        return false;
    }
    ms = static_cast<uint32_t>(number);
    return true;
}

bool ApplyRingDelay(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyInterval(value, scenario.ringDelayMs, error, "expected milliseconds from 0 to 3600000");
}

bool ApplyRingCadence(const std::string& value, Scenario& scenario, std::string& error)
{
    std::vector<uint32_t> cadence;
    if (!ParseScenarioMsList(value, cadence) || cadence.size() % 2 != 0 ||
        std::find(cadence.begin(), cadence.end(), 0u) != cadence.end()) {
        error = "expected on,off[,on,off...] in milliseconds, each from 1 to 3600000";
        return false;
    }
    scenario.ringCadenceMs = cadence;
    return true;
}

bool ApplyRedial(const std::string& value, Scenario& scenario, std::string& error)
{
    return ApplyInterval(value, scenario.redialMs, error, "expected milliseconds from 0 (never) to 3600000");
}

std::vector<ScenarioKey>& KeyTable()
{
    static std::vector<ScenarioKey> table = {
        {"adapter", "vid", ApplyVid},
        {"adapter", "pid", ApplyPid},
        {"adapter", "model", ApplyModel},
        {"adapter", "serial", ApplySerial},
        {"call", "ring_delay", ApplyRingDelay},
        {"call", "ringcadence", ApplyRingCadence},
        {"call", "redial", ApplyRedial},
    };
    return table;
}

const ScenarioKey* FindKey(const std::string& section, const std::string& key)
{
    for (const auto& entry : KeyTable())
        if (section == entry.section && key == entry.key)
            return &entry;
    return nullptr;
}

bool KnownSection(const std::string& section)
{
    for (const auto& entry : KeyTable())
        if (section == entry.section)
            return true;
    return false;
}

} // namespace

Scenario::Scenario() : vendorId(kAdapterVendorId) {}

ScenarioKeys::ScenarioKeys(std::initializer_list<ScenarioKey> keys)
{
    KeyTable().insert(KeyTable().end(), keys.begin(), keys.end());
}

const std::vector<ScenarioPreset>& ScenarioPresets()
{
    static const std::vector<ScenarioPreset> presets = {
        {"us", "United States", {2000, 4000}, "480+620/500,0/500", "350+440", "440+480/2000,0/4000",
         "480+620/250,0/250"},
        {"uk", "United Kingdom", {400, 200, 400, 2000}, "400/375,0/375", "350+440",
         "400+450/400,0/200,400+450/400,0/2000", "400/400,0/350,400/225,0/525"},
        {"cn", "China", {1000, 4000}, "450/350,0/350", "450", "450/1000,0/4000", "450/700,0/700"},
        {"de", "Germany", {1000, 4000}, "425/480,0/480", "425", "425/1000,0/4000", "425/240,0/240"},
        {"fr", "France", {1500, 3500}, "440/500,0/500", "440", "440/1500,0/3500", "440/250,0/250"},
        {"jp", "Japan", {1000, 2000}, "400/500,0/500", "400", "400*15/1000,0/2000", "400/500,0/500"},
        {"au", "Australia", {400, 200, 400, 2000}, "425/375,0/375", "413+438",
         "413+438/400,0/200,413+438/400,0/2000", "425/375,0/375,420/375,0/375"},
        {"in", "India", {400, 200, 400, 2000}, "400/750,0/750", "400*25", "400*25/400,0/200,400*25/400,0/2000",
         "400/250,0/250"},
        {"ru", "Russia", {1000, 4000}, "425/350,0/350", "425", "425/800,0/3200", "425/175,0/175"},
        {"br", "Brazil", {1000, 4000}, "425/250,0/250", "425", "425/1000,0/4000", "425/250,0/250,425/750,0/250"},
    };
    return presets;
}

bool ParseScenarioNumber(const std::string& text, uint64_t maximum, uint64_t& value)
{
    const std::string digits = Trim(text);
    if (digits.empty() || digits[0] == '-' || digits[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    // Hexadecimal with 0x, else decimal (a leading 0 is not octal).
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    const unsigned long long number = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    if (errno != 0 || end == digits.c_str() || *end != '\0' || number > maximum)
        return false;
    value = number;
    return true;
}

bool ParseScenarioMsList(const std::string& text, std::vector<uint32_t>& values)
{
    values.clear();
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        uint64_t number = 0;
        if (!ParseScenarioNumber(item, kLongestInterval, number))
            return false;
        values.push_back(static_cast<uint32_t>(number));
    }
    return !values.empty() && text.back() != ',';
}

bool ParseScenarioText(const std::string& text, const std::string& fileName, Scenario& scenario,
                       std::string& error)
{
    Scenario parsed;
    parsed.source = fileName;
    const auto slash = fileName.rfind('/');
    parsed.directory = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);

    std::vector<std::string> seen;
    std::string section;
    std::istringstream stream(text);
    int lineNumber = 0;
    for (std::string raw; std::getline(stream, raw);) {
        ++lineNumber;
        const std::string where = fileName + ", line " + std::to_string(lineNumber);
        const std::string line = Trim(StripComment(raw));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                error = where + ": section header without ']'";
                return false;
            }
            section = Lower(Trim(line.substr(1, line.size() - 2)));
            if (!KnownSection(section)) {
                error = where + ": unknown section [" + section + "]";
                return false;
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            error = where + ": expected key = value";
            return false;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const std::string value = Trim(line.substr(equals + 1));
        const std::string named = where + ", key " + key;
        if (section.empty()) {
            error = named + ": key outside a section";
            return false;
        }
        const ScenarioKey* entry = FindKey(section, key);
        if (entry == nullptr) {
            error = named + ": unknown key in [" + section + "]";
            return false;
        }
        const std::string qualified = section + "." + key;
        if (std::find(seen.begin(), seen.end(), qualified) != seen.end()) {
            error = named + ": given twice";
            return false;
        }
        seen.push_back(qualified);
        std::string why;
        if (!entry->apply(value, parsed, why)) {
            error = named + ": bad value \"" + value + "\": " + why;
            return false;
        }
    }
    scenario = std::move(parsed);
    return true;
}

bool LoadScenario(const std::string& presetOrPath, Scenario& scenario, std::string& error)
{
    const std::string name = Lower(Trim(presetOrPath));
    for (const auto& preset : ScenarioPresets()) {
        if (name == preset.name) {
            Scenario loaded;
            loaded.source = preset.name;
            loaded.ringCadenceMs = preset.ringCadenceMs;
            loaded.presetBusyTone = preset.busyTone;
            loaded.exchange.dialTone = preset.dialTone;
            loaded.exchange.ringbackTone = preset.ringbackTone;
            loaded.exchange.congestionTone = preset.congestionTone;
            scenario = std::move(loaded);
            return true;
        }
    }
    std::ifstream file(presetOrPath, std::ios::binary);
    if (!file) {
        error = presetOrPath + ": cannot open the scenario file (" + std::strerror(errno) +
                "); presets are us, uk, cn, de, fr, jp, au, in, ru, br";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return ParseScenarioText(text.str(), presetOrPath, scenario, error);
}

} // namespace parvane
