// parvane-cli: the headless front end. See cli/CliArguments.h for the
// command line.
#include "cli/Commands.h"

int main(int argc, char** argv)
{
    return parvane::cli::RunCli(argc, argv);
}
