#pragma once
// A recording brought to the form the line audio has: 16-bit stereo at
// 48000 Hz, left sample first. The file's first channel becomes the left one
// (the one the analysis and the detector listen to), its second channel (or
// the first again, for a mono file) the right one. Other rates are converted.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace parvane::cli {

struct Recording {
    static constexpr int kRate = 48000;

    std::vector<int16_t> stereo; // interleaved frames at kRate
    int fileRate = 0;            // the file's own rate
    int fileChannels = 0;
    std::string format;          // libsndfile's name of the format, e.g. "WAV (Microsoft)"

    size_t Frames() const { return stereo.size() / 2; }
    double Seconds() const { return static_cast<double>(Frames()) / kRate; }
    // The left channel alone.
    std::vector<int16_t> Left() const;
};

// Longest recording taken, in seconds of audio.
inline constexpr int kLongestRecordingSeconds = 3600;

// Reads any file libsndfile reads. False with a message naming the file and
// what is wrong with it: missing or unreadable, empty, not audio, truncated
// (the header announces more audio than the file holds, or decoding stops
// early), too long, or without a single frame.
bool LoadRecording(const std::string& path, Recording& recording, std::string& error);

} // namespace parvane::cli
