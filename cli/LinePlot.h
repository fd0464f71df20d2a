#pragma once
// A picture of what was heard on the line, for parvane-cli --plot: the
// spectrogram of 0 to 1000 Hz over time, under it the stretches where the
// tone detector heard the tone with their on and off times, the candidate
// frequencies marked with their counts beside it and the tone list as the
// caption. Written as PNG, or SVG when the file name ends in ".svg".
//
// The header is toolkit-free; the drawing (QImage/QPainter, QSvgGenerator)
// stays in LinePlot.cpp, in a library of its own, so the rest of the
// headless front end links no toolkit.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace parvane::cli {

struct PlotCandidate {
    double frequencyHz = 0.0;
    long count = 0;
};

// Milliseconds from the start of the audio; end excluded.
struct HeardStretch {
    int beginMs = 0;
    int endMs = 0;
    bool operator==(const HeardStretch&) const = default;
};

struct LinePlotData {
    std::span<const int16_t> mono; // the audio, at sampleRate
    int sampleRate = 48000;
    std::string title;              // top line, e.g. the recording's name
    std::vector<int> toneHz;        // the tone's components (one or two); none: no stretches
    std::vector<PlotCandidate> candidates; // highest count first
    std::string caption;            // the tone list, e.g. "busy = 450/350,0/350"
};

// Where the plot puts things, in pixels of the picture.
struct LinePlotLayout {
    static constexpr int kWidth = 1000;
    static constexpr int kHeight = 620;
    static constexpr double kTopHz = 1000.0;
    int spectrogramLeft = 64;
    int spectrogramTop = 44;
    int spectrogramWidth = 780;
    int spectrogramHeight = 400;
    int laneTop = 478;    // the heard stretches
    int laneHeight = 26;
    double seconds = 0.0; // the audio's length

    int X(double atSeconds) const;
    int Y(double hertz) const;
};
LinePlotLayout LayoutFor(const LinePlotData& data);

// The stretches where the tone detector's frame decision ("the requested
// tone is on the line") holds, corrected for its window lag; shorter gaps
// and tones than a few milliseconds are merged away.
std::vector<HeardStretch> HeardToneStretches(std::span<const int16_t> mono, int sampleRate,
                                             const std::vector<int>& toneHz);

// Draws and writes the picture. False with the reason in `error` (a path that
// cannot be written, no audio).
bool WriteLinePlot(const std::string& path, const LinePlotData& data, std::string& error);

} // namespace parvane::cli
