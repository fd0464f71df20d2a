#pragma once

// Complex transform of `count` points: an iterative radix-2
// decimation-in-time Cooley-Tukey FFT. `imagIn` may be null (zeros). The
// forward transform is unscaled with the kernel e^(-2*pi*i*k*n/N); the
// inverse divides by `count`. Does nothing (writes nothing) unless `count` is
// a power of two of at least 2 and realIn, realOut and imagOut are given.
// Input and output arrays must not overlap.
void FFT(unsigned count, bool inverse, const double* realIn, const double* imagIn, double* realOut,
         double* imagOut);

// True when `count` is a power of two of at least 2.
bool IsFftSize(unsigned count);
