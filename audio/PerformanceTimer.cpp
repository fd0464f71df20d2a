#include "audio/PerformanceTimer.h"

#include <chrono>

namespace {

int64_t Counter()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void CPerformanceTimer::Init()
{
    m_nCurrent = 0;
    m_nPrevious = 0;
    m_dLastElapsed = 0.0;
    m_nFrequency = 1000000000; // the counter counts nanoseconds
    m_dSecondsPerCount = 1.0 / static_cast<double>(m_nFrequency);
}

void CPerformanceTimer::Start()
{
    m_nPrevious = Counter();
}

double CPerformanceTimer::Stop()
{
    m_nCurrent = Counter();
    m_dLastElapsed = static_cast<double>(m_nCurrent - m_nPrevious) * m_dSecondsPerCount;
    m_nPrevious = m_nCurrent;
    return m_dLastElapsed;
}
