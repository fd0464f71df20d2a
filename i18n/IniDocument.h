#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvane::ini {

// The text encodings an INI file may have. A file without a byte-order mark
// is UTF-8; UTF-16 is recognised by its byte-order mark only.
enum class Encoding { Utf8, Utf8WithBom, Utf16LittleEndian, Utf16BigEndian };

// An INI file held in memory, line by line, with the lookup rules of the
// classic private-profile functions:
// - section names and key names are matched with letter case ignored, and
//   white space around names and values is not part of them;
// - a line whose first non-blank character is ';' is a comment;
// - "[name]" starts a section (a missing ']' takes the rest of the line);
//   lines before the first section belong to none and are never found;
// - "key=value" splits at the first '='; a line without '=' is a key whose
//   value is empty;
// - when a section or a key occurs twice, only the first is seen;
// - a value enclosed in a matching pair of double or single quotes is read
//   without them (so a value can keep leading or trailing blanks).
// Bytes that are not valid text read as U+FFFD; they never stop the reading.
// Each line keeps its original bytes, so a rewrite changes only the lines it
// writes and keeps the file's encoding, byte-order mark and line ends.
class Document {
public:
    // The most of a file that is read; the rest of a larger file is ignored
    // and such a document refuses to be saved (it would lose the rest).
    static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

    // Reads a file. False (and an empty document) when there is no regular,
    // readable file at the path.
    bool Load(const std::string& path);

    // Replaces the file with this document, through a temporary file in the
    // same directory, so a failed write leaves the old file whole.
    bool Save(const std::string& path) const;

    // The value of a key, trimmed and unquoted; nothing when the section or
    // the key is absent.
    std::optional<std::string> FindValue(std::string_view section, std::string_view key) const;

    // Non-empty section names in file order.
    std::vector<std::string> SectionNames() const;

    // The section's key lines in file order, each "key=value" (or the key
    // alone for a line without '='), names and values trimmed. Comments and
    // blank lines are not listed.
    std::vector<std::string> SectionEntries(std::string_view section) const;

    // Sets a key, replacing the first line of that key in the section, or
    // adding one after the section's last line, or adding the section at the
    // end of the file. False, with nothing changed, when the names or the
    // value cannot be written as one line that reads back the same (a line
    // break anywhere, '=' in the key, ']' in the section, an empty key or
    // section) or when the file was too large to read whole.
    bool SetValue(std::string_view section, std::string_view key, std::string_view value);

    Encoding GetEncoding() const { return m_encoding; }
    bool IsComplete() const { return m_complete; }

private:
    struct Line {
        std::string text;  // decoded, UTF-8, without its line end
        std::string bytes; // as in the file, with its line end
        bool ended = false;
    };

    std::string Encode(std::string_view text) const;
    void Parse(std::string_view bytes);
    // Index of the first header of the section, or npos.
    size_t FindSection(std::string_view section) const;
    // One past the last line that belongs to the section starting at header.
    size_t SectionEnd(size_t header) const;

    Encoding m_encoding = Encoding::Utf8;
    std::vector<Line> m_lines;
    std::string m_newline = "\n";
    bool m_complete = true;
};

} // namespace parvane::ini
