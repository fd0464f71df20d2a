#pragma once
// Per-millisecond decision "is the requested tone on the line right now".
//
// The samples are cut into 1 ms blocks. For every requested component the
// block is correlated with that frequency (one complex product per sample,
// phase referred to the start of the stream), so the sum of the last W blocks
// is the W-millisecond discrete Fourier coefficient at that frequency, moved
// forward by one millisecond each block: a Goertzel-style filter with a 1 ms
// hop, which is what times the cadence to the millisecond.
//
// A frame holds the tone when, over its window,
//   - every requested component carries energy and none is more than
//     kMaximumTwistDb weaker than the other (balance),
//   - the components together hold at least kMinimumToneShare of all the
//     energy the frame carries (well above the rest of the band),
//   - the tone is at least kMinimumLevelDbfs strong, and
//   - each component's frequency, measured from how fast the phase of its
//     coefficient turns, lies within kFrequencyTolerance of the request
//     (a tone 2 % away passes, one 4 % away does not).
// Once a tone is on, it stays on down to kHeldToneShare and kHeldLevelDbfs:
// tones modulated in amplitude (400 Hz x 16 Hz and the like) dip below the
// thresholds of a starting tone many times a second. The two share
// thresholds lie either side of one half, so the edges of a tone are found
// where its energy fills half the window, which keeps tone-on times true.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace parvane::vexlin {

class ToneFrameAnalyzer {
public:
    static constexpr double kMinimumToneShare = 0.6;
    static constexpr double kHeldToneShare = 0.35;
    static constexpr double kHeldLevelDbfs = -60.0;
    static constexpr double kMaximumTwistDb = 10.0;
    static constexpr double kMinimumLevelDbfs = -50.0; // a sine of this peak level, relative to full scale
    static constexpr double kFrequencyTolerance = 0.03;

    // What one frame found; useful to tune and to trace.
    struct Frame {
        bool settled = false;      // the window is full of signal
        bool tone = false;
        double share = 0;          // requested components' energy / all energy
        double levelDbfs = -200;   // strength of the components together
        double offsetHz[2] = {0, 0};
    };

    // Frequencies in Hz; frequency2 == 0 asks for a single tone. The caller
    // checks that they are detectable (see BusyToneDetector::CheckRequest).
    ToneFrameAnalyzer(int sampleRate, int frequency1, int frequency2);

    // Feeds samples and appends one frame per millisecond they complete.
    void Process(const int16_t* samples, size_t count, std::vector<Frame>& frames);

    // Length of the analysis window in ms (frames lag the signal by about
    // half of it).
    int WindowMs() const { return m_windowBlocks; }

private:
    struct Component {
        double frequency = 0;
        std::vector<double> cosine;  // cos(w i), i = 0 .. block-1
        std::vector<double> sine;    // -sin(w i)
        double real = 0, imaginary = 0;       // running block sums
        std::vector<std::complex<double>> blocks;   // last W block coefficients
        std::vector<std::complex<double>> windows;  // last lag+1 window coefficients
    };

    void HighPass(double& x);
    Frame FinishBlock();

    int m_sampleRate;
    int m_blockSamples;
    int m_windowBlocks;
    int m_lagBlocks;
    std::vector<Component> m_components;

    // Second-order high-pass that keeps mains hum and the offset of the
    // converter out of the energy of the band.
    double m_b0 = 1, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_x1 = 0, m_x2 = 0, m_y1 = 0, m_y2 = 0;

    bool m_toneOn = false;         // the last frame held the tone
    int m_inBlock = 0;             // samples in the block being filled
    int64_t m_blockStart = 0;      // index of its first sample in the stream
    int64_t m_blocksDone = 0;
    double m_blockEnergy = 0;
    std::vector<double> m_energies; // last W block energies (ring)
};

} // namespace parvane::vexlin
