// The analysis transform against FFTW at every capture block size: time per
// block, the ratio, and how many times faster than real time the analysis
// transform runs (a block of N frames lasts N / 48000 s).

#include "audio/Fft.h"

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Seconds per call of `work`, over at least `minimum` seconds.
template <typename Work>
double SecondsPerCall(Work&& work, double minimum = 0.25)
{
    work(); // warm up
    long calls = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 8; ++i)
            work();
        calls += 8;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < minimum);
    return elapsed / calls;
}

} // namespace

int main()
{
    std::printf("Transform per block: ours (radix-2, complex, real input) vs FFTW 3 (complex and real-input plans)\n");
    std::printf("%7s %7s %12s %12s %8s %12s %8s %12s %10s\n", "bytes", "frames", "ours us", "fftw c2c us",
                "ratio", "fftw r2c us", "ratio", "block ms", "x realtime");
    std::mt19937 random(1);
    std::uniform_real_distribution<double> noise(-1000, 1000);
    bool agree = true;
    for (unsigned bytes = 512; bytes <= 65536; bytes *= 2) {
        const unsigned n = bytes / 4;
        std::vector<double> input(n), re(n), im(n);
        for (unsigned i = 0; i < n; ++i)
            input[i] = 8000 * std::sin(2 * std::numbers::pi * 450 * i / 48000.0) + noise(random);

        fftw_complex* in = fftw_alloc_complex(n);
        fftw_complex* out = fftw_alloc_complex(n);
        double* realIn = fftw_alloc_real(n);
        fftw_complex* halfOut = fftw_alloc_complex(n / 2 + 1);
        fftw_plan complexPlan = fftw_plan_dft_1d(static_cast<int>(n), in, out, FFTW_FORWARD, FFTW_MEASURE);
        fftw_plan realPlan = fftw_plan_dft_r2c_1d(static_cast<int>(n), realIn, halfOut, FFTW_MEASURE);
        for (unsigned i = 0; i < n; ++i) {
            in[i][0] = input[i];
            in[i][1] = 0;
            realIn[i] = input[i];
        }

        const double ours = SecondsPerCall([&] { FFT(n, false, input.data(), nullptr, re.data(), im.data()); });
        const double fftwComplex = SecondsPerCall([&] { fftw_execute(complexPlan); });
        const double fftwReal = SecondsPerCall([&] { fftw_execute(realPlan); });

        // Same results, within rounding.
        double worst = 0, scale = 0;
        for (unsigned k = 0; k < n; ++k) {
            worst = std::max({worst, std::abs(re[k] - out[k][0]), std::abs(im[k] - out[k][1])});
            scale = std::max(scale, std::hypot(out[k][0], out[k][1]));
        }
        if (worst > 1e-9 * scale * std::log2(n))
            agree = false;

        const double blockSeconds = n / 48000.0;
        std::printf("%7u %7u %12.2f %12.2f %8.2f %12.2f %8.2f %12.2f %10.0f\n", bytes, n, ours * 1e6,
                    fftwComplex * 1e6, ours / fftwComplex, fftwReal * 1e6, ours / fftwReal, blockSeconds * 1e3,
                    blockSeconds / ours);

        fftw_destroy_plan(complexPlan);
        fftw_destroy_plan(realPlan);
        fftw_free(in);
        fftw_free(out);
        fftw_free(realIn);
        fftw_free(halfOut);
    }
    std::printf("ratio: our time over FFTW's; x realtime: block duration over our transform time\n");
    std::printf("results %s FFTW's\n", agree ? "agree with" : "DIFFER FROM");
    return agree ? 0 : 1;
}
