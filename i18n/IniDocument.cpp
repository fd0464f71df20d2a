#include "i18n/IniDocument.h"

#include "i18n/UnicodeText.h"

#ifdef _WIN32
#include "platform/WideText.h"

#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace parvane::ini {

namespace {

using text::EqualsIgnoringCase;
using text::Trim;

constexpr size_t npos = std::string::npos;

enum class Kind { Blank, Comment, Section, Key };

struct ParsedLine {
    Kind kind = Kind::Blank;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
    bool hasEquals = false;
};

ParsedLine Classify(std::string_view line)
{
    ParsedLine parsed;
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty())
        return parsed;
    if (trimmed.front() == ';') {
        parsed.kind = Kind::Comment;
        return parsed;
    }
    if (trimmed.front() == '[') {
        const std::string_view body = trimmed.substr(1);
        parsed.kind = Kind::Section;
        parsed.name = Trim(body.substr(0, body.find(']')));
        return parsed;
    }
    parsed.kind = Kind::Key;
    const size_t equals = trimmed.find('=');
    if (equals == npos) {
        parsed.name = trimmed;
        return parsed;
    }
    parsed.hasEquals = true;
    parsed.name = Trim(trimmed.substr(0, equals));
    parsed.value = Trim(trimmed.substr(equals + 1));
    return parsed;
}

bool IsQuote(char c)
{
    return c == '"' || c == '\'';
}

bool IsQuoted(std::string_view value)
{
    return value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front();
}

std::string_view Unquote(std::string_view value)
{
    return IsQuoted(value) ? value.substr(1, value.size() - 2) : value;
}

std::string ByteOrderMark(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8WithBom: return "\xEF\xBB\xBF";
    case Encoding::Utf16LittleEndian: return "\xFF\xFE";
    case Encoding::Utf16BigEndian: return "\xFE\xFF";
    case Encoding::Utf8: break;
    }
    return {};
}

// Appends a chunk read from a file, but no more than `limit` bytes in all;
// false (and `complete` false) once the limit cut the chunk.
bool AppendWithin(std::string& bytes, const char* chunk, size_t got, size_t limit, bool& complete)
{
    const size_t room = limit - bytes.size();
    if (got > room) {
        bytes.append(chunk, room);
        complete = false;
        return false;
    }
    bytes.append(chunk, got);
    return true;
}

#ifdef _WIN32
// Only a regular file is read (a directory or device where a pack is
// expected is refused), with UTF-16 file names.
bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, bool& complete)
{
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return false;
    }
    bytes.clear();
    complete = true;
    char chunk[65536];
    while (true) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof(chunk), &got, nullptr)) {
            CloseHandle(file);
            return false;
        }
        if (got == 0 || !AppendWithin(bytes, chunk, got, limit, complete))
            break;
    }
    CloseHandle(file);
    return true;
}
#else
bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, bool& complete)
{
    // O_NONBLOCK: a FIFO or device dropped where a file is expected must not
    // hang the reader; anything but a regular file is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    bytes.clear();
    complete = true;
    char chunk[65536];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof(chunk));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return false;
        }
        if (got == 0 || !AppendWithin(bytes, chunk, static_cast<size_t>(got), limit, complete))
            break;
    }
    ::close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

#endif

} // namespace

