#include "vadapter/DtmfDecoder.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace parvane {

namespace {

constexpr double kFrequencies[8] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
constexpr char kKeys[4][4] = {
    {'1', '2', '3', 'A'},
    {'4', '5', '6', 'B'},
    {'7', '8', '9', 'C'},
    {'*', '0', '#', 'D'},
};
constexpr double kFullScaleDbm0 = 3.14;

double Decibels(double ratio)
{
    return ratio > 0 ? 10.0 * std::log10(ratio) : -200.0;
}

} // namespace

double DtmfAmplitude(double dbm0)
{
    return 32767.0 * std::pow(10.0, (dbm0 - kFullScaleDbm0) / 20.0);
}

DtmfDecoder::DtmfDecoder(uint32_t sampleRate)
    : m_sampleRate(sampleRate), m_blockSize(std::max<size_t>(1, sampleRate / kBlocksPerSecond))
{
    for (int i = 0; i < 8; ++i)
        m_coefficients[i] = 2.0 * std::cos(2.0 * std::numbers::pi * kFrequencies[i] / sampleRate);
}

void DtmfDecoder::Feed(int16_t sample)
{
    const double x = sample;
    for (int i = 0; i < 8; ++i) {
        const double s = x + m_coefficients[i] * m_s1[i] - m_s2[i];
        m_s2[i] = m_s1[i];
        m_s1[i] = s;
    }
    m_energy += x * x;
    ++m_filled;
}

char DtmfDecoder::ClassifyBlock()
{
    // The energy of each tone in the block: a sine of amplitude A over N
    // samples gives |X|^2 = (A N / 2)^2, and carries A^2 N / 2.
    const double n = static_cast<double>(m_blockSize);
    double energy[8];
    for (int i = 0; i < 8; ++i) {
        const double power = m_s1[i] * m_s1[i] + m_s2[i] * m_s2[i] - m_coefficients[i] * m_s1[i] * m_s2[i];
        energy[i] = 2.0 * power / n;
    }
    const auto strongest = [&](int first) {
        int best = first;
        for (int i = first; i < first + 4; ++i)
            if (energy[i] > energy[best])
                best = i;
        return best;
    };
    const int low = strongest(0);
    const int high = strongest(4);
    if (m_energy <= 0 || energy[low] <= 0 || energy[high] <= 0) {
        m_refusal = "silence";
        return '\0';
    }
    // dBm0 of a tone from its energy: the mean power A^2 / 2 against that
    // of a 0 dBm0 sine.
    const double reference = DtmfAmplitude(0.0) * DtmfAmplitude(0.0) / 2.0;
    const double lowDbm0 = Decibels(energy[low] / n / reference);
    const double highDbm0 = Decibels(energy[high] / n / reference);
    for (int group = 0; group < 2; ++group) {
        const int best = group == 0 ? low : high;
        for (int i = group * 4; i < group * 4 + 4; ++i) {
            if (i != best && Decibels(energy[best] / energy[i]) < kGroupMarginDb) {
                m_refusal = "more than one tone in a group";
                return '\0';
            }
        }
    }
    if (std::min(lowDbm0, highDbm0) < kQuietestDbm0) {
        m_refusal = "too quiet";
        return '\0';
    }
    if (std::max(lowDbm0, highDbm0) > kLoudestDbm0) {
        m_refusal = "too loud";
        return '\0';
    }
    const double twist = highDbm0 - lowDbm0;
    if (twist > kReverseTwistDb || -twist > kNormalTwistDb) {
        m_refusal = "twist";
        return '\0';
    }
    if ((energy[low] + energy[high]) < kToneShare * m_energy) {
        m_refusal = "not a pure pair of tones";
        return '\0';
    }
    m_refusal.clear();
    return kKeys[low][high - 4];
}

std::optional<char> DtmfDecoder::EndBlock()
{
    const char digit = ClassifyBlock();
    const uint64_t blockStart = m_blockStart;
    m_blockStart += m_blockSize;
    m_filled = 0;
    m_energy = 0.0;
    for (int i = 0; i < 8; ++i)
        m_s1[i] = m_s2[i] = 0.0;
    m_lastBlock = digit;

    if (m_held != '\0') {
        if (digit == m_held) {
            m_missingBlocks = 0;
            return std::nullopt;
        }
        if (++m_missingBlocks < kGapBlocks)
            return std::nullopt;
        m_held = '\0';
        m_candidate = '\0';
        m_candidateBlocks = 0;
    }
    if (digit == '\0') {
        m_candidate = '\0';
        m_candidateBlocks = 0;
        return std::nullopt;
    }
    if (digit != m_candidate) {
        m_candidate = digit;
        m_candidateFrom = blockStart;
        m_candidateBlocks = 0;
    }
    if (++m_candidateBlocks < kDigitBlocks)
        return std::nullopt;
    m_held = digit;
    m_missingBlocks = 0;
    m_digitFrom = m_candidateFrom;
    return digit;
}

} // namespace parvane
