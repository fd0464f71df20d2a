#pragma once
#include <cstdint>

// Measures the transform time of each block: a high-resolution monotonic
// counter, read at Start and at Stop.
class CPerformanceTimer {
public:
    CPerformanceTimer() { Init(); }
    // Zeroes the fields and reads the counter frequency.
    void Init();
    // Marks now.
    void Start();
    // Seconds since the last mark; also stored as the last elapsed time.
    // Now becomes the new mark.
    double Stop();
    double LastElapsed() const { return m_dLastElapsed; }

private:
    int64_t m_nCurrent = 0;
    int64_t m_nPrevious = 0;
    int64_t m_nFrequency = 0;
    double m_dLastElapsed = 0.0;
    double m_dSecondsPerCount = 0.0;
};
