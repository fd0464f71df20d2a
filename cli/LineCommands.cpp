// The subcommands that work on a line: info, analyze, verify, period and
// learn. All of them bring up port 1 as the dialog does and drive the same
// run control.

#include "cli/AnalysisReport.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/LineLearning.h"
#include "cli/LineSession.h"
#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "platform/VirtualAdapterLink.h"
#include "audio/AnalysisOutput.h"
#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"

#include <algorithm>
#include <cstdio>

namespace parvane::cli {

namespace {

constexpr uint32_t kAnalyzeDefaultSeconds = 10;
constexpr uint32_t kVerifyDefaultSeconds = 60;
constexpr uint32_t kPeriodDefaultSeconds = 30;
std::string Hex(uint16_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

void PrintJson(Console& console, const nlohmann::ordered_json& json)
{
    std::fprintf(console.Out(), "%s\n", json.dump(2).c_str());
    std::fflush(console.Out());
}

uint32_t Milliseconds(const std::optional<int>& seconds, uint32_t fallbackSeconds)
{
    return static_cast<uint32_t>(seconds.value_or(static_cast<int>(fallbackSeconds))) * 1000u;
}

// Reports a run that did not get as far as an answered call. True when the
// caller must stop with the returned code.
bool RunFailed(LineSession::RunOutcome outcome, const CliArguments& arguments, Console& console, int& code)
{
    if (outcome == LineSession::RunOutcome::NoCall) {
        console.Error("no call was answered within " + std::to_string(arguments.waitSeconds) + " s");
        code = kExitFailed;
        return true;
    }
    if (outcome == LineSession::RunOutcome::Unplugged) {
        code = kExitNoAdapter;
        return true;
    }
    if (outcome == LineSession::RunOutcome::Refused) {
        code = kExitUsage;
        return true;
    }
    if (outcome == LineSession::RunOutcome::Failed) {
        code = kExitFailed;
        return true;
    }
    return false;
}

struct DetectionRun {
    int count = 0;
    bool happened = false;
    int periodMs = 0;
    bool Found() const { return happened && count >= RunControl::kFoundCount; }
};

// Get Period has its answer: the tone found and a period measured over
// several cycles.
bool PeriodMeasured(const DetectionRun& run)
{
    return run.happened && run.count >= kPeriodCycles && run.periodMs > 0;
}

DetectionRun ReadDetection(LineSession& session)
{
    return {session.BusyToneCount(), session.BusyToneHappened(), session.PerhapsPeriod()};
}

// A run of the worker (Verify or Get Period) that ends when `enough` holds
// for the library's figures, which are read every 100 ms (the worker itself
// reads them once a second for the status line). With finalStatus the run
// goes on until the worker has written the status line once more, so that
// the last status tells what was found.
LineSession::RunOutcome RunDetection(LineSession& session, LineSession::RunOptions options, bool finalStatus,
                                     DetectionRun& last, const std::function<bool(const DetectionRun&)>& enough)
{
    uint32_t readAt = GetTickCount32() - 1000;
    std::optional<uint64_t> writesWhenEnough;
    options.done = [&] {
        if (writesWhenEnough) {
            if (session.StatusWrites() == *writesWhenEnough)
                return false;
            last = ReadDetection(session);
            return true;
        }
        const uint32_t now = GetTickCount32();
        if (now - readAt < 100)
            return false;
        readAt = now;
        last = ReadDetection(session);
        if (!enough(last))
            return false;
        if (!finalStatus)
            return true;
        writesWhenEnough = session.StatusWrites();
        return false;
    };
    return session.Run(options);
}

} // namespace

int RunInfoCommand(const CliArguments& arguments, Console& console)
{
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;
    CDeviceOper& device = session.Device();
    // The serial number is read through the same copy of the line-device
    // library. No call may be under way in it meanwhile: the line watch is
    // stopped first.
    device.Stop();
    std::string serial;
    DynamicLibrary library;
    if (library.Open(GetModuleDir() + CDeviceOper::kFxoLibraryPort1)) {
        using GetSerialNumberFn = uint8_t (*)(uint8_t*);
        if (auto get = library.Function<GetSerialNumberFn>("GetSerialNumber")) {
            uint8_t bytes[6] = {};
            if (get(bytes) == 1) {
                char text[32];
                std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                              bytes[3], bytes[4], bytes[5]);
                serial = text;
            }
        }
    }
    console.EndProgress();
    const bool isVirtual = VirtualAdapterChosen();
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["vendor_id"] = Hex(device.m_wVendorId);
        json["product_id"] = Hex(device.m_wProductId);
        json["model"] = session.ModelName();
        json["serial"] = serial.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(serial);
        json["virtual"] = isVirtual;
        PrintJson(console, json);
    } else {
        std::fprintf(console.Out(), "Adapter: vendor id %s, product id %s%s\n", Hex(device.m_wVendorId).c_str(),
                     Hex(device.m_wProductId).c_str(), isVirtual ? " (virtual)" : "");
        std::fprintf(console.Out(), "Model: %s\n", session.ModelName().c_str());
        std::fprintf(console.Out(), "Serial: %s\n", serial.empty() ? "(cannot be read)" : serial.c_str());
        std::fflush(console.Out());
    }
    return kExitDone;
}

