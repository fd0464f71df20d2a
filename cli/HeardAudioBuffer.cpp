#include "cli/HeardAudioBuffer.h"

#include <algorithm>

namespace parvane::cli {

void HeardAudioBuffer::Clear()
{
    m_samples.clear();
    m_dropped = 0;
}

void HeardAudioBuffer::AppendLeft(const int16_t* interleaved, size_t frames)
{
    for (size_t i = 0; i < frames; ++i)
        m_samples.push_back(interleaved[2 * i]);
    if (m_samples.size() > m_keptSamples) {
        const size_t excess = m_samples.size() - m_keptSamples;
        m_samples.erase(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(excess));
        m_dropped += excess;
    }
}

std::vector<int16_t> HeardAudioBuffer::From(uint64_t start, uint64_t* from) const
{
    const uint64_t first = std::max(start, m_dropped);
    if (from != nullptr)
        *from = first;
    if (first >= Total())
        return {};
    return {m_samples.begin() + static_cast<std::ptrdiff_t>(first - m_dropped), m_samples.end()};
}

} // namespace parvane::cli
