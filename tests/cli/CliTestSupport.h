#pragma once
// Signals, recordings and a way to run parvane-cli for the front end's tests.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace parvane::cli::test {

// A tone of one or two components (each at levelDbfs peak), switched on and
// off with the cadence (onMs 0: steady), over durationMs, at `rate`, with
// white noise at noiseDbfs RMS (below -150: none). Mono samples.
struct ToneSpec {
    double frequency1 = 450;
    double frequency2 = 0;
    int onMs = 350;
    int offMs = 350;
    int durationMs = 6000;
    double levelDbfs = -20;
    double twistDb = 0;          // the second component this much weaker
    double noiseDbfs = -200;
    int rate = 48000;
    int leadingSilenceMs = 0;
    // When not empty, the on and off times of each cycle in turn, repeated,
    // instead of onMs and offMs.
    std::vector<std::pair<int, int>> cycles;
};
std::vector<int16_t> MakeTone(const ToneSpec& signal);

// Writes a WAV file (16-bit PCM), or a file of another libsndfile format
// (SF_FORMAT_...), of `channels` copies of the samples.
void WriteWav(const std::string& path, const std::vector<int16_t>& mono, int rate, int channels = 1, int format = 0);

// A fresh directory for one test's files.
std::string TemporaryDirectory();

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    nlohmann::json Json() const { return nlohmann::json::parse(out); }
};
// Starts build/bin/parvane-cli with the arguments (each one word), with the
// environment's virtual-adapter choice cleared; FinishCli waits for it.
struct CliProcess {
    int pid = -1;
    std::string directory; // where its stdout and stderr go
};
CliProcess StartCli(const std::vector<std::string>& arguments);
CliResult FinishCli(const CliProcess& process);
// Both at once.
CliResult RunCli(const std::vector<std::string>& arguments);

} // namespace parvane::cli::test
