#include "cli/ToneProfile.h"

#include "app/RunControl.h"
#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"

#include <algorithm>

namespace parvane::cli {

using vexlin::BusyToneDetector;
using vexlin::BusyToneRequest;
using vexlin::CadenceTracker;

namespace {

int Median(std::vector<int> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2] + 1) / 2;
}

} // namespace

int RequestedPeriod(int onMs, int offMs)
{
    return onMs == offMs ? onMs : onMs + offMs;
}

std::optional<Cadence> MeasureCadence(std::span<const int16_t> mono, int frequency1, int frequency2)
{
    BusyToneDetector detector;
    if (!detector.Start({frequency1, frequency2, 0, 0, 0}))
        return std::nullopt;
    detector.Process(mono.data(), mono.size());
    if (!detector.Found())
        return std::nullopt;
    std::vector<int> on, off;
    for (const vexlin::Cycle& cycle : detector.RecentCycles()) {
        if (cycle.onMs >= CadenceTracker::kShortestSegmentMs && cycle.offMs >= CadenceTracker::kShortestSegmentMs &&
            cycle.onMs <= CadenceTracker::kLongestSegmentMs && cycle.offMs <= CadenceTracker::kLongestSegmentMs) {
            on.push_back(cycle.onMs);
            off.push_back(cycle.offMs);
        }
    }
    if (on.empty())
        return std::nullopt;
    Cadence cadence;
    cadence.onMs = Median(on);
    cadence.offMs = Median(off);
    cadence.periodMs = detector.PerhapsPeriod();
    cadence.cycles = static_cast<int>(on.size());
    if (CadenceTracker::PeriodOf(cadence.onMs, cadence.offMs) != cadence.onMs + cadence.offMs)
        cadence.onMs = cadence.offMs = CadenceTracker::PeriodOf(cadence.onMs, cadence.offMs);
    return cadence;
}

DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2, int onMs, int offMs)
{
    DetectionResult result;
    // As the library is asked on a line: the on and off times matter only
    // together with a period.
    BusyToneRequest request{frequency1, frequency2, RequestedPeriod(onMs, offMs), 0, 0};
    if (request.periodMs > 0) {
        request.onMs = onMs;
        request.offMs = offMs;
    }
    BusyToneDetector detector;
    if (!detector.Start(request)) {
        result.problem = detector.Problem();
        return result;
    }
    detector.Process(mono.data(), mono.size());
    result.count = detector.Count();
    result.libraryFound = detector.Found();
    result.found = result.libraryFound && result.count >= RunControl::kFoundCount;
    result.periodMs = detector.PerhapsPeriod();
    return result;
}

std::string ToneListText(const ToneProfile& profile)
{
    std::string text;
    for (size_t i = 0; i < profile.frequencies.size(); ++i)
        text += (i ? "+" : "") + std::to_string(profile.frequencies[i]);
    if (text.empty())
        text = "0";
    if (profile.onMs > 0 && profile.offMs > 0)
        text += "/" + std::to_string(profile.onMs) + ",0/" + std::to_string(profile.offMs);
    return text;
}

std::string BusyToneLine(const ToneProfile& profile)
{
    return "busy = " + ToneListText(profile);
}

} // namespace parvane::cli
