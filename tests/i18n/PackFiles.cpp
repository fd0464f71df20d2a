#include "PackFiles.h"

#include "i18n/UnicodeText.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <stdlib.h>

namespace parvane::test {

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "parvane-i18n-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a scratch directory");
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = File(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    // A fresh file rather than a truncated one: truncating may wait for the
    // disk to discard the old blocks.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return path;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Utf16LittleEndianWithBom(const std::string& utf8)
{
    return "\xFF\xFE" + text::Utf8ToUtf16Bytes(utf8, false);
}

std::string Utf16BigEndianWithBom(const std::string& utf8)
{
    return "\xFE\xFF" + text::Utf8ToUtf16Bytes(utf8, true);
}

} // namespace parvane::test