int RunAnalyzeCommand(const CliArguments& arguments, Console& console)
{
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;
    LineSession::RunOptions options;
    options.mode = RunMode::Analyze;
    options.blockBytes = arguments.blockBytes;
    options.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    options.answeredMs = Milliseconds(arguments.seconds, kAnalyzeDefaultSeconds);
    options.activity = "Analysing";
    int code = kExitDone;
    if (RunFailed(session.Run(options), arguments, console, code))
        return code;

    MemoryRunPanel& panel = session.Panel();
    const std::vector<int16_t> heard = session.HeardAudio();
    const AnalysisReport report = BuildAnalysisReport(arguments.blockBytes, panel.frequencies, panel.changes, heard);
    if (arguments.json) {
        nlohmann::ordered_json json = ReportJson(report);
        json["seconds"] = options.answeredMs / 1000;
        PrintJson(console, json);
    } else {
        std::fputs(ReportText(report).c_str(), console.Out());
        std::fflush(console.Out());
    }
    if (!arguments.plotPath.empty() && !PlotReport(arguments.plotPath, "parvane-cli analyze", report, heard, "", console))
        return kExitFailed;
    return report.candidates.empty() ? kExitNoTone : kExitDone;
}

namespace {

int PrintDetection(const CliArguments& arguments, Console& console, const DetectionRun& run, bool verify,
                   const std::string& status)
{
    const bool found = verify ? run.Found() : PeriodMeasured(run);
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["frequencies_hz"] = nlohmann::ordered_json::array({*arguments.frequency1});
        if (arguments.frequency2.value_or(0) > 0)
            json["frequencies_hz"].push_back(*arguments.frequency2);
        if (verify) {
            json["on_ms"] = *arguments.onMs;
            json["off_ms"] = *arguments.offMs;
        }
        json["count"] = run.count;
        json["found"] = found;
        json["detected"] = run.happened;
        json["period_ms"] = run.periodMs;
        json["status"] = status;
        PrintJson(console, json);
    } else {
        std::string verdict;
        if (verify)
            verdict = found ? "Busy tone confirmed" : "Busy tone not confirmed";
        else
            verdict = found ? "Period: " + std::to_string(run.periodMs) + " ms" : "No steady cadence found";
        std::fprintf(console.Out(), "%s (count %d, measured period %d ms)\n", verdict.c_str(), run.count,
                     run.periodMs);
        std::fflush(console.Out());
    }
    return found ? kExitDone : kExitNoTone;
}

} // namespace

namespace {

// Verify Mode for a cadence of several pairs, which the library's request
// cannot carry: the detector asked for the whole pattern listens to the
// audio the analysis hears on the answered call, judged as the status line
// judges the library's figures.
int RunPatternVerify(const CliArguments& arguments, Console& console, LineSession& session)
{
    const int frequency1 = *arguments.frequency1;
    const int frequency2 = arguments.frequency2.value_or(0);
    HeardDetector heard;
    if (!heard.Start(RequestFor(frequency1, frequency2, arguments.cadence), 0)) {
        console.Error("the detector refuses this request: " + heard.Detector().Problem());
        return kExitUsage;
    }
    ToneProfile profile;
    profile.frequencies = {frequency1};
    profile.cadence = arguments.cadence;
    if (frequency2 > 0)
        profile.frequencies.push_back(frequency2);
    LineSession::RunOptions options;
    options.mode = RunMode::Analyze;
    options.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    options.answeredMs = Milliseconds(arguments.seconds, kVerifyDefaultSeconds);
    const auto found = [&] { return heard.Detector().Found() && heard.Detector().Count() >= RunControl::kFoundCount; };
    options.done = [&] {
        heard.Catch(session);
        return found();
    };
    options.progress = [&] {
        return "Verifying " + ToneListText(profile) + ": count " + std::to_string(heard.Detector().Count());
    };
    int code = kExitDone;
    if (RunFailed(session.Run(options), arguments, console, code))
        return code;
    const bool confirmed = found();
    const std::string status = std::string(confirmed ? "Busy tone confirmed" : "Busy tone not confirmed") +
                               " (count " + std::to_string(heard.Detector().Count()) + ")";
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["frequencies_hz"] = nlohmann::ordered_json::array({frequency1});
        if (frequency2 > 0)
            json["frequencies_hz"].push_back(frequency2);
        json["cadence_ms"] = CadenceJson(arguments.cadence);
        json["count"] = heard.Detector().Count();
        json["found"] = confirmed;
        json["detected"] = heard.Detector().Found();
        json["period_ms"] = heard.Detector().PerhapsPeriod();
        json["status"] = status;
        PrintJson(console, json);
    } else {
        std::fprintf(console.Out(), "%s, measured period %d ms\n", status.c_str(), heard.Detector().PerhapsPeriod());
        std::fflush(console.Out());
    }
    return confirmed ? kExitDone : kExitNoTone;
}

