#include "vexlin/ToneFrameAnalyzer.h"

#include <algorithm>
#include <cmath>

namespace parvane::vexlin {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 32768.0;

int RoundUp(double value) { return static_cast<int>(std::ceil(value)); }

} // namespace

ToneFrameAnalyzer::ToneFrameAnalyzer(int sampleRate, int frequency1, int frequency2)
    : m_sampleRate(sampleRate), m_blockSamples(sampleRate / 1000)
{
    std::vector<int> frequencies{frequency1};
    if (frequency2 > 0 && frequency2 != frequency1)
        frequencies.push_back(frequency2);
    const int highest = *std::max_element(frequencies.begin(), frequencies.end());
    const int lowest = *std::min_element(frequencies.begin(), frequencies.end());

    // The window is short enough that a tone 2 % off still lands in the main
    // lobe with little loss (about 1 dB), long enough to hold two periods of
    // the lowest component and to put each of two components on a null of the
    // other's response.
    int window = std::clamp(static_cast<int>(std::lround(13000.0 / highest)), 4, 20);
    if (frequencies.size() == 2)
        window = std::max(window, std::min(100, RoundUp(2000.0 / (highest - lowest))));
    window = std::max(window, std::min(200, RoundUp(2000.0 / lowest)));
    m_windowBlocks = window;
    // The phase may turn less than half a revolution over the lag for a tone
    // 4 % off, so that what is measured is what is there.
    m_lagBlocks = std::max(1, std::min(window / 2, static_cast<int>(11250.0 / highest)));

    for (int frequency : frequencies) {
        Component component;
        component.frequency = frequency;
        const double step = 2.0 * kPi * frequency / sampleRate;
        for (int i = 0; i < m_blockSamples; ++i) {
            component.cosine.push_back(std::cos(step * i));
            component.sine.push_back(-std::sin(step * i));
        }
        component.blocks.assign(m_windowBlocks, {});
        component.windows.assign(m_lagBlocks + 1, {});
        m_components.push_back(std::move(component));
    }
    m_energies.assign(m_windowBlocks, 0.0);

    const double cutoff = std::min(120.0, lowest / 3.0);
    const double w0 = 2.0 * kPi * cutoff / sampleRate;
    const double alpha = std::sin(w0) / (2.0 * std::sqrt(0.5));
    const double a0 = 1.0 + alpha;
    m_b0 = (1.0 + std::cos(w0)) / 2.0 / a0;
    m_b1 = -(1.0 + std::cos(w0)) / a0;
    m_b2 = m_b0;
    m_a1 = -2.0 * std::cos(w0) / a0;
    m_a2 = (1.0 - alpha) / a0;
}

void ToneFrameAnalyzer::HighPass(double& x)
{
    const double y = m_b0 * x + m_b1 * m_x1 + m_b2 * m_x2 - m_a1 * m_y1 - m_a2 * m_y2;
    m_x2 = m_x1;
    m_x1 = x;
    m_y2 = m_y1;
    m_y1 = y;
    x = y;
}

void ToneFrameAnalyzer::Process(const int16_t* samples, size_t count, std::vector<Frame>& frames)
{
    for (size_t n = 0; n < count; ++n) {
        double x = samples[n];
        HighPass(x);
        m_blockEnergy += x * x;
        for (Component& c : m_components) {
            c.real += x * c.cosine[m_inBlock];
            c.imaginary += x * c.sine[m_inBlock];
        }
        if (++m_inBlock == m_blockSamples)
            frames.push_back(FinishBlock());
    }
    // After long digital silence the filter state decays into denormal
    // numbers, which are slow; they are zero for every purpose here.
    if (std::fabs(m_y1) < 1e-20 && std::fabs(m_y2) < 1e-20)
        m_y1 = m_y2 = 0;
}

ToneFrameAnalyzer::Frame ToneFrameAnalyzer::FinishBlock()
{
    const int slot = static_cast<int>(m_blocksDone % m_windowBlocks);
    const int lagSlot = static_cast<int>(m_blocksDone % (m_lagBlocks + 1));
    const int lagOldest = static_cast<int>((m_blocksDone + 1) % (m_lagBlocks + 1));
    m_energies[slot] = m_blockEnergy;
    m_blockEnergy = 0;

    Frame frame;
    double energy = 0;
    for (double e : m_energies)
        energy += e;
    const double windowSamples = static_cast<double>(m_windowBlocks) * m_blockSamples;

    double toneEnergy = 0, strongest = 0, weakest = -1;
    bool onFrequency = true;
    for (size_t i = 0; i < m_components.size(); ++i) {
        Component& c = m_components[i];
        // Refer the block's phase to the start of the stream, exactly: the
        // frequency is a whole number of Hz.
        const int64_t cycles = (static_cast<int64_t>(c.frequency) * (m_blockStart % m_sampleRate)) % m_sampleRate;
        const double phase = -2.0 * kPi * static_cast<double>(cycles) / m_sampleRate;
        c.blocks[slot] = std::complex<double>(c.real, c.imaginary) * std::polar(1.0, phase);
        c.real = c.imaginary = 0;

        std::complex<double> window;
        for (const auto& b : c.blocks)
            window += b;
        c.windows[lagSlot] = window;

        const double componentEnergy = 2.0 * std::norm(window) / windowSamples;
        toneEnergy += componentEnergy;
        strongest = std::max(strongest, componentEnergy);
        weakest = weakest < 0 ? componentEnergy : std::min(weakest, componentEnergy);

        const std::complex<double> turn = window * std::conj(c.windows[lagOldest]);
        const double offset = std::arg(turn) * 1000.0 / (2.0 * kPi * m_lagBlocks);
        if (i < 2)
            frame.offsetHz[i] = offset;
        if (std::abs(turn) <= 0 || std::fabs(offset) > kFrequencyTolerance * c.frequency)
            onFrequency = false;
    }
    m_inBlock = 0;
    m_blockStart += m_blockSamples;
    ++m_blocksDone;
    frame.settled = m_blocksDone > m_windowBlocks + m_lagBlocks;

    if (energy <= 1e-6) {
        m_toneOn = false;
        return frame;
    }
    frame.share = toneEnergy / energy;
    const double power = toneEnergy / windowSamples;
    frame.levelDbfs = power > 0 ? 10.0 * std::log10(power / (kFullScale * kFullScale / 2.0)) : -200.0;
    const bool balanced = weakest >= strongest * std::pow(10.0, -kMaximumTwistDb / 10.0);
    const double share = m_toneOn ? kHeldToneShare : kMinimumToneShare;
    const double level = m_toneOn ? kHeldLevelDbfs : kMinimumLevelDbfs;
    frame.tone = frame.settled && onFrequency && balanced && frame.share >= share && frame.levelDbfs >= level;
    m_toneOn = frame.tone;
    return frame;
}

} // namespace parvane::vexlin
