// Any text as a virtual-adapter scenario file: it is taken or refused with
// a message, never anything else. A recording it names is looked for in an
// empty scratch directory.
#include "FuzzFiles.h"

#include "vadapter/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    parvane::Scenario scenario;
    std::string error;
    const bool taken = parvane::ParseScenarioText(text, parvane::fuzz::Scratch().Path() + "/call.ini", scenario, error);
    if (!taken && error.empty())
        __builtin_trap(); // a refusal always says why
    if (taken && scenario.ringCadenceMs.empty())
        __builtin_trap(); // the caller needs a cadence to ring with
    return 0;
}
