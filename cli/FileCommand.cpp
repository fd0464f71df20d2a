// parvane-cli file REC: Analyze Mode's analysis over a recording, and the
// tone-detection library's detector over it, as fast as the file is read.

#include "audio/AnalysisOutput.h"
#include "cli/AnalysisReport.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Recording.h"

#include <cmath>
#include <cstdio>

namespace parvane::cli {

int RunFileCommand(const CliArguments& arguments, Console& console)
{
    Recording recording;
    std::string error;
    if (!LoadRecording(arguments.recording, recording, error)) {
        console.Error(error);
        return kExitFailed;
    }

    MemoryAnalysisOutput output;
    AnalyseRecording(recording.stereo, arguments.blockBytes, output);
    const std::vector<int16_t> mono = recording.Left();
    const AnalysisReport report = BuildAnalysisReport(arguments.blockBytes, output.frequencies, output.changes, mono);

    std::optional<DetectionResult> detection;
    if (arguments.frequency1) {
        detection = arguments.cadence.size() > 1
                        ? DetectOverRecording(mono, *arguments.frequency1, arguments.frequency2.value_or(0),
                                              arguments.cadence)
                        : DetectOverRecording(mono, *arguments.frequency1, arguments.frequency2.value_or(0),
                                              arguments.onMs.value_or(0), arguments.offMs.value_or(0));
        if (!detection->problem.empty()) {
            console.Error("the detector refuses this request: " + detection->problem);
            return kExitUsage;
        }
    }

    if (arguments.json) {
        nlohmann::ordered_json json;
        json["file"] = arguments.recording;
        json["format"] = recording.format;
        json["sample_rate"] = recording.fileRate;
        json["channels"] = recording.fileChannels;
        json["seconds"] = std::round(recording.Seconds() * 1000.0) / 1000.0;
        json.update(ReportJson(report));
        if (detection) {
            json["count"] = detection->count;
            json["found"] = detection->found;
            json["detected"] = detection->libraryFound;
            json["period_ms"] = detection->periodMs;
        }
        // When the tone was first detected: by the detector asked for it, or
        // else by the one that measured the cadence.
        const int64_t detectedAt = detection ? detection->detectedAtMs
                                             : (report.cadence ? report.cadence->detectedAtMs : -1);
        json["detected_at_ms"] = detectedAt >= 0 ? nlohmann::ordered_json(detectedAt) : nlohmann::ordered_json(nullptr);
        std::fprintf(console.Out(), "%s\n", json.dump(2).c_str());
    } else {
        std::fprintf(console.Out(), "Recording: %s (%s, %d Hz, %d channel%s, %.1f s)\n", arguments.recording.c_str(),
                     recording.format.c_str(), recording.fileRate, recording.fileChannels,
                     recording.fileChannels == 1 ? "" : "s", recording.Seconds());
        std::fputs(ReportText(report).c_str(), console.Out());
        if (detection) {
            std::string request = std::to_string(*arguments.frequency1) + " Hz";
            if (arguments.frequency2.value_or(0) > 0)
                request += " + " + std::to_string(*arguments.frequency2) + " Hz";
            if (!arguments.cadence.empty()) {
                for (const vexlin::CadencePair& pair : arguments.cadence)
                    request += ", " + std::to_string(pair.onMs) + " ms on, " + std::to_string(pair.offMs) + " ms off";
            } else if (arguments.onMs) {
                request += ", " + std::to_string(*arguments.onMs) + " ms on, " + std::to_string(*arguments.offMs) + " ms off";
            }
            std::fprintf(console.Out(), "Detector (%s): count %d, %s, measured period %d ms", request.c_str(),
                         detection->count, detection->found ? "busy tone found" : "no busy tone found",
                         detection->periodMs);
            if (detection->detectedAtMs >= 0)
                std::fprintf(console.Out(), ", detected at %.3f s", detection->detectedAtMs / 1000.0);
            std::fputs("\n", console.Out());
        }
        if (arguments.format && report.cadence)
            std::fputs(ToneInFormat(report.Profile(), *arguments.format).c_str(), console.Out());
    }
    std::fflush(console.Out());
    if (!arguments.plotPath.empty() &&
        !PlotReport(arguments.plotPath, "Recording: " + arguments.recording, report, mono, "", console))
        return kExitFailed;
    if (detection)
        return detection->found ? kExitDone : kExitNoTone;
    return report.FoundTone() ? kExitDone : kExitNoTone;
}

} // namespace parvane::cli
