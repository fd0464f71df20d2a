#pragma once
// The subcommands of parvane-cli. Each returns the process's exit code
// (cli/CliArguments.h) and writes its result to the console's stdout.

#include "cli/CliArguments.h"

namespace parvane::cli {

class Console;

int RunFileCommand(const CliArguments& arguments, Console& console);
int RunInfoCommand(const CliArguments& arguments, Console& console);
int RunProbeCommand(const CliArguments& arguments, Console& console);
int RunAnalyzeCommand(const CliArguments& arguments, Console& console);
int RunVerifyCommand(const CliArguments& arguments, Console& console);
int RunPeriodCommand(const CliArguments& arguments, Console& console);
int RunLearnCommand(const CliArguments& arguments, Console& console);
int RunSurveyCommand(const CliArguments& arguments, Console& console);

// Parses the arguments, applies the adapter options and runs the command.
int RunCli(int argc, const char* const* argv);

} // namespace parvane::cli
