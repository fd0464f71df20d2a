#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Small Unicode helpers for the INI reader and the language packs. Every text
// inside the program is UTF-8; these turn file bytes into well-formed UTF-8 and
// compare names the way the packs need.
namespace parvane::text {

// Appends the UTF-8 form of a code point (U+FFFD for one that has none).
void AppendUtf8(std::string& out, char32_t codePoint);

// Decodes UTF-8 bytes into well-formed UTF-8: every byte that does not start a
// valid sequence (stray continuation bytes, overlong forms, surrogates, code
// points past U+10FFFF) becomes U+FFFD, and so does NUL, so that a text is
// always safe to hand on as a C string.
std::string SanitiseUtf8(std::string_view bytes);

// Decodes UTF-16 code units into UTF-8; unpaired surrogates and NUL become
// U+FFFD.
std::string Utf16ToUtf8(const char16_t* units, size_t count);

// Encodes UTF-8 (assumed well formed) as UTF-16 code units in bytes, little or
// big endian.
std::string Utf8ToUtf16Bytes(std::string_view utf8, bool bigEndian);

// Number of code points of well-formed UTF-8.
size_t CountCharacters(std::string_view utf8);

// The longest prefix of well-formed UTF-8 with at most maxCharacters code
// points.
std::string_view CutToCharacters(std::string_view utf8, size_t maxCharacters);

// The longest prefix of well-formed UTF-8 of at most maxBytes bytes that does
// not split a character.
std::string_view CutToBytes(std::string_view utf8, size_t maxBytes);

// Removes spaces, tabs and the other ASCII white space from both ends.
std::string_view Trim(std::string_view text);

// Compares two UTF-8 texts with letter case ignored: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic letters fold to one case (enough for section
// names, keys and the display names of language packs).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace parvane::text
