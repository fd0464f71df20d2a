#include "cli/ToneRefinement.h"

#include "audio/Fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace parvane::cli {

namespace {

double FromDb(double db)
{
    return std::pow(10.0, db / 10.0);
}

} // namespace

std::vector<SampleRange> ToneRefinement::FindToneStretches(std::span<const int16_t> mono, int sampleRate)
{
    std::vector<SampleRange> stretches;
    const size_t frame = static_cast<size_t>(sampleRate) * kFrameMs / 1000;
    if (frame == 0 || mono.size() < frame)
        return stretches;
    const size_t frames = mono.size() / frame;

    // Mean square of each frame, its own offset removed.
    std::vector<double> energy(frames);
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* samples = mono.data() + f * frame;
        double sum = 0.0, squares = 0.0;
        for (size_t i = 0; i < frame; ++i) {
            sum += samples[i];
            squares += static_cast<double>(samples[i]) * samples[i];
        }
        const double mean = sum / frame;
        energy[f] = squares / frame - mean * mean;
    }

    // The loud reference: the 95th percentile, so a click does not set it.
    std::vector<double> sorted = energy;
    const size_t at = std::min(frames - 1, frames * 95 / 100);
    std::nth_element(sorted.begin(), sorted.begin() + at, sorted.end());
    const double reference = sorted[at];
    const double quietest = std::pow(32768.0 * std::pow(10.0, kQuietestToneDbfs / 20.0), 2) / 2.0;
    if (reference < quietest)
        return stretches;
    const double threshold = std::max(reference / FromDb(kOnWithinDb), quietest);

    // A dip of the envelope too short for any cadence's pause belongs to
    // the tone: a tone modulated in amplitude, or two components a few
    // hertz apart that beat, falls below the threshold many times a second.
    std::vector<bool> on(frames);
    for (size_t f = 0; f < frames; ++f)
        on[f] = energy[f] >= threshold;
    const size_t bridged = static_cast<size_t>(kBridgedDipMs / kFrameMs);
    for (size_t f = 0, lastOn = SIZE_MAX; f < frames; ++f) {
        if (!on[f])
            continue;
        if (lastOn != SIZE_MAX && f - lastOn > 1 && f - lastOn - 1 <= bridged)
            std::fill(on.begin() + static_cast<std::ptrdiff_t>(lastOn) + 1, on.begin() + static_cast<std::ptrdiff_t>(f),
                      true);
        lastOn = f;
    }

    const size_t shortest = static_cast<size_t>(kShortestStretchMs / kFrameMs);
    const size_t longest = static_cast<size_t>(sampleRate) * kLongestStretchMs / 1000;
    size_t f = 0;
    while (f < frames) {
        if (!on[f]) {
            ++f;
            continue;
        }
        size_t last = f;
        while (last + 1 < frames && on[last + 1])
            ++last;
        const size_t runFrames = last - f + 1;
        if (runFrames >= shortest) {
            // A frame off each end: the tone's edges fall inside them.
            size_t begin = (f + 1) * frame;
            const size_t end = last * frame;
            while (begin + frame * shortest <= end) {
                const size_t stop = std::min(end, begin + longest);
                if (stop - begin >= frame * shortest)
                    stretches.push_back({begin, stop});
                begin = stop;
            }
        }
        f = last + 1;
    }
    return stretches;
}

ToneRefinement::ToneRefinement(std::span<const int16_t> mono, int sampleRate)
    : ToneRefinement(mono, sampleRate, FindToneStretches(mono, sampleRate))
{
}

ToneRefinement::ToneRefinement(std::span<const int16_t> mono, int sampleRate, const std::vector<SampleRange>& stretches)
    : m_sampleRate(sampleRate)
{
    size_t budget = static_cast<size_t>(sampleRate) * kSearchedToneMs / 1000;
    for (const SampleRange& range : stretches) {
        if (budget == 0)
            break;
        const size_t length = std::min(range.Length(), budget);
        budget -= length;
        Stretch stretch;
        stretch.windowed.resize(length);
        double mean = 0.0;
        for (size_t i = 0; i < length; ++i)
            mean += mono[range.begin + i];
        mean /= static_cast<double>(length);
        for (size_t i = 0; i < length; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / length);
            stretch.windowed[i] = (mono[range.begin + i] - mean) * hann;
        }
        m_stretches.push_back(std::move(stretch));
    }
}

std::vector<double> ToneRefinement::BurstFrequencies(std::span<const int16_t> mono, int sampleRate, double seed)
{
    const std::vector<SampleRange> stretches = FindToneStretches(mono, sampleRate);
    std::vector<double> frequencies;
    for (size_t i = 0; i < stretches.size(); ++i) {
        if ((i > 0 && stretches[i - 1].end == stretches[i].begin) ||
            (i + 1 < stretches.size() && stretches[i].end == stretches[i + 1].begin))
            return {};
        frequencies.push_back(ToneRefinement(mono, sampleRate, {stretches[i]}).FindPeak(seed, kSeedSpanHz));
    }
    return frequencies;
}

