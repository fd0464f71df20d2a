#include "cli/AnalysisReport.h"

#include "app/RunControl.h"
#include "audio/AnalysisOutput.h"
#include "audio/SpectrumAnalysis.h"
#include "cli/Console.h"
#include "cli/LinePlot.h"
#include "vexlin/BusyToneDetector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace parvane::cli {

namespace {

int Median(std::vector<int> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string Hz(double frequency)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f Hz", frequency);
    return text;
}

} // namespace

std::vector<int> AnalysisReport::Frequencies() const
{
    std::vector<int> whole;
    for (double frequency : tone.frequencies)
        whole.push_back(static_cast<int>(std::lround(frequency)));
    return whole;
}

ToneProfile AnalysisReport::Profile() const
{
    ToneProfile profile;
    profile.frequencies = Frequencies();
    profile.modulationHz = static_cast<int>(std::lround(tone.modulationHz));
    if (cadence)
        profile.cadence = cadence->pairs;
    return profile;
}

double AnalysisReport::BinHz() const
{
    return vexlin::BusyToneDetector::kSampleRate / (blockBytes / 4.0);
}

bool AnalysisReport::ToneLeadsMostBlocks(size_t samples) const
{
    long held = 0;
    for (const Candidate& candidate : candidates) {
        if (std::any_of(tone.frequencies.begin(), tone.frequencies.end(),
                        [&](double f) { return std::abs(candidate.frequencyHz - f) <= BinHz(); }))
            held += candidate.count;
    }
    return static_cast<size_t>(held) * 2 >= samples / (static_cast<size_t>(blockBytes) / 4);
}

std::vector<Candidate> CandidatesOf(const AnalysisList& frequencies)
{
    std::vector<Candidate> candidates;
    for (int row = 0; row < frequencies.GetCount(); ++row)
        candidates.push_back({std::atof(frequencies.GetText(row).c_str()), frequencies.GetItemData(row)});
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.count > b.count; });
    return candidates;
}

void SummariseChangeLog(const AnalysisList& changes, AnalysisReport& report)
{
    std::map<double, std::vector<int>> held;
    report.changes = 0;
    for (int row = 0; row < changes.GetCount(); ++row) {
        double now = 0.0, last = 0.0;
        long keep = 0;
        if (std::sscanf(changes.GetText(row).c_str(), "(%lf Hz) happened,Last Freq(%lf Hz) keep %ld ms", &now, &last,
                        &keep) != 3)
            continue;
        ++report.changes;
        // The first line of a run tells how long nothing was heard before.
        if (row > 0 || last != 0.0)
            held[last].push_back(static_cast<int>(keep));
    }
    report.held.clear();
    for (auto& [frequency, times] : held) {
        const bool candidate = std::any_of(report.candidates.begin(), report.candidates.end(),
                                           [f = frequency](const Candidate& c) { return c.frequencyHz == f; });
        if (candidate || frequency == 0.0)
            report.held.push_back({frequency, static_cast<int>(times.size()), Median(times)});
    }
    std::stable_sort(report.held.begin(), report.held.end(),
                     [](const HeldFrequency& a, const HeldFrequency& b) { return a.times > b.times; });
}

AnalysisReport BuildAnalysisReport(int blockBytes, const AnalysisList& frequencies, const AnalysisList& changes,
                                   std::span<const int16_t> mono)
{
    AnalysisReport report;
    report.blockBytes = blockBytes;
    report.candidates = CandidatesOf(frequencies);
    SummariseChangeLog(changes, report);
    std::vector<double> seeds;
    for (const Candidate& candidate : report.candidates)
        seeds.push_back(candidate.frequencyHz);
    report.tone = ToneRefinement(mono, vexlin::BusyToneDetector::kSampleRate).Refine(seeds, report.BinHz());
    const std::vector<int> whole = report.Frequencies();
    if (!whole.empty())
        report.cadence = MeasureCadence(mono, whole[0], whole.size() > 1 ? whole[1] : 0);
    return report;
}

void AnalyseRecording(std::span<const int16_t> stereo, int blockBytes, MemoryAnalysisOutput& output)
{
    SpectrumAnalysis analysis;
    analysis.SetOutput(&output);
    analysis.SetSampleRate(vexlin::BusyToneDetector::kSampleRate);
    const size_t blockSamples = static_cast<size_t>(blockBytes) / sizeof(int16_t);
    // The change log's "keep" times come from the recording's clock: the
    // millisecond at which each block begins.
    uint32_t blockStartMs = 0;
    analysis.SetTickSource([&blockStartMs] { return blockStartMs; });
    for (size_t at = 0; blockSamples > 0 && at + blockSamples <= stereo.size(); at += blockSamples) {
        blockStartMs = static_cast<uint32_t>(at / 2 * 1000 / vexlin::BusyToneDetector::kSampleRate);
        analysis.AnalyseStereoBlock(stereo.data() + at, blockBytes);
    }
}

nlohmann::ordered_json CadenceJson(const std::vector<vexlin::CadencePair>& pairs)
{
    nlohmann::ordered_json times = nlohmann::ordered_json::array();
    for (const vexlin::CadencePair& pair : pairs) {
        times.push_back(pair.onMs);
        times.push_back(pair.offMs);
    }
    return times;
}

nlohmann::ordered_json NotationsJson(const ToneProfile& profile)
{
    nlohmann::ordered_json json;
    json["tone_list"] = ToneListText(profile);
    json["busypattern"] = BusyPatternText(profile);
    json["teletone"] = TeletoneText(profile);
    return json;
}

