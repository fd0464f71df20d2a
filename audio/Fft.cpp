#include "audio/Fft.h"

#include <cmath>
#include <numbers>

bool IsFftSize(unsigned count)
{
    return count >= 2 && (count & (count - 1)) == 0;
}

namespace {

unsigned BitCount(unsigned count)
{
    unsigned bits = 0;
    while ((1u << bits) < count)
        ++bits;
    return bits;
}

unsigned ReverseBits(unsigned index, unsigned bits)
{
    unsigned reversed = 0;
    for (unsigned i = 0; i < bits; ++i) {
        reversed = (reversed << 1) | (index & 1);
        index >>= 1;
    }
    return reversed;
}

} // namespace

void FFT(unsigned count, bool inverse, const double* realIn, const double* imagIn, double* realOut,
         double* imagOut)
{
    if (!IsFftSize(count) || realIn == nullptr || realOut == nullptr || imagOut == nullptr)
        return;

    const unsigned bits = BitCount(count);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned j = ReverseBits(i, bits);
        realOut[j] = realIn[i];
        imagOut[j] = imagIn != nullptr ? imagIn[i] : 0.0;
    }

    const double angle = inverse ? -2.0 * std::numbers::pi : 2.0 * std::numbers::pi;
    unsigned half = 1;
    for (unsigned blockSize = 2; blockSize <= count; blockSize <<= 1) {
        // One sine and cosine pair per stage; the twiddles of a block follow
        // from x[k] = 2 cos(-delta) x[k-1] - x[k-2], so the first is 1. The
        // recurrence steps the angle by the distance between its two seeds;
        // seeding the imaginary parts with sin(2 delta), sin(delta) makes the
        // twiddles e^(-i n delta), the forward kernel e^(-2 pi i k n / N).
        const double delta = angle / blockSize;
        const double sin2 = -std::sin(-2.0 * delta);
        const double sin1 = -std::sin(-delta);
        const double cos2 = std::cos(-2.0 * delta);
        const double cos1 = std::cos(-delta);
        const double factor = 2.0 * cos1;
        for (unsigned start = 0; start < count; start += blockSize) {
            double realPrev2 = cos2, realPrev1 = cos1;
            double imagPrev2 = sin2, imagPrev1 = sin1;
            for (unsigned j = start, n = 0; n < half; ++j, ++n) {
                const double wr = factor * realPrev1 - realPrev2;
                realPrev2 = realPrev1;
                realPrev1 = wr;
                const double wi = factor * imagPrev1 - imagPrev2;
                imagPrev2 = imagPrev1;
                imagPrev1 = wi;

                const unsigned k = j + half;
                const double tr = wr * realOut[k] - wi * imagOut[k];
                const double ti = wr * imagOut[k] + wi * realOut[k];
                realOut[k] = realOut[j] - tr;
                imagOut[k] = imagOut[j] - ti;
                realOut[j] += tr;
                imagOut[j] += ti;
            }
        }
        half = blockSize;
    }

    if (inverse) {
        for (unsigned i = 0; i < count; ++i) {
            realOut[i] /= count;
            imagOut[i] /= count;
        }
    }
}
