// Any command line for parvane-cli: the input's NUL bytes separate the
// words. It parses, or is refused with a message.
#include "cli/CliArguments.h"
#include "tests/fuzz/FuzzFiles.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// The settings files are the fuzzer's own, in its scratch directory, never
// the machine's: a user file with a vendor id, no system ones.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const auto& scratch = parvane::fuzz::Scratch();
    std::filesystem::create_directories(scratch.Path() + "/parvane");
    const std::string settings = "[adapter]\nvendor_id = 0x1234\n";
    scratch.Write("parvane/parvane.conf", reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
    setenv("HOME", scratch.Path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", scratch.Path().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (scratch.Path() + "/system").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words{"parvane-cli"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        words.push_back(word);

    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);

    parvane::cli::CliArguments arguments;
    std::string error;
    if (!parvane::cli::ParseCliArguments(static_cast<int>(words.size()), argv.data(), arguments, error) &&
        error.empty())
        __builtin_trap();
    parvane::cli::ParseBlockSize(words.back());
    return 0;
}
