#include "cli/ToneRefinement.h"

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

    const size_t shortest = static_cast<size_t>(kShortestStretchMs / kFrameMs);
    const size_t longest = static_cast<size_t>(sampleRate) * kLongestStretchMs / 1000;
    size_t f = 0;
    while (f < frames) {
        if (energy[f] < threshold) {
            ++f;
            continue;
        }
        size_t last = f;
        while (last + 1 < frames && energy[last + 1] >= threshold)
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

ToneRefinement::ToneRefinement(std::span<const int16_t> mono, int sampleRate) : m_sampleRate(sampleRate)
{
    size_t budget = static_cast<size_t>(sampleRate) * kSearchedToneMs / 1000;
    for (const SampleRange& range : FindToneStretches(mono, sampleRate)) {
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

ToneComponents ToneRefinement::Refine(const std::vector<double>& candidates, double binHz) const
{
    ToneComponents tone;
    if (!HasTone() || candidates.empty())
        return tone;

    // The spectrum on a 1 Hz grid (the main lobe of the longest stretch is
    // 4 Hz wide, so no peak falls between two points) and its local peaks.
    const double lowest = kLowestHz - kGridMarginHz, highest = kHighestHz + kGridMarginHz;
    std::vector<double> grid;
    for (double f = lowest; f <= highest; f += 1.0)
        grid.push_back(PowerAt(f));
    auto frequencyOf = [&](size_t i) { return lowest + static_cast<double>(i); };
    auto strongestPeak = [&](auto accept) {
        double best = 0.0, bestPower = 0.0;
        for (size_t i = 1; i + 1 < grid.size(); ++i) {
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
