#pragma once
// The frequencies of a busy tone, finer than the transform's bins.
//
// The spectrum analysis names the dominant frequency of each block to the
// nearest bin (5.86 Hz with 32768-byte blocks), and only the stronger
// component of a dual tone. Here the audio itself is searched again, where
// the tone sounds:
//   1. the stretches where the tone sounds are found from the energy of
//      10 ms frames (within 10 dB of the loudest ones);
//   2. each stretch (cut to at most a second) is Hann-windowed, and the
//      power of its discrete-time Fourier transform is summed over the
//      stretches at any frequency asked for (a Goertzel filter per frequency);
//   3. the strongest peak of that power (on the grid of a zero-padded
//      transform, 0.73 Hz apart) within the bin of
//      the analysis's best candidate, searched again on finer grids and
//      interpolated, is the first component;
//   4. the strongest other peak between 100 and 900 Hz, at least 25 Hz from
//      the first, is the second component when it is at most 10 dB weaker.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace parvane::cli {

struct SampleRange {
    size_t begin = 0;
    size_t end = 0; // one past the last sample
    size_t Length() const { return end - begin; }
    bool operator==(const SampleRange&) const = default;
};

struct ToneComponents {
    // Hz, ascending; empty when no tone was found.
    std::vector<double> frequencies;
    // Strength of the weaker component below the stronger one, in dB (0 for
    // a single tone).
    double twistDb = 0.0;
};

class ToneRefinement {
public:
    static constexpr int kFrameMs = 10;
    static constexpr double kOnWithinDb = 10.0;       // of the loud reference
    static constexpr double kQuietestToneDbfs = -55.0; // peak level of a sine
    static constexpr int kShortestStretchMs = 60;
    static constexpr int kLongestStretchMs = 1000;
    static constexpr int kSearchedToneMs = 4000;      // at most this much tone is searched
    static constexpr double kSeedSpanHz = 8.0;         // at least this far around a candidate
    static constexpr double kGridMarginHz = 10.0;
    static constexpr double kLowestHz = 100.0;
    static constexpr double kHighestHz = 900.0;
    static constexpr double kComponentsApartHz = 25.0;
    static constexpr double kMaximumTwistDb = 10.0;
    static constexpr unsigned kPaddedPoints = 65536; // longer than the longest stretch

    // Stretches of `mono` where a tone (or anything as loud) sounds, trimmed
    // by a frame at each end and cut to at most kLongestStretchMs.
    static std::vector<SampleRange> FindToneStretches(std::span<const int16_t> mono, int sampleRate);

    // Prepares the stretches of `mono` for the search.
    ToneRefinement(std::span<const int16_t> mono, int sampleRate);

    bool HasTone() const { return !m_stretches.empty(); }
    // Windowed power at a frequency, summed over the stretches.
    double PowerAt(double frequency) const;
    // The peak of PowerAt within seed +- span, to a fraction of a hertz.
    double FindPeak(double seed, double span) const;

    // The tone's components, seeded by the analysis's candidates (highest
    // count first) whose frequencies are bins binHz wide. No candidates or
    // no tone: empty.
    ToneComponents Refine(const std::vector<double>& candidates, double binHz) const;

private:
    // Power of the zero-padded transform of each stretch, summed: bins of
    // sampleRate / kPaddedPoints hertz.
    std::vector<double> PaddedSpectrum() const;

    struct Stretch {
        std::vector<double> windowed;
    };
    int m_sampleRate;
    std::vector<Stretch> m_stretches;
};

} // namespace parvane::cli
