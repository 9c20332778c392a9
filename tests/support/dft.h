#pragma once
// dftAt, dftMagnitude, energyShare: values of the discrete Fourier transform by its definition,
// the yardstick the tests measure spectra, filters and detectors against.
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <vector>

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

// |X[k]| of a block of 16-bit samples.
inline double dftMagnitude(const std::vector<std::int16_t>& x, int k) {
    return std::abs(dftAt(x, double(k) / double(x.size())));
}

// The share of the block's energy in bins k and N - k (Parseval).
inline double energyShare(const std::vector<std::int16_t>& x, int k) {
    double total = 0.0;
    for (auto v : x) total += double(v) * v;
    return 2.0 * std::pow(dftMagnitude(x, k), 2) / double(x.size()) / total;
}

}  // namespace kestavo::test
