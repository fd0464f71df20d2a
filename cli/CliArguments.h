#pragma once
// The command line of parvane-cli:
//
//   parvane-cli [options] analyze [--buffer 32K] [--seconds N] [--plot FILE]
//   parvane-cli [options] verify --freq1 F [--freq2 F] (--on MS --off MS | --cadence ON,OFF[,ON,OFF...])
//                                [--seconds N]
//   parvane-cli [options] period --freq1 F [--freq2 F] [--seconds N]
//   parvane-cli [options] learn [--buffer 32K] [--format F] [--plot FILE]
//   parvane-cli [options] survey [--own N] [--ring N] [--invalid N] [--dial-prefix D]
//                                [--dtmf-on-ms MS] [--dtmf-off-ms MS] [--dtmf-level-dbm L] [--buffer 32K]
//   parvane-cli [options] file REC [--buffer 32K] [--format F] [--plot FILE]
//                              [--freq1 F [--freq2 F] [--on MS --off MS | --cadence ON,OFF...]]
//
// F, the notation of the tone printed: tone-list, busypattern or teletone.
//   parvane-cli [options] info
//
// options (anywhere on the line): --virtual-adapter[=PRESET|FILE],
// --vendor-id ID, --json, --verbose, --wait N (seconds to wait for the
// call), --help.

#include "cli/ToneProfile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace parvane::cli {

// Exit codes.
enum ExitCode : int {
    kExitDone = 0,
    kExitFailed = 1,    // the run or the recording failed (message on stderr)
    kExitUsage = 2,
    kExitNoAdapter = 3,
    kExitNoTone = 4,
};

enum class Command { Analyze, Verify, Period, Learn, Survey, File, Info, Probe, Help };

struct CliArguments {
    Command command = Command::Help;
    bool json = false;
    bool verbose = false;
    // Adapter choice, as the programs' common options take it.
    uint16_t vendorId = 0;
    std::optional<std::string> virtualAdapter;

    int blockBytes = 32768;            // --buffer
    std::optional<int> seconds;        // --seconds: how long the answered run lasts at most
    int waitSeconds = 120;             // --wait: how long to wait for the call
    std::optional<int> frequency1;     // --freq1 (Hz)
    std::optional<int> frequency2;     // --freq2 (Hz)
    std::optional<int> onMs;           // --on
    std::optional<int> offMs;          // --off
    // --cadence: on and off times in turn, one to four pairs; one pair is
    // also set as onMs and offMs.
    std::vector<vexlin::CadencePair> cadence;
    std::optional<ToneFormat> format;  // --format
    std::string recording;             // file REC
    std::string plotPath;              // --plot: the picture to draw (PNG, or SVG for *.svg)

    // survey: the numbers to call (DTMF digits; empty: not called), the
    // digits dialled before each, and how the digits are sent.
    std::string ownNumber;             // --own: busy
    std::string ringNumber;            // --ring: rings, not answered
    std::string invalidNumber;         // --invalid: unassigned
    std::string dialPrefix;            // --dial-prefix
    int dtmfOnMs = 100;                // --dtmf-on-ms
    int dtmfOffMs = 100;               // --dtmf-off-ms
    int dtmfLevelDbm = -10;            // --dtmf-level-dbm: each tone of a digit
};

// The analysis block sizes in bytes and their names ("64K" .. "512B").
// Accepts those names in any letter case, "32k", and plain byte counts.
std::optional<int> ParseBlockSize(const std::string& text);

// "350,350" or "200,200,200,600": one to four pairs of on and off times in
// ms, each from 60 to 5000. False with the reason in error.
bool ParseCadence(const std::string& text, std::vector<vexlin::CadencePair>& cadence, std::string& error);

// Parses argv. False with the message in error for anything malformed (the
// caller exits with kExitUsage).
bool ParseCliArguments(int argc, const char* const* argv, CliArguments& arguments, std::string& error);

// The text printed by --help and after a usage error.
std::string UsageText();

} // namespace parvane::cli
