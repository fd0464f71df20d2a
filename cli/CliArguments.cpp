#include "cli/CliArguments.h"

#include "app/CommonOptions.h"
#include "app/RunControl.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>

namespace parvane::cli {

namespace {

// Each subcommand's own options, those that take a value.
const std::map<Command, std::vector<std::string>>& CommandOptions()
{
    static const std::map<Command, std::vector<std::string>> options = {
        {Command::Analyze, {"--buffer", "--seconds", "--wait", "--plot"}},
        {Command::Verify, {"--freq1", "--freq2", "--on", "--off", "--cadence", "--seconds", "--wait"}},
        {Command::Period, {"--freq1", "--freq2", "--seconds", "--wait"}},
        {Command::Learn, {"--buffer", "--format", "--wait", "--plot"}},
        {Command::Survey, {"--own", "--ring", "--invalid", "--dial-prefix", "--dtmf-on-ms", "--dtmf-off-ms",
                           "--dtmf-level-dbm", "--buffer", "--wait"}},
        {Command::File, {"--buffer", "--format", "--freq1", "--freq2", "--on", "--off", "--cadence", "--plot"}},
        {Command::Info, {}},
        {Command::Probe, {}},
        {Command::Help, {}},
    };
    return options;
}

std::optional<Command> CommandNamed(const std::string& name)
{
    static const std::map<std::string, Command> commands = {
        {"analyze", Command::Analyze}, {"verify", Command::Verify}, {"period", Command::Period},
        {"learn", Command::Learn},     {"survey", Command::Survey}, {"file", Command::File},
        {"info", Command::Info},
        {"probe", Command::Probe},    {"help", Command::Help},
    };
    const auto it = commands.find(name);
    return it == commands.end() ? std::nullopt : std::optional<Command>(it->second);
}

// A whole decimal number within [lowest, highest].
std::optional<int> ParseNumber(const std::string& text, int lowest, int highest)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || value < lowest || value > highest)
        return std::nullopt;
    return static_cast<int>(value);
}

struct NumberRule {
    int lowest;
    int highest;
    const char* what;
};

const std::map<std::string, NumberRule>& NumberRules()
{
    static const std::map<std::string, NumberRule> rules = {
        {"--freq1", {1, 23999, "a frequency in Hz (1 to 23999)"}},
        {"--freq2", {0, 23999, "a frequency in Hz (0 to 23999; 0: none)"}},
        {"--on", {0, 60000, "a time in ms (0 to 60000)"}},
        {"--off", {0, 60000, "a time in ms (0 to 60000)"}},
        {"--seconds", {1, 86400, "a number of seconds (1 to 86400)"}},
        {"--wait", {1, 86400, "a number of seconds (1 to 86400)"}},
        {"--dtmf-on-ms", {40, 1000, "a time in ms (40 to 1000)"}},
        {"--dtmf-off-ms", {40, 1000, "a time in ms (40 to 1000)"}},
    };
    return rules;
}

bool Apply(CliArguments& arguments, const std::string& option, const std::string& value, std::string& error)
{
    if (option == "--buffer") {
        const std::optional<int> bytes = ParseBlockSize(value);
        if (!bytes) {
            error = "--buffer: '" + value + "' is not a block size (64K, 32K, 16K, 8K, 4K, 2K, 1K or 512B)";
            return false;
        }
        arguments.blockBytes = *bytes;
        return true;
    }
    if (option == "--plot") {
#ifdef _WIN32
        error = "--plot is not part of the Windows build";
        return false;
#endif
        if (value.empty()) {
            error = "--plot needs the name of the picture to write (.png, or .svg)";
            return false;
        }
        arguments.plotPath = value;
        return true;
    }
    if (option == "--format") {
        arguments.format = ParseToneFormat(value);
        if (!arguments.format) {
            error = "--format: '" + value + "' is not a notation (tone-list, busypattern or teletone)";
            return false;
        }
        return true;
    }
    if (option == "--cadence") {
        if (!ParseCadence(value, arguments.cadence, error)) {
            error = "--cadence: " + error;
            return false;
        }
        return true;
    }
    if (option == "--own" || option == "--ring" || option == "--invalid" || option == "--dial-prefix") {
        const size_t longest = option == "--dial-prefix" ? 10 : 20;
        if (value.empty() || value.size() > longest ||
            value.find_first_not_of("0123456789*#ABCD") != std::string::npos) {
            error = option + ": '" + value + "' is not 1 to " + std::to_string(longest) +
                    " DTMF digits (0-9, *, #, A-D)";
            return false;
        }
        std::string& number = option == "--own"      ? arguments.ownNumber
                              : option == "--ring"   ? arguments.ringNumber
                              : option == "--invalid" ? arguments.invalidNumber
                                                      : arguments.dialPrefix;
        number = value;
        return true;
    }
    if (option == "--dtmf-level-dbm") {
        const bool negative = !value.empty() && value[0] == '-';
        const std::optional<int> level = ParseNumber(negative ? value.substr(1) : value, 0, 40);
        if (!level || (!negative && *level != 0)) {
            error = "--dtmf-level-dbm: '" + value + "' is not a level in dBm from -40 to 0";
            return false;
        }
        arguments.dtmfLevelDbm = negative ? -*level : 0;
        return true;
    }
    const NumberRule& rule = NumberRules().at(option);
    const std::optional<int> number = ParseNumber(value, rule.lowest, rule.highest);
    if (!number) {
        error = option + ": '" + value + "' is not " + rule.what;
        return false;
    }
    if (option == "--freq1")
        arguments.frequency1 = number;
    else if (option == "--freq2")
        arguments.frequency2 = number;
    else if (option == "--on")
        arguments.onMs = number;
    else if (option == "--off")
        arguments.offMs = number;
    else if (option == "--seconds")
        arguments.seconds = number;
    else if (option == "--dtmf-on-ms")
        arguments.dtmfOnMs = *number;
    else if (option == "--dtmf-off-ms")
        arguments.dtmfOffMs = *number;
    else
        arguments.waitSeconds = *number;
    return true;
}

