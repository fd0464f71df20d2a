#pragma once
// What an Analyze run (on a line or over a recording) found: the candidate
// list and count list the spectrum analysis wrote, a summary of its change
// log, the tone's refined frequencies and the cadence the detector measures
// in the same audio.

#include "cli/ToneProfile.h"
#include "cli/ToneRefinement.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane {
class AnalysisList;
class MemoryAnalysisOutput;
} // namespace parvane

namespace parvane::cli {

struct Candidate {
    double frequencyHz = 0.0;
    long count = 0;
};

// How long a dominant frequency lasted each time, from the change log.
struct HeldFrequency {
    double frequencyHz = 0.0;
    int times = 0;
    int medianMs = 0;
};

struct AnalysisReport {
    int blockBytes = 0;
    std::vector<Candidate> candidates; // highest count first
    int changes = 0;
    std::vector<HeldFrequency> held;   // the candidates' and 0 Hz's, most frequent first
    ToneComponents tone;
    std::optional<Cadence> cadence;

    bool FoundTone() const { return !tone.frequencies.empty(); }
    // The refined frequencies, rounded to whole hertz.
    std::vector<int> Frequencies() const;
    ToneProfile Profile() const;
    // The width of one bin of the analysis's blocks.
    double BinHz() const;
    // Whether the blocks whose strongest frequency is one of the tone's
    // (within a bin) are at least half of those in `samples` of mono audio.
    bool ToneLeadsMostBlocks(size_t samples) const;
};

// The candidates of the analysis's lists, highest count first (rows with the
// same count in list order). Each row's count is its item data.
std::vector<Candidate> CandidatesOf(const AnalysisList& frequencies);

// Summary of the change-log lines "(%.0f Hz) happened,Last Freq(%.0f Hz) keep
// %ld ms"; lines of another form are skipped.
void SummariseChangeLog(const AnalysisList& changes, AnalysisReport& report);

// Fills the report from the analysis's lists and the audio the analysis
// heard (mono at 48000 Hz).
AnalysisReport BuildAnalysisReport(int blockBytes, const AnalysisList& frequencies, const AnalysisList& changes,
                                   std::span<const int16_t> mono);

// Runs the spectrum analysis over the frames of a 48000 Hz stereo recording
// in blocks of blockBytes (a partial last block is left out, as capture
// never delivers one), timing its change log by the recording's own clock.
void AnalyseRecording(std::span<const int16_t> stereo, int blockBytes, MemoryAnalysisOutput& output);

// A cadence as JSON: every on and off time in turn ([350, 350]).
nlohmann::ordered_json CadenceJson(const std::vector<vexlin::CadencePair>& pairs);
// "tone_list", "busypattern" and "teletone" of a tone.
nlohmann::ordered_json NotationsJson(const ToneProfile& profile);

// The JSON members shared by analyze and file.
nlohmann::ordered_json ReportJson(const AnalysisReport& report);
// The text shared by analyze and file.
std::string ReportText(const AnalysisReport& report);

// The live part of an Analyze run's progress line: "now 451 Hz | 451 Hz
// x12, 445 Hz x3, 457 Hz x1" from the frequency label ("<label>: 451 Hz")
// and the candidates, highest count first (the first three are named).
std::string LiveAnalysisLine(const std::string& frequencyText, const std::vector<Candidate>& candidates);

class Console;
// --plot: draws the audio the report came from with its candidates, the
// stretches where the tone was heard and `caption` (empty: the report's own
// tone list). False, with the reason on the console, when it cannot.
bool PlotReport(const std::string& path, const std::string& title, const AnalysisReport& report,
                std::span<const int16_t> mono, const std::string& caption, Console& console);

} // namespace parvane::cli
