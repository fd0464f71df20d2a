// The subcommands that work on a line: info, analyze, verify, period and
// learn. All of them bring up port 1 as the dialog does and drive the same
// run control.

#include "cli/AnalysisReport.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/LineSession.h"
#include "platform/DynamicLibrary.h"
#include "platform/ModuleDir.h"
#include "platform/Tick.h"
#include "platform/VirtualAdapterLink.h"
#include "vexlin/CadenceTracker.h"

#include <algorithm>
#include <cstdio>

namespace parvane::cli {

namespace {

constexpr uint32_t kAnalyzeDefaultSeconds = 10;
constexpr uint32_t kVerifyDefaultSeconds = 60;
constexpr uint32_t kPeriodDefaultSeconds = 30;
// A Get Period run ends once the library has found the tone and matched
// this many cycles (its period is then the median of several).
constexpr int kPeriodCycles = 2;

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

std::string FrequenciesText(int frequency1, int frequency2)
{
    std::string text = std::to_string(frequency1) + " Hz";
    if (frequency2 > 0)
        text += " + " + std::to_string(frequency2) + " Hz";
    return text;
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
        console.Error("the adapter was unplugged during the run; plug it in again and start over");
        code = kExitNoAdapter;
        return true;
    }
    if (outcome == LineSession::RunOutcome::Refused) {
        code = kExitUsage;
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

// The number of separate stretches of tone in the audio (a long tone that
// the stretch finder cuts into pieces counts once).
int ToneOnsets(const std::vector<int16_t>& mono, uint64_t& toneMs)
{
    const std::vector<SampleRange> stretches = ToneRefinement::FindToneStretches(mono, 48000);
    int onsets = 0;
    size_t lastEnd = SIZE_MAX;
    toneMs = 0;
    for (const SampleRange& stretch : stretches) {
        if (stretch.begin != lastEnd)
            ++onsets;
        lastEnd = stretch.end;
        toneMs += stretch.Length() / 48;
    }
    return onsets;
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
    const AnalysisReport report =
        BuildAnalysisReport(arguments.blockBytes, panel.frequencies, panel.changes, session.HeardAudio());
    if (arguments.json) {
        nlohmann::ordered_json json = ReportJson(report);
        json["seconds"] = options.answeredMs / 1000;
        PrintJson(console, json);
    } else {
        std::fputs(ReportText(report).c_str(), console.Out());
        std::fflush(console.Out());
    }
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

// Verify Mode or Get Period with the operator's figures; ends once the
// verdict is in (and shown), or after --seconds.
int RunDetectionCommand(const CliArguments& arguments, Console& console, bool verify)
{
    LineSession session(console);
    if (int code = session.Open(arguments.vendorId))
        return code;
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
    const uint32_t waitMs = static_cast<uint32_t>(arguments.waitSeconds) * 1000u;
    int code = kExitDone;

    // 1. Analyze Mode until the tone has come and gone a few times.
    LineSession::RunOptions analyse;
    analyse.mode = RunMode::Analyze;
    analyse.blockBytes = arguments.blockBytes;
    analyse.waitMs = waitMs;
    analyse.answeredMs = 15000;
    analyse.activity = "Learning the frequencies";
    uint32_t lookedAt = GetTickCount32();
    analyse.done = [&] {
        const uint32_t now = GetTickCount32();
        if (now - lookedAt < 200 || session.HeardMs() < 2000)
            return false;
        lookedAt = now;
        uint64_t toneMs = 0;
        const int onsets = ToneOnsets(session.HeardAudio(), toneMs);
        return onsets >= 5 || (onsets == 1 && toneMs >= 4000);
    };
    if (RunFailed(session.Run(analyse), arguments, console, code))
        return code;
    MemoryRunPanel& panel = session.Panel();
    const AnalysisReport report =
        BuildAnalysisReport(arguments.blockBytes, panel.frequencies, panel.changes, session.HeardAudio());
    if (!report.FoundTone()) {
        console.Error("no tone was heard on the line");
        return kExitNoTone;
    }
    const std::vector<int> frequencies = report.Frequencies();
    const int frequency1 = frequencies[0];
    const int frequency2 = frequencies.size() > 1 ? frequencies[1] : 0;

    // 2. Get Period with the frequencies found.
    LineSession::RunOptions period;
    period.mode = RunMode::GetPeriod;
    period.frequency1 = frequency1;
    period.frequency2 = frequency2;
    period.waitMs = waitMs;
    period.answeredMs = 20000;
    DetectionRun measured;
    if (RunFailed(RunDetection(session, period, false, measured, PeriodMeasured), arguments, console, code))
        return code;

    // The on and off times: the analysed audio splits the period when the
    // tone is on longer than off (or the other way round); alike, both are
    // the period Get Period measured.
    ToneProfile profile;
    profile.frequencies = frequencies;
    const int periodMs = measured.happened ? measured.periodMs : (report.cadence ? report.cadence->periodMs : 0);
    if (periodMs <= 0) {
        console.Error("the tone " + FrequenciesText(frequency1, frequency2) + " has no steady cadence");
        return kExitNoTone;
    }
    if (report.cadence && report.cadence->onMs != report.cadence->offMs &&
        vexlin::CadenceTracker::Near(report.cadence->onMs + report.cadence->offMs, periodMs)) {
        profile.onMs = report.cadence->onMs;
        profile.offMs = report.cadence->offMs;
    } else {
        profile.onMs = profile.offMs = periodMs;
    }

    // 3. Verify Mode with everything found.
    LineSession::RunOptions verify;
    verify.mode = RunMode::Verify;
    verify.frequency1 = frequency1;
    verify.frequency2 = frequency2;
    verify.onMs = profile.onMs;
    verify.offMs = profile.offMs;
    verify.waitMs = waitMs;
    const uint32_t tenCycles = static_cast<uint32_t>(profile.onMs + profile.offMs) * (RunControl::kFoundCount + 3);
    verify.answeredMs = std::clamp<uint32_t>(tenCycles, 10000, 60000);
    DetectionRun confirmed;
    if (RunFailed(RunDetection(session, verify, false, confirmed, [](const DetectionRun& run) { return run.Found(); }),
                  arguments, console, code))
        return code;

    const bool verified = confirmed.Found();
    if (arguments.json) {
        nlohmann::ordered_json json;
        json["frequencies_hz"] = profile.frequencies;
        json["on_ms"] = profile.onMs;
        json["off_ms"] = profile.offMs;
        json["period_ms"] = periodMs;
        json["tone_list"] = ToneListText(profile);
        json["busy_line"] = BusyToneLine(profile);
        json["verified"] = verified;
        json["count"] = confirmed.count;
        json["block_bytes"] = report.blockBytes;
        json["candidates"] = ReportJson(report)["candidates"];
        PrintJson(console, json);
    } else {
        std::string line = "Busy tone:";
        for (size_t i = 0; i < profile.frequencies.size(); ++i)
            line += (i ? " + " : " ") + std::to_string(profile.frequencies[i]) + " Hz";
        std::fprintf(console.Out(), "%s, %d ms on, %d ms off (%s, count %d)\n%s\n", line.c_str(), profile.onMs,
                     profile.offMs, verified ? "verified" : "NOT verified", confirmed.count,
                     BusyToneLine(profile).c_str());
        std::fflush(console.Out());
    }
    if (!verified) {
        console.Error("Verify Mode did not confirm the learnt tone");
        return kExitNoTone;
    }
    return kExitDone;
}

} // namespace parvane::cli
