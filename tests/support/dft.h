#pragma once
// dftAt: one value of the discrete-time Fourier transform by its definition, the yardstick the DSP
// tests measure spectra, filters and detectors against.
#include <complex>
#include <cstddef>
#include <numbers>

namespace kestavo::test {

// X(f) = sum over n of x[n] e^(-i 2 pi f n), f in cycles per sample (bin k of N samples: f = k / N).
// A cosine of amplitude A on bin k of an N-sample block gives |X| = A N / 2.
template <typename Samples>
[[nodiscard]] std::complex<double> dftAt(const Samples& x, double cyclesPerSample) {
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < std::size(x); ++n)
        sum += double(x[n]) * std::polar(1.0, -2.0 * std::numbers::pi * cyclesPerSample * double(n));
    return sum;
}

}  // namespace kestavo::test
