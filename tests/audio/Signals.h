#pragma once
// Test signals: 16-bit stereo blocks of tones.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace parvane::test {

// `frames` frames of a sine on the left channel (and, when rightHz is not 0,
// another on the right), amplitude `amplitude`, starting at phase 0.
inline std::vector<int16_t> StereoTone(double leftHz, int frames, uint32_t rate = 48000, double amplitude = 8000,
                                       double rightHz = 0)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        samples[2 * i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * leftHz * t)));
        samples[2 * i + 1] = rightHz > 0
            ? static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * rightHz * t)))
            : 0;
    }
    return samples;
}

} // namespace parvane::test