// What each subcommand needs besides its own options.
bool CheckCommand(const CliArguments& arguments, std::string& error)
{
    const bool onOrOff = arguments.onMs.has_value() || arguments.offMs.has_value();
    if (onOrOff && !arguments.cadence.empty()) {
        error = "give either --on and --off or --cadence";
        return false;
    }
    switch (arguments.command) {
    case Command::Verify:
        if (!arguments.frequency1 || (arguments.cadence.empty() && (!arguments.onMs || !arguments.offMs))) {
            error = "verify needs --freq1 and --on and --off or --cadence (and --freq2 for a dual tone)";
            return false;
        }
        return true;
    case Command::Period:
        if (!arguments.frequency1) {
            error = "period needs --freq1 (and --freq2 for a dual tone)";
            return false;
        }
        return true;
    case Command::File:
        if (arguments.recording.empty()) {
            error = "file needs the recording to analyse: parvane-cli file REC";
            return false;
        }
        if ((arguments.frequency2 || onOrOff || !arguments.cadence.empty()) && !arguments.frequency1) {
            error = "file: --freq2, --on, --off and --cadence go with --freq1";
            return false;
        }
        if (onOrOff && !(arguments.onMs && arguments.offMs)) {
            error = "file: give both --on and --off, or neither";
            return false;
        }
        return true;
    default:
        return true;
    }
}

} // namespace

std::optional<int> ParseBlockSize(const std::string& text)
{
    std::string upper;
    for (char c : text)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (int bytes : kAnalyzeBufferSizes) {
        if (upper == AnalyzeBufferText(bytes) || upper == std::to_string(bytes) ||
            (bytes >= 1024 && upper == std::to_string(bytes / 1024) + "K") ||
            (bytes < 1024 && upper == std::to_string(bytes)))
            return bytes;
    }
    return std::nullopt;
}

