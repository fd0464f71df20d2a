// parvane: finds and verifies the busy tone of a telephone line through the
// USB telephone adapter.
//
//   parvane [--virtual-adapter[=PRESET|FILE]] [--vendor-id ID] [Qt options]

#include "app/CommonOptions.h"
#include "app/TestApp.h"

#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    parvane::CommonOptions options;
    std::string error;
    // The virtual adapter is chosen before anything that may load it.
    if (!parvane::ParseCommonOptions(argc, argv, options, error) ||
        !parvane::ApplyVirtualAdapterOption(options, error)) {
        std::fprintf(stderr, "parvane: %s\n", error.c_str());
        return 2;
    }
    // Qt takes the arguments that are not ours.
    std::vector<char*> rest;
    for (std::string& argument : options.rest)
        rest.push_back(argument.data());
    int restCount = static_cast<int>(rest.size());
    rest.push_back(nullptr);
    CTestApp app(restCount, rest.data(), options);
    app.InitInstance();
    return 0;
}
