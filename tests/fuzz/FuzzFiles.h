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
    // Under $TMPDIR when it is set, else in memory (/dev/shm) where there is
    // one: the pack writer syncs each file it saves, which on a disk would
    // take most of the time.
    ScratchDirectory()
    {
        const char* base = std::getenv("TMPDIR");
        std::error_code ignored;
        const std::string fallback = std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
        std::string pattern = (base && *base ? std::string(base) : fallback) + "/parvane-fuzz-XXXXXX";
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

// The fuzzer's one scratch directory, made on first use.
inline const ScratchDirectory& Scratch()
{
    static const ScratchDirectory scratch;
    return scratch;
}

} // namespace parvane::fuzz
