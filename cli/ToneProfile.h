#pragma once
// A busy tone as found: its frequencies and cadence, the cadence measured by
// the tone-detection library's detector, and the tone-list notation that PBX
// and gateway configurations take ("busy = 480+620/500,0/500").

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace parvane::cli {

struct Cadence {
    int onMs = 0;
    int offMs = 0;
    int periodMs = 0; // in the detector's convention: on when on and off are alike, else on + off
    int cycles = 0;   // whole cycles the figures come from
};

// Runs the detector over `mono` (48000 Hz) for the given frequencies with no
// cadence asked for, and returns the steady cadence it found: on and off as
// the medians of its recent cycles (both the period when they are alike,
// which cancels the detector's lag at the edges). Nothing when it found no
// steady cadence.
std::optional<Cadence> MeasureCadence(std::span<const int16_t> mono, int frequency1, int frequency2);

// What the detector reports when run over `mono` as Verify Mode (on and off
// given) or Get Period would on a line.
struct DetectionResult {
    int count = 0;
    bool libraryFound = false; // the detector's own "busy tone happened"
    bool found = false;        // as the status line judges: libraryFound and count >= 10
    int periodMs = 0;          // measured
    std::string problem;       // why the request was refused; empty when it ran
};
DetectionResult DetectOverRecording(std::span<const int16_t> mono, int frequency1, int frequency2, int onMs, int offMs);

// The period passed to the detector for given on and off times: the on time
// when they are equal, else their sum (0 and 0: 0, learn it).
int RequestedPeriod(int onMs, int offMs);

struct ToneProfile {
    std::vector<int> frequencies; // Hz
    int onMs = 0;
    int offMs = 0;
};

// "450/350,0/350", "480+620/500,0/500"; a tone without cadence: "425".
std::string ToneListText(const ToneProfile& profile);
// "busy = " + ToneListText.
std::string BusyToneLine(const ToneProfile& profile);

} // namespace parvane::cli
