// How long `parvane-cli learn` takes on each preset of the virtual adapter,
// from the answer to the verified result, and whether it needed more than
// the one call. All presets run at once (each mostly waits for its line).

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include <climits>
#include <unistd.h>

namespace {

std::string ProgramDirectory()
{
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
    return self.substr(0, self.rfind('/') + 1);
}

std::string ReadAll(FILE* pipe)
{
    std::string text;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, read);
    return text;
}

} // namespace

int main()
{
    const std::vector<std::string> presets = {"us", "uk", "cn", "de", "fr", "jp", "au", "in", "ru", "br"};
    const std::string cli = ProgramDirectory() + "parvane-cli";
    if (::access(cli.c_str(), X_OK) != 0) {
        std::printf("learn: %s is not built; no figures\n", cli.c_str());
        return 0;
    }
    std::vector<FILE*> runs;
    std::vector<std::string> traces;
    for (const std::string& preset : presets) {
        // The trace (stderr) tells how often the line was taken off-hook.
        traces.push_back("/tmp/parvane-bench-learn-" + std::to_string(::getpid()) + "-" + preset + ".txt");
        const std::string command = "env -u PARVANE_VIRTUAL_ADAPTER '" + cli + "' learn --virtual-adapter=" + preset +
                                    " --json --verbose 2>'" + traces.back() + "'";
        runs.push_back(::popen(command.c_str(), "r"));
    }
    std::printf("\nparvane-cli learn on the virtual adapter's presets (one call each)\n");
    std::printf("  %-8s %-22s %8s %8s  %s\n", "preset", "tone list", "answers", "seconds", "verified");
    for (size_t i = 0; i < presets.size(); ++i) {
        if (runs[i] == nullptr)
            continue;
        const std::string out = ReadAll(runs[i]);
        ::pclose(runs[i]);
        std::string trace;
        if (FILE* file = std::fopen(traces[i].c_str(), "r")) {
            trace = ReadAll(file);
            std::fclose(file);
        }
        std::remove(traces[i].c_str());
        int offHook = 0;
        for (size_t at = trace.find("DaaSetOffhook"); at != std::string::npos; at = trace.find("DaaSetOffhook", at + 1))
            ++offHook;
        const std::string answers = std::to_string(offHook);
        try {
            const nlohmann::json json = nlohmann::json::parse(out);
            std::printf("  %-8s %-22s %8s %8.1f  %s\n", presets[i].c_str(), json["tone_list"].get<std::string>().c_str(),
                        answers.c_str(), json["answer_to_result_ms"].get<int>() / 1000.0,
                        json["verified"].get<bool>() ? "yes" : "no");
        } catch (const nlohmann::json::exception&) {
            std::printf("  %-8s learn failed\n", presets[i].c_str());
        }
    }
    return 0;
}
