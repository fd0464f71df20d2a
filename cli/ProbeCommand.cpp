// parvane-cli probe: finds the adapter's vendor id. The adapter does not show
// it anywhere, so every HID device with one of the adapter's product ids (any
// vendor) is opened through the line-device library and its DAA is asked for
// the register echo the start-up relies on (register 33 written, read back).
#include "cli/Commands.h"
#include "cli/Console.h"

#include "app/AdapterSettings.h"
#include "device/DeviceOper.h"
#include "platform/AdapterIds.h"
#include "platform/AdapterNodes.h"
#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "platform/VirtualAdapterLink.h"
#include "vadapter/VirtualAdapter.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace parvane::cli {

namespace {

constexpr uint8_t kEchoRegister = 33; // the DAA's PCM/SPI mode register
constexpr uint8_t kEchoValue = 0x28;

struct Candidate {
    AdapterNode node;
    std::string verdict; // "adapter", "other" or "unopenable"
};

// The HID devices with the adapter's product ids: the kernel's nodes, or the
// virtual adapter's bus when it is chosen.
std::vector<AdapterNode> CandidateNodes()
{
    if (!VirtualAdapterChosen())
        return FindAdapterNodes(0, kAdapterProductIds);
    std::vector<AdapterNode> nodes;
    if (VirtualAdapter* adapter = ChosenVirtualAdapter()) {
        for (const VirtualHidDevice& device : adapter->Enumerate())
            nodes.push_back({device.path, device.vendorId, device.productId, 0});
    }
    return nodes;
}

// Opens the device by its ids through a copy of the line-device library and
// tries the DAA echo.
bool AnswersLikeTheAdapter(DynamicLibrary& library, const AdapterNode& node)
{
    using LoadFn = uint8_t (*)(int32_t, int32_t);
    using CloseFn = uint8_t (*)();
    using WriteFn = uint8_t (*)(uint8_t, uint8_t);
    using ReadFn = uint8_t (*)(uint8_t);
    auto load = library.Function<LoadFn>("ZorvLoad");
    auto close = library.Function<CloseFn>("ZorvClose");
    auto write = library.Function<WriteFn>("WriteDAARegister");
    auto read = library.Function<ReadFn>("ReadDAARegister");
    if (!load || !close || !write || !read || load(node.vendorId, node.productId) == 0)
        return false;
    const bool echoed = write(kEchoRegister, kEchoValue) == 1 && read(kEchoRegister) == kEchoValue;
    close();
    return echoed;
}

std::string Hex4(uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

} // namespace

int RunProbeCommand(const CliArguments& arguments, Console& console)
{
    DynamicLibrary library;
    if (!library.Open(GetModuleDir() + CDeviceOper::kFxoLibraryPort1)) {
        console.Error("cannot load the line-device library " + GetModuleDir() + CDeviceOper::kFxoLibraryPort1);
        return kExitFailed;
    }
    std::vector<Candidate> candidates;
    for (const AdapterNode& node : CandidateNodes()) {
        Candidate candidate{node, "other"};
        if (node.openError != 0)
            candidate.verdict = "unopenable";
        else if (AnswersLikeTheAdapter(library, node))
            candidate.verdict = "adapter";
        candidates.push_back(candidate);
    }
    const Candidate* found = nullptr;
    for (const Candidate& candidate : candidates) {
        if (candidate.verdict == "adapter" && found == nullptr)
            found = &candidate;
    }
    const std::vector<std::string> settings = SettingsFiles();
    const std::string settingsFile = settings.empty() ? "parvane/parvane.conf" : settings.front();
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["devices"] = nlohmann::ordered_json::array();
        for (const Candidate& candidate : candidates) {
            json["devices"].push_back({{"path", candidate.node.path},
                                       {"vendor_id", Hex4(candidate.node.vendorId)},
                                       {"product_id", Hex4(candidate.node.productId)},
                                       {"answer", candidate.verdict}});
        }
        json["vendor_id"] = found ? nlohmann::ordered_json(Hex4(found->node.vendorId)) : nullptr;
        std::fprintf(console.Out(), "%s\n", json.dump(2).c_str());
    } else {
        if (candidates.empty())
            std::fprintf(console.Out(), "No HID device with the adapter's product ids (0x0110, 0x2110, 0x2111).\n");
        for (const Candidate& candidate : candidates) {
            const std::string what = candidate.verdict == "adapter" ? "answers like the adapter"
                                     : candidate.verdict == "other"  ? "does not answer like the adapter"
                                                                      : "cannot be opened";
            std::fprintf(console.Out(), "%s  vendor id %s, product id %s: %s\n", candidate.node.path.c_str(),
                         Hex4(candidate.node.vendorId).c_str(), Hex4(candidate.node.productId).c_str(), what.c_str());
        }
        if (found != nullptr) {
            std::fprintf(console.Out(),
                         "Use --vendor-id %s, or keep it for both programs in %s:\n[adapter]\nvendor_id = %s\n",
                         Hex4(found->node.vendorId).c_str(), settingsFile.c_str(), Hex4(found->node.vendorId).c_str());
        }
        std::fflush(console.Out());
    }
    for (const Candidate& candidate : candidates) {
        if (candidate.verdict == "unopenable")
            console.Error(AdapterAccessProblem({candidate.node}));
    }
    return found != nullptr ? kExitDone : kExitNoAdapter;
}

} // namespace parvane::cli
