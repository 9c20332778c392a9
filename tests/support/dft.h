#pragma once
// dftMagnitude, energyShare: single bins of the N-point DFT of a block of 16-bit samples, computed
// by the definition, for tests that check a spectrum against DFT arithmetic.
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace kestavo::test {

// |X[k]|; a whole-cycle tone of amplitude A in bin k gives A x N / 2.
inline double dftMagnitude(const std::vector<std::int16_t>& x, int k) {
    std::complex<double> sum;
    for (std::size_t n = 0; n < x.size(); ++n)
        sum += double(x[n]) * std::polar(1.0, -2.0 * std::numbers::pi * double(k) * double(n) / double(x.size()));
    return std::abs(sum);
}

// The share of the block's energy in bins k and N - k (Parseval).
inline double energyShare(const std::vector<std::int16_t>& x, int k) {
    double total = 0.0;
    for (auto v : x) total += double(v) * v;
    return 2.0 * std::pow(dftMagnitude(x, k), 2) / double(x.size()) / total;
}

}  // namespace kestavo::test
