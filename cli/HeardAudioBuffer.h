#pragma once
// The audio parvane-cli heard on the line during a run, bounded: only the
// most recent stretch is kept, while positions stay counted from the first
// sample heard, so a reader that follows the audio by position (learn's
// stages) keeps working however long the run lasts.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace parvane::cli {

class HeardAudioBuffer {
public:
    static constexpr uint32_t kRate = 48000;
    // Three minutes (about 17 MB): more than the whole call learn answers.
    static constexpr size_t kKeptSamples = static_cast<size_t>(kRate) * 180;

    explicit HeardAudioBuffer(size_t keptSamples = kKeptSamples) : m_keptSamples(keptSamples) {}

    void Clear();
    // Appends the left channel of interleaved stereo frames, dropping the
    // oldest samples beyond the kept stretch.
    void AppendLeft(const int16_t* interleaved, size_t frames);

    // The kept samples, oldest first.
    std::vector<int16_t> Kept() const { return {m_samples.begin(), m_samples.end()}; }
    // The kept samples from position `start` on (nothing when fewer were
    // heard). When the samples at `start` were dropped already, they begin
    // with the oldest kept one; `from` (when given) receives the position
    // of the first sample returned.
    std::vector<int16_t> From(uint64_t start, uint64_t* from = nullptr) const;
    // Samples heard since Clear, the dropped ones included.
    uint64_t Total() const { return m_dropped + m_samples.size(); }
    uint64_t Milliseconds() const { return Total() * 1000 / kRate; }

private:
    size_t m_keptSamples;
    uint64_t m_dropped = 0; // position of the oldest kept sample
    std::deque<int16_t> m_samples;
};

} // namespace parvane::cli
