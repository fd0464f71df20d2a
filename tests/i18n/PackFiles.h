#pragma once
#include <string>

namespace parvane::test {

// A scratch directory that is removed with everything in it when the object
// goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Full path of a file in the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Writes bytes to a file in the directory and returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

std::string ReadFileBytes(const std::string& path);

// The UTF-16 form of UTF-8 text, with its byte-order mark.
std::string Utf16LittleEndianWithBom(const std::string& utf8);
std::string Utf16BigEndianWithBom(const std::string& utf8);

} // namespace parvane::test
