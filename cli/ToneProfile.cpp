#include "cli/ToneProfile.h"

#include "app/RunControl.h"
#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"

#include <algorithm>

namespace parvane::cli {

using vexlin::BusyToneDetector;
using vexlin::BusyToneRequest;
using vexlin::CadenceTracker;

int RequestedPeriod(int onMs, int offMs)
{
    return onMs == offMs ? onMs : onMs + offMs;
}

std::vector<vexlin::CadencePair> LearntCadence(const BusyToneDetector& detector)
{
    if (!detector.Found())
        return {};
    std::vector<vexlin::CadencePair> pairs = detector.Pattern();
    if (pairs.size() == 1) {
        vexlin::CadencePair& pair = pairs[0];
        if (CadenceTracker::PeriodOf(pair.onMs, pair.offMs) != pair.onMs + pair.offMs)
            pair.onMs = pair.offMs = CadenceTracker::PeriodOf(pair.onMs, pair.offMs);
    }
    return pairs;
}

BusyToneRequest RequestFor(int frequency1, int frequency2, const std::vector<vexlin::CadencePair>& cadence)
{
    BusyToneRequest request{frequency1, frequency2, 0, 0, 0};
    if (cadence.size() == 1) {
        request.periodMs = RequestedPeriod(cadence[0].onMs, cadence[0].offMs);
        if (request.periodMs > 0) {
            request.onMs = cadence[0].onMs;
            request.offMs = cadence[0].offMs;
        }
    } else {
        request.pattern = cadence;
    }
    return request;
}

std::optional<Cadence> MeasureCadence(std::span<const int16_t> mono, int frequency1, int frequency2)
{
    BusyToneDetector detector;
    if (!detector.Start({frequency1, frequency2, 0, 0, 0}))
        return std::nullopt;
    detector.Process(mono.data(), mono.size());
    if (!detector.Found()) {
        if (detector.ToneHeldMs() <= CadenceTracker::kLongestSegmentMs)
            return std::nullopt;
        Cadence continuous;
        continuous.detectedAtMs = detector.ElapsedMs() - detector.ToneHeldMs() + CadenceTracker::kLongestSegmentMs;
        return continuous;
    }
    Cadence cadence;
    cadence.pairs = LearntCadence(detector);
    if (cadence.pairs.empty())
        return std::nullopt;
    cadence.periodMs = detector.PerhapsPeriod();
    cadence.detectedAtMs = detector.FoundAtMs();
    for (const vexlin::Cycle& cycle : detector.RecentCycles())
        cadence.cycles += cycle.matched ? 1 : 0;
    cadence.onMs = cadence.pairs[0].onMs;
    cadence.offMs = cadence.pairs[0].offMs;
    return cadence;
}

DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2, int onMs, int offMs)
{
    std::vector<vexlin::CadencePair> cadence;
    if (onMs > 0 || offMs > 0)
        cadence.push_back({onMs, offMs});
    return DetectOverRecording(mono, frequency1, frequency2, cadence);
}

DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2,
                                    const std::vector<vexlin::CadencePair>& cadence)
{
    DetectionResult result;
    BusyToneDetector detector;
    if (!detector.Start(RequestFor(frequency1, frequency2, cadence))) {
        result.problem = detector.Problem();
        return result;
    }
    detector.Process(mono.data(), mono.size());
    result.count = detector.Count();
    result.libraryFound = detector.Found();
    result.found = result.libraryFound && result.count >= RunControl::kFoundCount;
    result.periodMs = detector.PerhapsPeriod();
    result.detectedAtMs = detector.FoundAtMs();
    return result;
}

namespace {

// The number of busy tones an analog channel driver waits for before it
// takes the line as busy.
constexpr int kBusyCount = 4;
// The length of one step of a continuous tone in tone-stream markup.
constexpr int kContinuousStepMs = 1000;

std::string Joined(const std::vector<int>& frequencies, const char* separator)
{
    std::string text;
    for (size_t i = 0; i < frequencies.size(); ++i)
        text += (i ? separator : "") + std::to_string(frequencies[i]);
    return text;
}

// The tone of one pair's burst in tone-list notation: "400+450", "400*25".
std::string ToneListBurst(const ToneProfile& profile, size_t pair)
{
    std::string text = Joined(profile.FrequenciesOf(pair), "+");
    if (text.empty())
        return "0";
    if (profile.modulationHz > 0)
        text += "*" + std::to_string(profile.modulationHz);
    return text;
}

// The frequencies of one pair's burst in tone-stream markup.
std::string TeletoneBurst(const ToneProfile& profile, size_t pair)
{
    const std::vector<int>& frequencies = profile.FrequenciesOf(pair);
    if (profile.modulationHz > 0 && frequencies.size() == 1)
        return Joined({frequencies[0] - profile.modulationHz, frequencies[0], frequencies[0] + profile.modulationHz},
                      ",");
    return Joined(frequencies, ",");
}

} // namespace

std::string ToneListText(const ToneProfile& profile)
{
    if (profile.cadence.empty())
        return ToneListBurst(profile, 0);
    std::string text;
    for (size_t i = 0; i < profile.cadence.size(); ++i)
        text += (i ? "," : "") + ToneListBurst(profile, i) + "/" + std::to_string(profile.cadence[i].onMs) + ",0/" +
                std::to_string(profile.cadence[i].offMs);
    return text;
}

std::string BusyToneLine(const ToneProfile& profile)
{
    return "busy = " + ToneListText(profile);
}

std::string BusyPatternText(const ToneProfile& profile)
{
    if (profile.cadence.empty())
        return "busydetect=no\n; a continuous tone has no cadence for busy detection\n";
    std::string pattern;
    for (const vexlin::CadencePair& pair : profile.cadence)
        pattern += (pattern.empty() ? "" : ",") + std::to_string(pair.onMs) + "," + std::to_string(pair.offMs);
    return "busydetect=yes\nbusycount=" + std::to_string(kBusyCount) + "\nbusypattern=" + pattern + "\n";
}

std::string TeletoneText(const ToneProfile& profile)
{
    if (profile.cadence.empty())
        return "%(" + std::to_string(kContinuousStepMs) + ",0," + TeletoneBurst(profile, 0) + ")";
    std::string text;
    for (size_t i = 0; i < profile.cadence.size(); ++i)
        text += (i ? ";%(" : "%(") + std::to_string(profile.cadence[i].onMs) + "," +
                std::to_string(profile.cadence[i].offMs) + "," + TeletoneBurst(profile, i) + ")";
    return text;
}

std::optional<ToneFormat> ParseToneFormat(const std::string& name)
{
    if (name == "tone-list")
        return ToneFormat::ToneList;
    if (name == "busypattern")
        return ToneFormat::BusyPattern;
    if (name == "teletone")
        return ToneFormat::Teletone;
    return std::nullopt;
}

std::string ToneInFormat(const ToneProfile& profile, ToneFormat format)
{
    switch (format) {
    case ToneFormat::BusyPattern:
        return BusyPatternText(profile);
    case ToneFormat::Teletone:
        return TeletoneText(profile) + "\n";
    case ToneFormat::ToneList:
        break;
    }
    return BusyToneLine(profile) + "\n";
}

} // namespace parvane::cli
