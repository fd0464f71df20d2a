#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reads and writes values of an INI file. Lookup rules (see IniDocument.h):
// sections and keys match with letter case ignored, blanks around names and
// values do not count, the first of two equal keys wins, ';' starts a comment
// line; UTF-8 files with or without a byte-order mark and UTF-16 files with
// one are read, and a write keeps the file's other lines and its encoding.
// Every operation reads the file afresh, so an edited file takes effect at
// the next call. A missing, unreadable or malformed file never fails loudly:
// what cannot be read is simply not there.
//
// Texts read with ReadText have three placeholders expanded, matched with
// exact letter case, scanning left to right and never rescanning inserted
// text:
//   "[NewLine]"     -> "\r\n"
//   "[ProductName]" -> the adapter's model name (GetAudioDeviceName())
//   "[CompanyName]" -> nothing
class CIniReader {
public:
    // A value is read as at most this many characters; a longer one is cut
    // before its placeholders are expanded.
    static constexpr size_t kMaxValueCharacters = 1022;
    // ReadInt reads at most this many characters of a value.
    static constexpr size_t kMaxIntegerCharacters = 254;

    CIniReader() = default;

    void SetFileName(const std::string& path);
    const std::string& GetFileName() const { return m_strFileName; }

    // The value of key in section, with all three placeholders expanded.
    // False, and out empty, when the key is missing or its value is empty.
    bool ReadText(std::string_view key, std::string_view section, std::string& out);

    // As ReadText, but expands only "[NewLine]" and "[ProductName]" and copies
    // the text, NUL-terminated, into the caller's buffer of bufferSize bytes.
    // Never writes past the buffer: a text that does not fit is cut at a
    // character boundary (and a trace line says so). On failure the buffer
    // holds the empty text. A null buffer or a size of 0 reads nothing and
    // gives false.
    bool ReadTextBuffer(std::string_view key, std::string_view section, char* buffer, size_t bufferSize);

    // The value converted like a decimal strtol into 32 bits (leading blanks
    // and a sign allowed, conversion stops at the first non-digit, values out
    // of range are clamped). True when a non-empty value was read; out is 0
    // when not.
    bool ReadInt(std::string_view key, std::string_view section, int& out);

    // Sets key in section to value (creating the file or the section when
    // needed). False when the file cannot be written, or when a name or the
    // value would not read back as one line (see IniDocument.h).
    bool WriteString(std::string_view value, std::string_view key, std::string_view section);
    bool WriteInt(int value, std::string_view key, std::string_view section);

    // True when the section exists and holds at least one key.
    bool SectionExists(std::string_view section);

    // All non-empty section names of the file, in file order.
    const std::vector<std::string>& GetSectionNames();

    // The key lines ("key=value") of the section, in file order.
    const std::vector<std::string>& GetSection(std::string_view section);

    // Characters returned by the last read, or the result of the last write
    // (1 done, 0 refused).
    int GetLastResult() const { return m_nLastResult; }

private:
    std::vector<std::string> m_sectionEntries;
    std::vector<std::string> m_sectionNames;
    int m_nLastResult = 0;
    std::string m_strFileName;
};

namespace parvane {

// Expands the placeholders of a pack text as ReadText does; "[CompanyName]"
// only when withCompanyName is set (ReadTextBuffer leaves it in place).
std::string ExpandPlaceholders(std::string_view text, bool withCompanyName);

} // namespace parvane
