#pragma once
// The readers under fuzzing take file paths: each input is written to a
// scratch file in a private directory that is removed when the fuzzer ends.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace parvane::fuzz {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/parvane-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("cannot create the fuzzer's scratch directory");
            std::abort();
        }
        m_path = pattern;
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes the bytes to `name` in the directory and gives its path.
    std::string Write(const std::string& name, const uint8_t* data, size_t size) const
    {
        const std::string path = m_path + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
            std::perror("cannot write the fuzzer's scratch file");
            std::abort();
        }
        return path;
    }

private:
    std::string m_path;
};

} // namespace parvane::fuzz
