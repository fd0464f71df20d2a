#pragma once
// A DTMF receiver for the exchange behind the virtual line: Goertzel filters
// at the eight DTMF frequencies over 12.5 ms blocks of what the adapter's
// output receives, and the rules a telephone exchange's receiver applies
// before it takes a block as a digit:
//   - exactly one low-group (697-941 Hz) and one high-group (1209-1633 Hz)
//     tone, each the strongest of its group by kGroupMarginDb;
//   - each tone from kQuietestDbm0 to kLoudestDbm0;
//   - twist: the high tone at most kReverseTwistDb stronger and at most
//     kNormalTwistDb weaker than the low one;
//   - the two tones carry at least kToneShare of the block's energy (speech,
//     music and noise do not).
// A digit is taken after three such blocks in a row (a tone of 40 ms always
// fills them; one of 20 ms never does), and ends after two blocks without
// it; the same digit twice needs the pause between.
//
// Levels are dBm0 of the 16-bit signal: a sine whose peak is full scale is
// +3.14 dBm0, as in G.711 coding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace parvane {

// The peak of a sine of this many dBm0, in 16-bit units.
double DtmfAmplitude(double dbm0);

class DtmfDecoder {
public:
    static constexpr double kQuietestDbm0 = -30.0;
    static constexpr double kLoudestDbm0 = 0.0;
    static constexpr double kNormalTwistDb = 8.0;
    static constexpr double kReverseTwistDb = 4.0;
    static constexpr double kGroupMarginDb = 8.0;
    static constexpr double kToneShare = 0.7;
    static constexpr uint32_t kBlocksPerSecond = 80;
    static constexpr int kDigitBlocks = 3;
    static constexpr int kGapBlocks = 2;

    explicit DtmfDecoder(uint32_t sampleRate);

    // Mono samples as they come. Each digit taken is handed to onDigit with
    // the sample (counted from the first one fed) where its first block began.
    template <typename OnDigit>
    void Process(const int16_t* mono, size_t count, OnDigit&& onDigit)
    {
        for (size_t i = 0; i < count; ++i) {
            Feed(mono[i]);
            if (m_filled == m_blockSize) {
                if (std::optional<char> digit = EndBlock())
                    onDigit(*digit, m_digitFrom);
            }
        }
    }

    // The digit a block of the last ones heard held ('\0': none), and why a
    // block was refused, for tests and trace lines.
    char LastBlockDigit() const { return m_lastBlock; }
    const std::string& LastRefusal() const { return m_refusal; }

private:
    void Feed(int16_t sample);
    // Ends a block; a digit when this block completes one.
    std::optional<char> EndBlock();
    char ClassifyBlock();

    uint32_t m_sampleRate;
    size_t m_blockSize;
    double m_coefficients[8];
    double m_s1[8] = {};
    double m_s2[8] = {};
    double m_energy = 0.0;
    size_t m_filled = 0;
    uint64_t m_blockStart = 0; // sample where the current block began

    char m_lastBlock = '\0';
    char m_candidate = '\0';
    uint64_t m_candidateFrom = 0;
    int m_candidateBlocks = 0;
    char m_held = '\0';   // the digit taken and not yet ended
    int m_missingBlocks = 0;
    uint64_t m_digitFrom = 0;
    std::string m_refusal;
};

} // namespace parvane