bool Document::Load(const std::string& path)
{
    m_encoding = Encoding::Utf8;
    m_lines.clear();
    m_newline = "\n";
    m_complete = true;
    std::string bytes;
    if (path.empty() || !ReadRegularFile(path, kMaxFileBytes, bytes, m_complete))
        return false;
    std::string_view view = bytes;
    if (view.starts_with("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8WithBom;
        view.remove_prefix(3);
    } else if (view.starts_with("\xFF\xFE")) {
        m_encoding = Encoding::Utf16LittleEndian;
        view.remove_prefix(2);
    } else if (view.starts_with("\xFE\xFF")) {
        m_encoding = Encoding::Utf16BigEndian;
        view.remove_prefix(2);
    }
    Parse(view);
    return true;
}

void Document::Parse(std::string_view bytes)
{
    const bool wide = m_encoding == Encoding::Utf16LittleEndian || m_encoding == Encoding::Utf16BigEndian;
    const size_t unitBytes = wide ? 2 : 1;
    const size_t units = bytes.size() / unitBytes; // an odd last byte of UTF-16 is no character
    std::vector<char16_t> wideUnits;
    if (wide) {
        wideUnits.resize(units);
        for (size_t i = 0; i < units; ++i) {
            const auto first = static_cast<unsigned char>(bytes[2 * i]);
            const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
            wideUnits[i] = m_encoding == Encoding::Utf16LittleEndian ? static_cast<char16_t>(first | (second << 8))
                                                                     : static_cast<char16_t>((first << 8) | second);
        }
    }
    auto unitAt = [&](size_t i) -> char32_t {
        return wide ? wideUnits[i] : static_cast<unsigned char>(bytes[i]);
    };
    bool newlineKnown = false;
    size_t start = 0;
    while (start < units) {
        size_t end = start;
        while (end < units && unitAt(end) != '\n' && unitAt(end) != '\r')
            ++end;
        size_t next = end;
        if (next < units) {
            const bool crlf = unitAt(next) == '\r' && next + 1 < units && unitAt(next + 1) == '\n';
            next += crlf ? 2 : 1;
            if (!newlineKnown) {
                m_newline = crlf ? "\r\n" : (unitAt(end) == '\r' ? "\r" : "\n");
                newlineKnown = true;
            }
        }
        Line line;
        line.text = wide ? text::Utf16ToUtf8(wideUnits.data() + start, end - start)
                         : text::SanitiseUtf8(bytes.substr(start, end - start));
        line.bytes = std::string(bytes.substr(start * unitBytes, (next - start) * unitBytes));
        line.ended = next > end;
        m_lines.push_back(std::move(line));
        start = next;
    }
}

std::string Document::Encode(std::string_view text) const
{
    switch (m_encoding) {
    case Encoding::Utf16LittleEndian: return text::Utf8ToUtf16Bytes(text, false);
    case Encoding::Utf16BigEndian: return text::Utf8ToUtf16Bytes(text, true);
    case Encoding::Utf8:
    case Encoding::Utf8WithBom: break;
    }
    return std::string(text);
}

size_t Document::FindSection(std::string_view section) const
{
    const std::string_view wanted = Trim(section);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const ParsedLine parsed = Classify(m_lines[i].text);
        if (parsed.kind == Kind::Section && EqualsIgnoringCase(parsed.name, wanted))
            return i;
    }
    return npos;
}

size_t Document::SectionEnd(size_t header) const
{
    size_t i = header + 1;
    while (i < m_lines.size() && Classify(m_lines[i].text).kind != Kind::Section)
        ++i;
    return i;
}

std::optional<std::string> Document::FindValue(std::string_view section, std::string_view key) const
{
    const size_t header = FindSection(section);
    if (header == npos)
        return std::nullopt;
    const std::string_view wanted = Trim(key);
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        const ParsedLine parsed = Classify(m_lines[i].text);
        if (parsed.kind == Kind::Key && EqualsIgnoringCase(parsed.name, wanted))
            return std::string(Unquote(parsed.value));
    }
    return std::nullopt;
}

std::vector<std::string> Document::SectionNames() const
{
    std::vector<std::string> names;
    for (const Line& line : m_lines) {
        const ParsedLine parsed = Classify(line.text);
        if (parsed.kind == Kind::Section && !parsed.name.empty())
            names.emplace_back(parsed.name);
    }
    return names;
}

std::vector<std::string> Document::SectionEntries(std::string_view section) const
{
    std::vector<std::string> entries;
    const size_t header = FindSection(section);
    if (header == npos)
        return entries;
    const size_t end = SectionEnd(header);
    for (size_t i = header + 1; i < end; ++i) {
        const ParsedLine parsed = Classify(m_lines[i].text);
        if (parsed.kind != Kind::Key)
            continue;
        std::string entry(parsed.name);
        if (parsed.hasEquals)
            entry.append("=").append(parsed.value);
        if (!entry.empty())
            entries.push_back(std::move(entry));
    }
    return entries;
}

