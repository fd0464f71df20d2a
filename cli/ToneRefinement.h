#pragma once
// The frequencies of a busy tone, finer than the transform's bins.
//
// The spectrum analysis names the dominant frequency of each block to the
// nearest bin (5.86 Hz with 32768-byte blocks), and only the stronger
// component of a dual tone. Here the audio itself is searched again, where
// the tone sounds:
//   1. the stretches where the tone sounds are found from the energy of
//      10 ms frames (within 10 dB of the loudest ones), dips of the
//      envelope shorter than any pause bridged;
//   2. each stretch (cut to at most a second) is Hann-windowed, and the
//      power of its discrete-time Fourier transform is summed over the
//      stretches at any frequency asked for (a Goertzel filter per frequency);
//   3. the strongest peak of that power (on the grid of a zero-padded
//      transform, 0.73 Hz apart) within the bin of
//      the analysis's best candidate, searched again on finer grids and
//      interpolated, is the first component;
//   4. a tone modulated in amplitude shows its carrier there, with a side
//      frequency at the modulation's distance either side: two peaks of
//      like strength, weaker than the carrier and at most 20 dB under it
//      (a depth of 20 % or more). Such a tone is the carrier and the
//      modulation, and has no second component;
//   5. otherwise the strongest other peak between 100 and 900 Hz, at least
//      20 Hz from the first, is the second component when it is at most
//      10 dB weaker (two components 25 Hz apart beat at 25 Hz, which the
//      stretches of step 1 bridge).

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
    // The rate the single component is modulated in amplitude at, in Hz; 0
    // for a tone of steady amplitude.
    double modulationHz = 0.0;
};

class ToneRefinement {
public:
    static constexpr int kFrameMs = 10;
    static constexpr double kOnWithinDb = 10.0;       // of the loud reference
    static constexpr double kQuietestToneDbfs = -55.0; // peak level of a sine
    static constexpr int kShortestStretchMs = 60;
    // Dips of the envelope up to this long are bridged; the shortest pause
    // of a cadence in use is about three times as long.
    static constexpr int kBridgedDipMs = 50;
    static constexpr int kLongestStretchMs = 1000;
    static constexpr int kSearchedToneMs = 4000;      // at most this much tone is searched
    static constexpr double kSeedSpanHz = 8.0;         // at least this far around a candidate
    static constexpr double kGridMarginHz = 10.0;
    static constexpr double kLowestHz = 100.0;
    static constexpr double kHighestHz = 900.0;
    static constexpr double kComponentsApartHz = 20.0;
    // Modulation rates looked for, and how the side frequencies must look.
    static constexpr double kLowestModulationHz = 10.0;
    static constexpr double kHighestModulationHz = 60.0;
    static constexpr double kWeakestSideDb = 20.0; // under the carrier
    static constexpr double kSidesAlikeDb = 6.0;
    static constexpr double kSidesEvenHz = 1.5;
    static constexpr double kPeakSlopeHz = 1.0;
    static constexpr double kMaximumTwistDb = 10.0;
    static constexpr unsigned kPaddedPoints = 65536; // longer than the longest stretch

    // Stretches of `mono` where a tone (or anything as loud) sounds, trimmed
    // by a frame at each end and cut to at most kLongestStretchMs.
    static std::vector<SampleRange> FindToneStretches(std::span<const int16_t> mono, int sampleRate);

    // Prepares the stretches of `mono` for the search.
    ToneRefinement(std::span<const int16_t> mono, int sampleRate);
    // Prepares the given stretches of `mono` instead.
    ToneRefinement(std::span<const int16_t> mono, int sampleRate, const std::vector<SampleRange>& stretches);

    // The frequency of each burst of a tone with one component near `seed`,
    // in the order heard, each burst searched on its own; empty when a
    // burst is longer than a stretch (a continuous tone, long bursts).
    static std::vector<double> BurstFrequencies(std::span<const int16_t> mono, int sampleRate, double seed);

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
    // The modulation rate of a carrier (step 4), or 0.
    double FindModulation(double carrier, double carrierPower) const;
    // PowerAt falls off either side of the frequency.
    bool IsPeak(double frequency) const;

    struct Stretch {
        std::vector<double> windowed;
    };
    int m_sampleRate;
    std::vector<Stretch> m_stretches;
};

} // namespace parvane::cli
