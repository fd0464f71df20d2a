#include "vexlin/BusyToneDetector.h"

#include <algorithm>

namespace parvane::vexlin {

std::string BusyToneDetector::CheckRequest(const BusyToneRequest& request, int sampleRate)
{
    if (sampleRate < 8000 || sampleRate % 1000 != 0)
        return "sample rate " + std::to_string(sampleRate) + " Hz is not a whole number of kHz from 8 kHz up";
    if (request.frequency1 <= 0)
        return "no first frequency";
    const int half = sampleRate / 2;
    for (int frequency : {request.frequency1, request.frequency2}) {
        if (frequency == 0 && request.frequency1 > 0)
            continue; // no second frequency
        if (frequency < 0 || frequency >= half)
            return "frequency " + std::to_string(frequency) + " Hz is outside 0.." + std::to_string(half) + " Hz";
        if (frequency < kLowestFrequency)
            return "frequency " + std::to_string(frequency) + " Hz is below " + std::to_string(kLowestFrequency) + " Hz";
    }
    if (request.periodMs < 0 || request.onMs < 0 || request.offMs < 0)
        return "negative cadence time";
    if (!request.pattern.empty())
        return CadenceTracker::CheckPattern(request.pattern);
    return {};
}

bool BusyToneDetector::Start(const BusyToneRequest& request, int sampleRate)
{
    m_request = request;
    m_problem = CheckRequest(request, sampleRate);
    m_analyzer.reset();
    m_cadence = CadenceTracker({request.periodMs, request.onMs, request.offMs, request.pattern});
    m_frames.clear();
    m_elapsedMs = 0;
    if (!m_problem.empty())
        return false;
    m_sampleRate = sampleRate;
    m_analyzer = std::make_unique<ToneFrameAnalyzer>(sampleRate, request.frequency1, request.frequency2);
    return true;
}

void BusyToneDetector::Discontinuity(size_t lostSamples)
{
    if (!m_analyzer)
        return;
    m_analyzer = std::make_unique<ToneFrameAnalyzer>(m_sampleRate, m_request.frequency1, m_request.frequency2);
    const size_t lostMs = (lostSamples + m_sampleRate / 2000) / (m_sampleRate / 1000);
    m_cadence.SkipFrame();
    for (size_t ms = 1; ms < lostMs; ++ms)
        m_cadence.SkipFrame();
    m_elapsedMs += static_cast<int64_t>(std::max<size_t>(lostMs, 1));
}

void BusyToneDetector::Process(const int16_t* samples, size_t count)
{
    if (!m_analyzer || samples == nullptr)
        return;
    m_frames.clear();
    m_analyzer->Process(samples, count, m_frames);
    for (const auto& frame : m_frames) {
        ++m_elapsedMs;
        if (frame.settled)
            m_cadence.AddFrame(frame.tone);
        else
            m_cadence.SkipFrame();
    }
}

void BusyToneDetector::ProcessChannel(const int16_t* interleaved, size_t frames, int channels, int channel)
{
    if (interleaved == nullptr || channels <= 0 || channel < 0 || channel >= channels)
        return;
    int16_t mono[1024];
    while (frames > 0) {
        const size_t chunk = std::min(frames, sizeof mono / sizeof mono[0]);
        for (size_t i = 0; i < chunk; ++i)
            mono[i] = interleaved[i * channels + channel];
        Process(mono, chunk);
        interleaved += chunk * channels;
        frames -= chunk;
    }
}

} // namespace parvane::vexlin