bool Document::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string_view sectionName = Trim(section);
    const std::string_view keyName = Trim(key);
    auto oneLine = [](std::string_view s) {
        return s.find_first_of(std::string_view("\r\n\0", 3)) == npos;
    };
    if (!m_complete || sectionName.empty() || keyName.empty() || !oneLine(section) || !oneLine(key) ||
        !oneLine(value) || keyName.find('=') != npos || keyName.front() == '[' || keyName.front() == ';' ||
        sectionName.find(']') != npos)
        return false;

    // A value that reading would change (blanks at its ends, or a quote pair
    // that would be stripped) is written inside quotes, which reading removes.
    std::string cleanValue = text::SanitiseUtf8(value);
    if (Trim(cleanValue) != cleanValue || IsQuoted(cleanValue))
        cleanValue = "\"" + cleanValue + "\"";
    auto keyLine = [&cleanValue](std::string_view name) { return std::string(name) + "=" + cleanValue; };

    auto makeLine = [this](std::string text) {
        Line line;
        line.bytes = Encode(text + m_newline);
        line.text = std::move(text);
        line.ended = true;
        return line;
    };
    // Before a line is added after it, a last line without a line end gets one.
    auto endLine = [this](size_t index) {
        Line& line = m_lines[index];
        if (!line.ended) {
            line.bytes += Encode(m_newline);
            line.ended = true;
        }
    };

    const size_t header = FindSection(sectionName);
    if (header == npos) {
        if (!m_lines.empty())
            endLine(m_lines.size() - 1);
        m_lines.push_back(makeLine("[" + std::string(sectionName) + "]"));
        m_lines.push_back(makeLine(keyLine(keyName)));
        return true;
    }
    const size_t end = SectionEnd(header);
    size_t lastContent = header;
    for (size_t i = header + 1; i < end; ++i) {
        const ParsedLine parsed = Classify(m_lines[i].text);
        if (parsed.kind == Kind::Key && EqualsIgnoringCase(parsed.name, keyName)) {
            const bool ended = m_lines[i].ended;
            m_lines[i] = makeLine(keyLine(parsed.name)); // the key keeps its spelling
            if (!ended) { // keep a file that ended without a line end that way
                m_lines[i].bytes = Encode(m_lines[i].text);
                m_lines[i].ended = false;
            }
            return true;
        }
        if (parsed.kind != Kind::Blank)
            lastContent = i;
    }
    endLine(lastContent);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(lastContent + 1), makeLine(keyLine(keyName)));
    return true;
}

#ifdef _WIN32
bool Document::Save(const std::string& path) const
{
    if (!m_complete || path.empty())
        return false;
    const std::wstring target = Widen(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    // Written beside the file, then moved over it in one step.
    const size_t separator = target.find_last_of(L"\\/");
    const std::wstring dir = separator == std::wstring::npos ? std::wstring(L".") : target.substr(0, separator);
    wchar_t temporary[MAX_PATH + 1] = {};
    if (GetTempFileNameW(dir.c_str(), L"ini", 0, temporary) == 0)
        return false;
    std::string bytes = ByteOrderMark(m_encoding);
    for (const Line& line : m_lines)
        bytes += line.bytes;
    HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    for (size_t done = 0; written && done < bytes.size();) {
        DWORD wrote = 0;
        written = WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &wrote, nullptr) &&
                  wrote > 0;
        done += wrote;
    }
    if (file != INVALID_HANDLE_VALUE) {
        written = FlushFileBuffers(file) && written;
        written = CloseHandle(file) && written;
    }
    if (!written ||
        !MoveFileExW(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary);
        return false;
    }
    return true;
}
#else
bool Document::Save(const std::string& path) const
{
    if (!m_complete || path.empty())
        return false;
    // Write through a symbolic link to the file it names.
    std::string target = path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        target = resolved;
        std::free(resolved);
    }
    mode_t mode = 0644;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            return false;
        mode = info.st_mode & 07777;
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == npos ? std::string("./") : target.substr(0, slash + 1);
    std::string temporary = dir + ".ini-write-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    std::string bytes = ByteOrderMark(m_encoding);
    for (const Line& line : m_lines)
        bytes += line.bytes;
    const bool written = WriteAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

#endif

} // namespace parvane::ini