double ToneRefinement::PowerAt(double frequency) const
{
    const double omega = 2.0 * std::numbers::pi * frequency / m_sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double total = 0.0;
    for (const Stretch& stretch : m_stretches) {
        double s1 = 0.0, s2 = 0.0;
        for (double x : stretch.windowed) {
            const double s0 = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        total += s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    }
    return total;
}

double ToneRefinement::FindPeak(double seed, double span) const
{
    // A grid fine enough not to step over the main lobe of the longest
    // stretch (a Hann window of a second is 4 Hz wide), then finer grids
    // around the best point, then a parabola through the last three points.
    double centre = seed;
    double step = 0.5;
    double low = seed - span, high = seed + span;
    for (int round = 0; round < 3; ++round) {
        double best = centre, bestPower = -1.0;
        for (double f = low; f <= high + 1e-9; f += step) {
            const double power = PowerAt(f);
            if (power > bestPower) {
                bestPower = power;
                best = f;
            }
        }
        centre = best;
        low = centre - step;
        high = centre + step;
        step /= 5.0;
    }
    step *= 5.0;
    const double left = PowerAt(centre - step), middle = PowerAt(centre), right = PowerAt(centre + step);
    const double curve = left - 2.0 * middle + right;
    if (curve < 0.0) {
        const double shift = 0.5 * (left - right) / curve;
        if (std::abs(shift) <= 1.0)
            centre += shift * step;
    }
    return centre;
}

std::vector<double> ToneRefinement::PaddedSpectrum() const
{
    // Stretches are at most a second long, shorter than the transform.
    std::vector<double> input(kPaddedPoints), real(kPaddedPoints), imaginary(kPaddedPoints);
    std::vector<double> power(kPaddedPoints / 2, 0.0);
    for (const Stretch& stretch : m_stretches) {
        std::fill(input.begin(), input.end(), 0.0);
        std::copy_n(stretch.windowed.begin(), std::min(stretch.windowed.size(), input.size()), input.begin());
        FFT(kPaddedPoints, false, input.data(), nullptr, real.data(), imaginary.data());
        for (size_t k = 0; k < power.size(); ++k)
            power[k] += real[k] * real[k] + imaginary[k] * imaginary[k];
    }
    return power;
}

bool ToneRefinement::IsPeak(double frequency) const
{
    const double power = PowerAt(frequency);
    return power > PowerAt(frequency - kPeakSlopeHz) && power > PowerAt(frequency + kPeakSlopeHz);
}

double ToneRefinement::FindModulation(double carrier, double carrierPower) const
{
    // The pair of side frequencies at the same distance either side that is
    // strongest, on a 0.5 Hz grid of distances, then each side's own peak.
    double best = 0.0, bestPower = 0.0;
    for (double distance = kLowestModulationHz; distance <= kHighestModulationHz + 1e-9; distance += 0.5) {
        const double power = std::min(PowerAt(carrier - distance), PowerAt(carrier + distance));
        if (power > bestPower) {
            bestPower = power;
            best = distance;
        }
    }
    if (best == 0.0 || bestPower < carrierPower / FromDb(kWeakestSideDb))
        return 0.0;
    const double lower = FindPeak(carrier - best, 1.5);
    const double upper = FindPeak(carrier + best, 1.5);
    const double lowerPower = PowerAt(lower), upperPower = PowerAt(upper);
    // Both weaker than the carrier, alike, equally far from it, and peaks
    // of their own rather than the slope of the carrier's main lobe.
    if (std::max(lowerPower, upperPower) > carrierPower ||
        std::min(lowerPower, upperPower) < carrierPower / FromDb(kWeakestSideDb) ||
        std::max(lowerPower, upperPower) > std::min(lowerPower, upperPower) * FromDb(kSidesAlikeDb) ||
        std::abs((upper - carrier) - (carrier - lower)) > kSidesEvenHz || !IsPeak(lower) || !IsPeak(upper))
        return 0.0;
    return (upper - lower) / 2.0;
}

ToneComponents ToneRefinement::Refine(const std::vector<double>& candidates, double binHz) const
{
    ToneComponents tone;
    if (!HasTone() || candidates.empty())
        return tone;

    // The spectrum on the grid of a zero-padded transform (0.73 Hz apart,
    // finer than the main lobe of the longest stretch, so no peak falls
    // between two points) and its local peaks.
    const std::vector<double> grid = PaddedSpectrum();
    const double spacing = static_cast<double>(m_sampleRate) / kPaddedPoints;
    auto frequencyOf = [&](size_t i) { return spacing * static_cast<double>(i); };
    const size_t lowest = static_cast<size_t>((kLowestHz - kGridMarginHz) / spacing);
    const size_t highest = std::min(grid.size() - 1, static_cast<size_t>((kHighestHz + kGridMarginHz) / spacing));
    auto strongestPeak = [&](auto accept) {
        double best = 0.0, bestPower = 0.0;
        for (size_t i = std::max<size_t>(lowest, 1); i < highest; ++i) {
            if (grid[i] > grid[i - 1] && grid[i] >= grid[i + 1] && grid[i] > bestPower && accept(frequencyOf(i))) {
                best = frequencyOf(i);
                bestPower = grid[i];
            }
        }
        return best;
    };

    // The first component: the strongest peak within the candidate's bin.
    const double reach = std::max(kSeedSpanHz, binHz);
    double first = strongestPeak([&](double f) { return std::abs(f - candidates.front()) <= reach; });
    if (first <= 0.0)
        return tone;
    first = FindPeak(first, 1.0);
    const double firstPower = PowerAt(first);

    tone.frequencies.push_back(first);
    tone.modulationHz = FindModulation(first, firstPower);
    if (tone.modulationHz > 0.0)
        return tone;
    double second = strongestPeak([&](double f) { return std::abs(f - first) >= kComponentsApartHz; });
    if (second > 0.0) {
        second = FindPeak(second, 1.0);
        const double secondPower = PowerAt(second);
        const double twist = 10.0 * std::log10(std::max(firstPower, secondPower) / std::min(firstPower, secondPower));
        if (twist <= kMaximumTwistDb && std::abs(second - first) >= kComponentsApartHz) {
            tone.frequencies.push_back(second);
            tone.twistDb = twist;
        }
    }
    std::sort(tone.frequencies.begin(), tone.frequencies.end());
    return tone;
}

} // namespace parvane::cli
