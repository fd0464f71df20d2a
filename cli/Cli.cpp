#include "app/CommonOptions.h"
#include "cli/Commands.h"
#include "cli/Console.h"

#include <cstdio>

namespace parvane::cli {

int RunCli(int argc, const char* const* argv)
{
    CliArguments arguments;
    std::string error;
    if (!ParseCliArguments(argc, argv, arguments, error)) {
        std::fprintf(stderr, "parvane-cli: %s\n\n%s", error.c_str(), UsageText().c_str());
        return kExitUsage;
    }
    if (arguments.command == Command::Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kExitDone;
    }
    Console console = Console::ForProcess(arguments.verbose);
    if (arguments.command == Command::File)
        return RunFileCommand(arguments, console);

    CommonOptions common;
    common.vendorId = arguments.vendorId;
    common.virtualAdapter = arguments.virtualAdapter;
    if (!ApplyVirtualAdapterOption(common, error)) {
        console.Error(error);
        return kExitNoAdapter;
    }
    switch (arguments.command) {
    case Command::Info:
        return RunInfoCommand(arguments, console);
    case Command::Probe:
        return RunProbeCommand(arguments, console);
    case Command::Analyze:
        return RunAnalyzeCommand(arguments, console);
    case Command::Verify:
        return RunVerifyCommand(arguments, console);
    case Command::Period:
        return RunPeriodCommand(arguments, console);
    case Command::Learn:
        return RunLearnCommand(arguments, console);
    case Command::Survey:
        return RunSurveyCommand(arguments, console);
    default:
        return kExitUsage;
    }
}

} // namespace parvane::cli
