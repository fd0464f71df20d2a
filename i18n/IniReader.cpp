#include "i18n/IniReader.h"

#include "i18n/AudioDeviceName.h"
#include "i18n/IniDocument.h"
#include "i18n/UnicodeText.h"
#include "platform/DebugPrint.h"

#include <climits>
#include <cstring>
#include <optional>

namespace {

// The value of a key as the private-profile functions hand it out: missing
// and empty are the same, and at most maxCharacters characters are kept.
std::string ReadRawValue(const std::string& path, std::string_view key, std::string_view section,
                         size_t maxCharacters)
{
    parvane::ini::Document document;
    if (!document.Load(path))
        return {};
    const std::optional<std::string> value = document.FindValue(section, key);
    if (!value)
        return {};
    return std::string(parvane::text::CutToCharacters(*value, maxCharacters));
}

int CountAsResult(size_t characters)
{
    return characters > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(characters);
}

// Characters of a list handed out as a block of NUL-terminated items.
int BlockLength(const std::vector<std::string>& items)
{
    size_t characters = 0;
    for (const std::string& item : items)
        characters += parvane::text::CountCharacters(item) + 1;
    return CountAsResult(characters);
}

int ParseDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // saturate, clamped below
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

namespace parvane {

std::string ExpandPlaceholders(std::string_view text, bool withCompanyName)
{
    static constexpr std::string_view kNewLine = "[NewLine]";
    static constexpr std::string_view kProductName = "[ProductName]";
    static constexpr std::string_view kCompanyName = "[CompanyName]";
    std::string out;
    out.reserve(text.size());
    std::string productName;
    bool productNameRead = false;
    size_t i = 0;
    while (i < text.size()) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with(kNewLine)) {
            out += "\r\n";
            i += kNewLine.size();
        } else if (rest.starts_with(kProductName)) {
            if (!productNameRead) {
                productName = GetAudioDeviceName();
                productNameRead = true;
            }
            out += productName;
            i += kProductName.size();
        } else if (withCompanyName && rest.starts_with(kCompanyName)) {
            i += kCompanyName.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace parvane

void CIniReader::SetFileName(const std::string& path)
{
    m_strFileName = path;
}

bool CIniReader::ReadText(std::string_view key, std::string_view section, std::string& out)
{
    const std::string value = ReadRawValue(m_strFileName, key, section, kMaxValueCharacters);
    m_nLastResult = CountAsResult(parvane::text::CountCharacters(value));
    if (value.empty()) {
        out.clear();
        return false;
    }
    out = parvane::ExpandPlaceholders(value, true);
    return true;
}

bool CIniReader::ReadTextBuffer(std::string_view key, std::string_view section, char* buffer, size_t bufferSize)
{
    if (buffer == nullptr || bufferSize == 0) {
        m_nLastResult = 0;
        return false;
    }
    const std::string value = ReadRawValue(m_strFileName, key, section, kMaxValueCharacters);
    m_nLastResult = CountAsResult(parvane::text::CountCharacters(value));
    if (value.empty()) {
        buffer[0] = '\0';
        return false;
    }
    const std::string expanded = parvane::ExpandPlaceholders(value, false);
    const std::string_view fitting = parvane::text::CutToBytes(expanded, bufferSize - 1);
    if (fitting.size() < expanded.size())
        DebugPrint("ReadTextBuffer: [%.*s] %.*s cut from %zu to %zu bytes to fit the buffer",
                   static_cast<int>(section.size()), section.data(), static_cast<int>(key.size()), key.data(),
                   expanded.size(), fitting.size());
    std::memcpy(buffer, fitting.data(), fitting.size());
    buffer[fitting.size()] = '\0';
    return true;
}

bool CIniReader::ReadInt(std::string_view key, std::string_view section, int& out)
{
    const std::string value = ReadRawValue(m_strFileName, key, section, kMaxIntegerCharacters);
    m_nLastResult = CountAsResult(parvane::text::CountCharacters(value));
    out = value.empty() ? 0 : ParseDecimal(value);
    return !value.empty();
}

bool CIniReader::WriteString(std::string_view value, std::string_view key, std::string_view section)
{
    parvane::ini::Document document;
    document.Load(m_strFileName); // a missing file starts empty
    const bool done = document.SetValue(section, key, value) && document.Save(m_strFileName);
    m_nLastResult = done ? 1 : 0;
    return done;
}

bool CIniReader::WriteInt(int value, std::string_view key, std::string_view section)
{
    return WriteString(std::to_string(value), key, section);
}

bool CIniReader::SectionExists(std::string_view section)
{
    parvane::ini::Document document;
    document.Load(m_strFileName);
    std::vector<std::string> keys;
    for (const std::string& entry : document.SectionEntries(section))
        if (const std::string key = entry.substr(0, entry.find('=')); !key.empty())
            keys.push_back(key);
    m_nLastResult = BlockLength(keys);
    return m_nLastResult > 0;
}

const std::vector<std::string>& CIniReader::GetSectionNames()
{
    parvane::ini::Document document;
    document.Load(m_strFileName);
    m_sectionNames = document.SectionNames();
    m_nLastResult = BlockLength(m_sectionNames);
    return m_sectionNames;
}

const std::vector<std::string>& CIniReader::GetSection(std::string_view section)
{
    parvane::ini::Document document;
    document.Load(m_strFileName);
    m_sectionEntries = document.SectionEntries(section);
    m_nLastResult = BlockLength(m_sectionEntries);
    return m_sectionEntries;
}
