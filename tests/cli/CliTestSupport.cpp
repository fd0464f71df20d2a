#include "tests/cli/CliTestSupport.h"

#include "platform/ModuleDir.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace parvane::cli::test {

std::vector<int16_t> MakeTone(const ToneSpec& signal)
{
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const double amplitude = 32768.0 * std::pow(10.0, signal.levelDbfs / 20.0);
    const double amplitude2 = amplitude * std::pow(10.0, -signal.twistDb / 20.0);
    const double noise = signal.noiseDbfs < -150 ? 0.0 : 32768.0 * std::pow(10.0, signal.noiseDbfs / 20.0);
    const size_t total = static_cast<size_t>(signal.rate) * signal.durationMs / 1000;
    const size_t lead = static_cast<size_t>(signal.rate) * signal.leadingSilenceMs / 1000;
    const size_t cycle = static_cast<size_t>(signal.rate) * (signal.onMs + signal.offMs) / 1000;
    const size_t on = static_cast<size_t>(signal.rate) * signal.onMs / 1000;
    // Where each tone of a list of cycles begins and ends, over the signal.
    std::vector<std::pair<size_t, size_t>> tones;
    for (size_t at = lead, k = 0; !signal.cycles.empty() && at < total; ++k) {
        const auto [cycleOn, cycleOff] = signal.cycles[k % signal.cycles.size()];
        tones.emplace_back(at, at + static_cast<size_t>(signal.rate) * cycleOn / 1000);
        at += static_cast<size_t>(signal.rate) * (cycleOn + cycleOff) / 1000;
    }
    auto inListedTone = [&tones](size_t i) {
        const auto after = std::upper_bound(tones.begin(), tones.end(), std::pair{i, SIZE_MAX});
        return after != tones.begin() && i < std::prev(after)->second;
    };
    std::vector<int16_t> samples(total);
    for (size_t i = 0; i < total; ++i) {
        double value = 0.0;
        if (i >= lead) {
            const size_t t = i - lead;
            const bool sounding = signal.cycles.empty() ? signal.onMs == 0 || (t % cycle) < on : inListedTone(i);
            if (sounding) {
                const double seconds = static_cast<double>(t) / signal.rate;
                value = amplitude * std::sin(2 * std::numbers::pi * signal.frequency1 * seconds);
                if (signal.frequency2 > 0)
                    value += amplitude2 * std::sin(2 * std::numbers::pi * signal.frequency2 * seconds + 0.3);
            }
        }
        value += noise * gauss(random);
        samples[i] = static_cast<int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
    }
    return samples;
}

void WriteWav(const std::string& path, const std::vector<int16_t>& mono, int rate, int channels, int format)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format != 0 ? format : SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path);
    std::vector<int16_t> frames;
    frames.reserve(mono.size() * channels);
    for (int16_t sample : mono)
        for (int c = 0; c < channels; ++c)
            frames.push_back(sample);
    sf_writef_short(file, frames.data(), static_cast<sf_count_t>(mono.size()));
    sf_close(file);
}

std::string TemporaryDirectory()
{
    std::string pattern = "/tmp/parvane-cli-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

CliProcess StartCli(const std::vector<std::string>& arguments)
{
    CliProcess process;
    process.directory = TemporaryDirectory();
    const std::string outPath = process.directory + "/out", errPath = process.directory + "/err";
    const std::string program = GetModuleDir() + "parvane-cli";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // The environment without a virtual-adapter choice, made before the fork.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        if (std::string(*variable).rfind("PARVANE_VIRTUAL_ADAPTER=", 0) != 0)
            environment.push_back(*variable);
    }
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    process.pid = ::fork();
    if (process.pid == 0) {
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    return process;
}

CliResult FinishCli(const CliProcess& process)
{
    int status = 0;
    ::waitpid(process.pid, &status, 0);
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const std::string outPath = process.directory + "/out", errPath = process.directory + "/err";
    result.out = ReadAll(outPath);
    result.err = ReadAll(errPath);
    std::remove(outPath.c_str());
    std::remove(errPath.c_str());
    ::rmdir(process.directory.c_str());
    return result;
}

CliResult RunCli(const std::vector<std::string>& arguments)
{
    return FinishCli(StartCli(arguments));
}

} // namespace parvane::cli::test