bool ParseCadence(const std::string& text, std::vector<vexlin::CadencePair>& cadence, std::string& error)
{
    std::vector<int> times;
    size_t at = 0;
    while (true) {
        const size_t comma = text.find(',', at);
        const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const std::optional<int> ms = ParseNumber(item, 0, 60000);
        if (!ms) {
            error = "'" + item + "' is not a time in ms";
            return false;
        }
        times.push_back(*ms);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    if (times.size() % 2 != 0) {
        error = "'" + text + "' is not pairs of on and off times";
        return false;
    }
    cadence.clear();
    for (size_t i = 0; i < times.size(); i += 2)
        cadence.push_back({times[i], times[i + 1]});
    error = vexlin::CadenceTracker::CheckPattern(cadence);
    if (!error.empty()) {
        cadence.clear();
        return false;
    }
    return true;
}

bool ParseCliArguments(int argc, const char* const* argv, CliArguments& arguments, std::string& error)
{
    arguments = CliArguments{};
    CommonOptions common;
    if (!ParseCommonOptions(argc, argv, common, error))
        return false;
    arguments.vendorId = common.vendorId;
    arguments.virtualAdapter = common.virtualAdapter;

    // Program-wide switches first, anywhere on the line; then the subcommand
    // and its options in any order.
    std::vector<std::string> words;
    bool help = false;
    for (size_t i = 1; i < common.rest.size(); ++i) {
        const std::string& word = common.rest[i];
        if (word == "--json")
            arguments.json = true;
        else if (word == "--verbose" || word == "-v")
            arguments.verbose = true;
        else if (word == "--help" || word == "-h")
            help = true;
        else
            words.push_back(word);
    }
    if (help) {
        arguments.command = Command::Help;
        return true;
    }
    if (words.empty()) {
        error = "no command given";
        return false;
    }
    const std::optional<Command> command = CommandNamed(words[0]);
    if (!command) {
        error = "unknown command '" + words[0] + "'";
        return false;
    }
    arguments.command = *command;
    const std::vector<std::string>& allowed = CommandOptions().at(*command);

    for (size_t i = 1; i < words.size(); ++i) {
        std::string word = words[i];
        std::string value;
        bool inlineValue = false;
        if (word.rfind("--", 0) == 0) {
            const size_t equals = word.find('=');
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
                word = word.substr(0, equals);
                inlineValue = true;
            }
            if (std::find(allowed.begin(), allowed.end(), word) == allowed.end()) {
                error = words[0] + ": unknown option '" + word + "'";
                return false;
            }
            if (!inlineValue) {
                if (i + 1 >= words.size()) {
                    error = word + " needs a value";
                    return false;
                }
                value = words[++i];
            }
            if (!Apply(arguments, word, value, error))
                return false;
        } else if (*command == Command::File && arguments.recording.empty()) {
            arguments.recording = word;
        } else {
            error = words[0] + ": unexpected argument '" + word + "'";
            return false;
        }
    }
    if (!CheckCommand(arguments, error))
        return false;
    if (arguments.cadence.size() == 1) {
        arguments.onMs = arguments.cadence[0].onMs;
        arguments.offMs = arguments.cadence[0].offMs;
    }
    return true;
}

std::string UsageText()
{
    return "Usage: parvane-cli [options] COMMAND [command options]\n"
           "\n"
           "Commands:\n"
           "  analyze [--buffer 32K] [--seconds N] [--plot FILE]\n"
           "      wait for a call, answer it and list the candidate busy-tone frequencies\n"
           "  verify --freq1 F [--freq2 F] (--on MS --off MS | --cadence ON,OFF[,ON,OFF...]) [--seconds N]\n"
           "      wait for a call and check that this busy tone is on the line (up to four on/off pairs)\n"
           "  period --freq1 F [--freq2 F] [--seconds N]\n"
           "      wait for a call and measure the cadence of this tone\n"
           "  learn [--buffer 32K] [--format F] [--plot FILE]\n"
           "      on one call: find the busy tone's frequencies and cadence, confirm them, print the tone\n"
           "  survey [--own N] [--ring N] [--invalid N] [--dial-prefix D]\n"
           "      [--dtmf-on-ms 100] [--dtmf-off-ms 100] [--dtmf-level-dbm -10] [--buffer 32K]\n"
           "      call out: learn the dial tone, then dial each number given with DTMF and learn what\n"
           "      answers (own number: busy, ringing extension: ringback, unassigned number: congestion);\n"
           "      print them as one tone set\n"
           "  file REC [--buffer 32K] [--format F] [--freq1 F [--freq2 F] [--on MS --off MS | --cadence ...]]\n"
           "      [--plot FILE]\n"
           "      analyse a recording (any format libsndfile reads), no adapter needed\n"
           "  info\n"
           "      the adapter's ids, model name and serial number\n"
           "  probe\n"
           "      find the adapter's vendor id: try every HID device with its product ids\n"
           "\n"
           "  --format F: the notation of the tone printed, tone-list (busy = 450/350,0/350, the default),\n"
           "  busypattern (busydetect, busycount, busypattern) or teletone (%(350,350,450))\n"
           "\n"
           "Options:\n"
           "  --virtual-adapter[=PRESET|FILE]  use the virtual adapter (presets: us uk cn de fr jp au in ru br)\n"
           "  --vendor-id ID                   the adapter's USB vendor id (e.g. 0x1234)\n"
           "  --json                           print one JSON document on stdout\n"
           "  --wait N                         seconds to wait for the call (default 120)\n"
           "  --plot FILE                      (analyze, learn, file) draw what was heard: PNG, or SVG for *.svg\n"
           "  --verbose                        show the trace lines of the libraries on stderr\n"
           "\n"
           "Exit codes: 0 done, 1 failed, 2 usage, 3 no adapter, 4 no tone found.\n";
}

} // namespace parvane::cli
