// The called-party hang-up detector: the host polls one sample per call, and
// a full window of 150 samples is searched for the pattern a far end going
// on-hook leaves, or counted silent.
#include "fxo/DaaControl.h"
#include "fxo/FxoLibrary.h"

#include <cstdlib>
#include <cstring>

namespace fxo {

namespace {

constexpr int kWindow = 150;
constexpr int kSilentWindowsForHangUp = 3;
constexpr uint8_t kDtmfPowerMinimum = 11; // indirect register rewritten every sample
constexpr uint8_t kSampledStatus = 25;    // direct register; bit 0 is the sample

} // namespace

bool SearchHangUpPattern(const char* window, int length)
{
    int hits = 0;
    int previous = 0;
    // Position p covers samples p+1 to p+4, all of which must lie inside the window.
    for (int p = 0; p + 4 < length;) {
        if (std::memcmp(window + p + 1, "1100", 4) == 0) {
            ++hits;
            if (std::abs(previous - p) >= 15)
                hits = 0;
            else if (hits > 10)
                return true;
            previous = p;
            p += 5;
        } else {
            p += 1;
        }
    }
    return false;
}

bool FupCalledHangUpDetect()
{
    LibraryState& state = State();
    if (!state.plugged)
        return false;
    WriteSlicIndirectRegister(kDtmfPowerMinimum, 10);
    const uint8_t sample = ReadSlicDirectRegister(kSampledStatus).value_or(kFailedRead);
    const bool one = (sample & 0x01) != 0;
    state.hangUpWindow[static_cast<size_t>(state.hangUpSampleCount)] = one ? '1' : '0';
    if (one)
        ++state.hangUpOnesCount;
    if (state.hangUpSampleCount < kWindow - 1) {
        ++state.hangUpSampleCount;
        return false;
    }
    state.hangUpSampleCount = 0;
    if (state.hangUpOnesCount != 0) {
        state.hangUpOnesCount = 0;
        return SearchHangUpPattern(state.hangUpWindow.data(), kWindow);
    }
    if (++state.hangUpSilentWindows >= kSilentWindowsForHangUp) {
        state.hangUpSilentWindows = 0;
        return true;
    }
    return false;
}

} // namespace fxo