// Verify Mode or Get Period with the operator's figures; ends once the
// verdict is in (and shown), or after --seconds.
int RunDetectionCommand(const CliArguments& arguments, Console& console, bool verify)
{
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;
    if (verify && arguments.cadence.size() > 1)
        return RunPatternVerify(arguments, console, session);
    LineSession::RunOptions options;
    options.mode = verify ? RunMode::Verify : RunMode::GetPeriod;
    options.frequency1 = *arguments.frequency1;
    options.frequency2 = arguments.frequency2.value_or(0);
    options.onMs = arguments.onMs.value_or(0);
    options.offMs = arguments.offMs.value_or(0);
    options.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    options.answeredMs = Milliseconds(arguments.seconds, verify ? kVerifyDefaultSeconds : kPeriodDefaultSeconds);
    options.printStatus = !arguments.json;
    DetectionRun last;
    int code = kExitDone;
    const auto enough = [verify](const DetectionRun& run) {
        return verify ? run.Found() : PeriodMeasured(run);
    };
    if (RunFailed(RunDetection(session, options, true, last, enough), arguments, console, code))
        return code;
    return PrintDetection(arguments, console, last, verify, session.Panel().Status());
}

} // namespace

int RunVerifyCommand(const CliArguments& arguments, Console& console)
{
    return RunDetectionCommand(arguments, console, true);
}

int RunPeriodCommand(const CliArguments& arguments, Console& console)
{
    return RunDetectionCommand(arguments, console, false);
}

int RunLearnCommand(const CliArguments& arguments, Console& console)
{
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;
    int code = kExitDone;

    LineLearning learning(session, arguments.blockBytes);
    LineSession::RunOptions options;
    options.mode = RunMode::Analyze;
    options.blockBytes = arguments.blockBytes;
    options.waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    // Every stage's limit, and some slack: the stages end the call.
    options.answeredMs = kLearningLongestMs + 5000;
    options.done = [&] { return learning.Step(); };
    options.progress = [&] { return learning.Progress(); };
    if (RunFailed(session.Run(options), arguments, console, code))
        return code;
    if (learning.CurrentStage() != LineLearning::Stage::Done) {
        console.Error("the call ended before the tone was learnt");
        return kExitNoTone;
    }
    if (!learning.Failure().empty()) {
        console.Error(learning.Failure());
        return kExitNoTone;
    }

    const ToneProfile& profile = learning.Profile();
    const bool verified = learning.Verified();
    const uint32_t answerToResultMs = learning.ResultAt() - session.AnsweredAt();
    if (arguments.json) {
        const bool onePair = profile.cadence.size() == 1;
        nlohmann::ordered_json json;
        json["frequencies_hz"] = profile.frequencies;
        json["on_ms"] = onePair ? nlohmann::ordered_json(profile.cadence[0].onMs) : nlohmann::ordered_json(nullptr);
        json["off_ms"] = onePair ? nlohmann::ordered_json(profile.cadence[0].offMs) : nlohmann::ordered_json(nullptr);
        json["period_ms"] = profile.cadence.empty() ? nlohmann::ordered_json(nullptr)
                                                    : nlohmann::ordered_json(learning.PeriodMs());
        json["cadence_ms"] = CadenceJson(profile.cadence);
        json["continuous"] = profile.cadence.empty();
        json.update(NotationsJson(profile));
        json["busy_line"] = BusyToneLine(profile);
        json["verified"] = verified;
        json["count"] = learning.Count();
        json["answer_to_result_ms"] = answerToResultMs;
        json["block_bytes"] = arguments.blockBytes;
        // The candidates as the analysis listed them over the whole call.
        AnalysisReport listed;
        listed.blockBytes = arguments.blockBytes;
        listed.candidates = CandidatesOf(session.Panel().frequencies);
        json["candidates"] = ReportJson(listed)["candidates"];
        PrintJson(console, json);
    } else {
        std::string line = "Busy tone:";
        for (size_t i = 0; i < profile.frequencies.size(); ++i)
            line += (i ? " + " : " ") + std::to_string(profile.frequencies[i]) + " Hz";
        char when[32];
        std::snprintf(when, sizeof when, "%.1f s", answerToResultMs / 1000.0);
        std::fprintf(console.Out(), "%s, %s (%s, count %d, %s after the answer)\n%s", line.c_str(),
                     CadenceText(profile).c_str(), verified ? "verified" : "NOT verified", learning.Count(), when,
                     ToneInFormat(profile, arguments.format.value_or(ToneFormat::ToneList)).c_str());
        std::fflush(console.Out());
    }
    if (!arguments.plotPath.empty()) {
        // The whole call as the analysis heard it, stages and all.
        const std::vector<int16_t> heard = session.HeardAudio();
        const AnalysisReport report = BuildAnalysisReport(arguments.blockBytes, session.Panel().frequencies,
                                                          session.Panel().changes, heard);
        if (!PlotReport(arguments.plotPath, "parvane-cli learn", report, heard, BusyToneLine(profile), console))
            return kExitFailed;
    }
    if (!verified) {
        console.Error("Verify Mode did not confirm the learnt tone");
        return kExitNoTone;
    }
    return kExitDone;
}

} // namespace parvane::cli
