#pragma once
// A busy tone as found: its frequencies and cadence, the cadence measured by
// the tone-detection library's detector, and the notations that PBX and
// gateway configurations take: a tone list ("busy = 480+620/500,0/500"),
// the busy detection settings of analog channel drivers ("busypattern=500,500")
// and tone-stream markup ("%(500,500,480,620)").

#include "vexlin/BusyToneDetector.h"
#include "vexlin/CadenceTracker.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane::cli {

struct Cadence {
    int onMs = 0;     // of the first pair
    int offMs = 0;
    int periodMs = 0; // in the detector's convention: on when on and off are alike, else on + off;
                      // of a cadence of several pairs, the whole of it
    int cycles = 0;   // whole cycles the figures come from
    // The whole cadence: one pair, or up to four; empty for a continuous tone.
    std::vector<vexlin::CadencePair> pairs;
    int64_t detectedAtMs = -1; // ms of the audio when the detector found it
    bool Continuous() const { return pairs.empty(); }
};

// Runs the detector over `mono` (48000 Hz) for the given frequencies with no
// cadence asked for, and returns the steady cadence it found: on and off as
// the medians of its recent cycles (both the period when they are alike,
// which cancels the detector's lag at the edges), or a continuous tone (no
// pairs) when the tone was held past the longest burst of any cadence.
// Nothing when it found neither.
std::optional<Cadence> MeasureCadence(std::span<const int16_t> mono, int frequency1, int frequency2);

// The cadence a detector learning one (period 0) has found so far: its
// pattern, a single pair whose on and off are alike written as their mean
// (which cancels the detector's lag at the edges); empty before it is found.
std::vector<vexlin::CadencePair> LearntCadence(const vexlin::BusyToneDetector& detector);

// The detector's request for a tone of these frequencies and cadence, as
// the library is asked on a line for one pair (the on and off times matter
// only together with a period); no pairs: learn the cadence.
vexlin::BusyToneRequest RequestFor(int frequency1, int frequency2, const std::vector<vexlin::CadencePair>& cadence);

// What the detector reports when run over `mono` as Verify Mode (on and off
// given) or Get Period would on a line.
struct DetectionResult {
    int count = 0;
    bool libraryFound = false; // the detector's own "busy tone happened"
    bool found = false;        // as the status line judges: libraryFound and count >= 10
    int periodMs = 0;          // measured
    int64_t detectedAtMs = -1; // ms of the audio when the detector found it, or -1
    std::string problem;       // why the request was refused; empty when it ran
};
DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2, int onMs, int offMs);
// The same with a cadence of one to four pairs (none: learn it).
DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2,
                                    const std::vector<vexlin::CadencePair>& cadence);

// The period passed to the detector for given on and off times: the on time
// when they are equal, else their sum (0 and 0: 0, learn it).
int RequestedPeriod(int onMs, int offMs);

struct ToneProfile {
    std::vector<int> frequencies;            // Hz
    std::vector<vexlin::CadencePair> cadence; // empty: a continuous tone
    // The rate a single frequency is modulated in amplitude at, in Hz; 0: a
    // tone of steady amplitude.
    int modulationHz = 0;
    // A cadence whose bursts differ in frequency: the frequencies of each
    // pair's burst, one entry per pair; empty when every burst has
    // `frequencies` (which then hold their mean).
    std::vector<std::vector<int>> burstFrequencies;

    // The frequencies of the burst of pair `pair`.
    const std::vector<int>& FrequenciesOf(size_t pair) const
    {
        return pair < burstFrequencies.size() ? burstFrequencies[pair] : frequencies;
    }
};

// "450/350,0/350", "480+620/500,0/500", "400/200,0/200,400/200,0/600",
// "400*25/400,0/200,400*25/400,0/2000", "425/375,0/375,420/375,0/375"; a
// continuous tone: "425".
std::string ToneListText(const ToneProfile& profile);
// "busy = " + ToneListText.
std::string BusyToneLine(const ToneProfile& profile);
// The busy detection settings of an analog channel driver, one per line:
// "busydetect=yes", "busycount=4", "busypattern=350,350" (every on and off
// time of the cadence in turn). A continuous tone has no pattern to detect.
std::string BusyPatternText(const ToneProfile& profile);
// Tone-stream markup, one "%(on,off,f1[,f2])" per pair joined by ";":
// "%(350,350,450)"; a continuous tone: "%(1000,0,425)", repeated. The
// markup has no modulation: a modulated tone is its carrier and the two
// side frequencies, "%(1000,0,375,400,425)".
std::string TeletoneText(const ToneProfile& profile);

enum class ToneFormat { ToneList, BusyPattern, Teletone };
// "tone-list", "busypattern", "teletone".
std::optional<ToneFormat> ParseToneFormat(const std::string& name);
// The tone as printed in that notation (the tone list as BusyToneLine),
// ending with a new line.
std::string ToneInFormat(const ToneProfile& profile, ToneFormat format);

} // namespace parvane::cli