nlohmann::ordered_json ReportJson(const AnalysisReport& report)
{
    nlohmann::ordered_json json;
    json["block_bytes"] = report.blockBytes;
    json["candidates"] = nlohmann::ordered_json::array();
    for (const Candidate& candidate : report.candidates)
        json["candidates"].push_back({{"frequency_hz", std::lround(candidate.frequencyHz)}, {"count", candidate.count}});
    json["frequencies_hz"] = report.Frequencies();
    json["modulation_hz"] = report.tone.modulationHz > 0 ? nlohmann::ordered_json(report.Profile().modulationHz)
                                                         : nlohmann::ordered_json(nullptr);
    const bool onePair = report.cadence && report.cadence->pairs.size() == 1;
    json["on_ms"] = onePair ? nlohmann::ordered_json(report.cadence->onMs) : nlohmann::ordered_json(nullptr);
    json["off_ms"] = onePair ? nlohmann::ordered_json(report.cadence->offMs) : nlohmann::ordered_json(nullptr);
    json["period_ms"] = report.cadence && !report.cadence->Continuous() ? nlohmann::ordered_json(report.cadence->periodMs)
                                                                        : nlohmann::ordered_json(nullptr);
    json["cadence_ms"] = report.cadence ? CadenceJson(report.cadence->pairs) : nlohmann::ordered_json(nullptr);
    json["continuous"] = report.cadence && report.cadence->Continuous();
    if (report.cadence) {
        json.update(NotationsJson(report.Profile()));
    } else {
        json["tone_list"] = nullptr;
        json["busypattern"] = nullptr;
        json["teletone"] = nullptr;
    }
    nlohmann::ordered_json log;
    log["changes"] = report.changes;
    log["held"] = nlohmann::ordered_json::array();
    for (const HeldFrequency& held : report.held)
        log["held"].push_back(
            {{"frequency_hz", std::lround(held.frequencyHz)}, {"times", held.times}, {"median_ms", held.medianMs}});
    json["change_log"] = log;
    return json;
}

std::string ReportText(const AnalysisReport& report)
{
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "Block size: %s (%d bytes), %.2f Hz per bin\n",
                  AnalyzeBufferText(report.blockBytes).c_str(), report.blockBytes, report.BinHz());
    text += line;
    if (report.candidates.empty()) {
        text += "Candidates: none between 100 and 900 Hz\n";
    } else {
        text += "Candidates (highest count first):\n";
        for (const Candidate& candidate : report.candidates) {
            std::snprintf(line, sizeof line, "  %8s  %ld\n", Hz(candidate.frequencyHz).c_str(), candidate.count);
            text += line;
        }
    }
    text += "Change log: " + std::to_string(report.changes) + " changes of the dominant frequency";
    if (!report.held.empty()) {
        text += "; held (median):";
        for (size_t i = 0; i < report.held.size() && i < 4; ++i)
            text += (i ? ", " : " ") + Hz(report.held[i].frequencyHz) + " " + std::to_string(report.held[i].medianMs) + " ms";
    }
    text += "\n";
    if (!report.FoundTone()) {
        text += "Tone: none found\n";
        return text;
    }
    text += "Tone:";
    const std::vector<int> whole = report.Frequencies();
    for (size_t i = 0; i < whole.size(); ++i)
        text += (i ? " + " : " ") + std::to_string(whole[i]) + " Hz";
    if (report.tone.modulationHz > 0)
        text += " modulated at " + std::to_string(report.Profile().modulationHz) + " Hz";
    text += "\n";
    if (report.cadence && report.cadence->Continuous()) {
        text += "Cadence: none, a continuous tone\n";
        text += "Tone list: " + ToneListText(report.Profile()) + "\n";
    } else if (report.cadence) {
        text += "Cadence:";
        for (size_t i = 0; i < report.cadence->pairs.size(); ++i)
            text += (i ? ", " : " ") + std::to_string(report.cadence->pairs[i].onMs) + " ms on, " +
                    std::to_string(report.cadence->pairs[i].offMs) + " ms off";
        text += " (period " + std::to_string(report.cadence->periodMs) + " ms)\n";
        text += "Tone list: " + ToneListText(report.Profile()) + "\n";
    } else {
        text += "Cadence: none found\n";
    }
    return text;
}

std::string LiveAnalysisLine(const std::string& frequencyText, const std::vector<Candidate>& candidates)
{
    constexpr size_t kShown = 3;
    const size_t colon = frequencyText.rfind(": ");
    std::string text = colon == std::string::npos ? std::string() : "now " + frequencyText.substr(colon + 2);
    for (size_t i = 0; i < candidates.size() && i < kShown; ++i) {
        char item[64];
        std::snprintf(item, sizeof item, "%.0f Hz x%ld", candidates[i].frequencyHz, candidates[i].count);
        text += (i == 0 ? (text.empty() ? "" : " | ") : ", ") + std::string(item);
    }
    return text;
}

bool PlotReport(const std::string& path, const std::string& title, const AnalysisReport& report,
                std::span<const int16_t> mono, const std::string& caption, Console& console)
{
    LinePlotData data;
    data.mono = mono;
    data.sampleRate = vexlin::BusyToneDetector::kSampleRate;
    data.title = title;
    data.toneHz = report.Frequencies();
    for (const Candidate& candidate : report.candidates)
        data.candidates.push_back({candidate.frequencyHz, candidate.count});
    data.caption = caption;
    if (data.caption.empty() && report.FoundTone())
        data.caption = BusyToneLine(report.Profile());
    std::string error;
    if (!WriteLinePlot(path, data, error)) {
        console.Error("--plot: " + error);
        return false;
    }
    return true;
}

} // namespace parvane::cli
