// tfft, the monitor's spectrum inverter: blocks pass unchanged without inversion, and with it a tone
// lands on the mirrored bin (measured by a direct DFT of the output).
#include "dsp/spectrum_inverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace kestavo::dsp {
namespace {

std::vector<std::byte> block16(const std::vector<std::int16_t>& s) {
    std::vector<std::byte> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

std::vector<std::int16_t> samples16(const std::vector<std::byte>& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), b.size());
    return s;
}

std::vector<std::int16_t> toneBlock(int n, double bin, double amplitude) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        s[std::size_t(i)] =
            std::int16_t(std::lround(amplitude * 32767.0 * std::cos(2.0 * std::numbers::pi * bin * i / n)));
    return s;
}

// |DFT bin k| of the samples, by the definition.
double binMagnitude(const std::vector<std::int16_t>& s, int k) {
    std::complex<double> sum = 0.0;
    const double n = double(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        sum += double(s[i]) * std::polar(1.0, -2.0 * std::numbers::pi * k * double(i) / n);
    return std::abs(sum);
}

TEST(tfft, BlocksComeBackUnchangedWithInversionOff) {
    std::mt19937 rng(5);
    for (int n : {1024, 16384}) {
        tfft f(n, 16);
        f.SetInversionFrequency(2000);
        std::vector<std::int16_t> s(static_cast<std::size_t>(n));
        for (auto& v : s) v = std::int16_t(std::uniform_int_distribution<int>(-32768, 32767)(rng));
        auto b = block16(s);
        f.ProcessBlock(b);
        EXPECT_EQ(samples16(b), s) << n;
    }
    tfft f8(4096, 8);
    std::vector<std::byte> b8(4096);
    for (auto& v : b8) v = std::byte(std::uniform_int_distribution<int>(0, 255)(rng));
    const auto original = b8;
    f8.ProcessBlock(b8);
    EXPECT_EQ(b8, original);
}

TEST(tfft, InversionMovesAToneBelowThePivotToTheMirroredBin) {
    // N = 1024: 1000 Hz gives s = round(1024 x 1000 / 11025) = 93 bins; a tone at bin 20 goes to
    // bin 93 - 1 - 20 = 72.
    tfft f(1024, 16);
    f.SetInversionFrequency(1000);
    ASSERT_EQ(f.ShiftBins(), 93);
    f.SetInversion(true);
    auto b = block16(toneBlock(1024, 20, 0.5));
    f.ProcessBlock(b);
    const auto out = samples16(b);
    const double at = binMagnitude(out, 72);
    EXPECT_NEAR(at, 0.5 * 32767.0 * 512.0, 0.01 * 0.5 * 32767.0 * 512.0);  // A N / 2
    for (int k : {20, 71, 73, 100, 300}) EXPECT_LT(binMagnitude(out, k), 1e-3 * at) << k;
}

TEST(tfft, InversionMovesAToneAboveThePivotIntoTheUpperBand) {
    // Bin 200 > s = 93: it goes to bin H - k + s = 512 - 200 + 93 = 405.
    tfft f(1024, 16);
    f.SetInversionFrequency(1000);
    f.SetInversion(true);
    auto b = block16(toneBlock(1024, 200, 0.5));
    f.ProcessBlock(b);
    const auto out = samples16(b);
    const double at = binMagnitude(out, 405);
    EXPECT_GT(at, 0.99 * 0.5 * 32767.0 * 512.0);
    EXPECT_LT(binMagnitude(out, 200), 1e-3 * at);
}

TEST(tfft, PivotBelowHalfABinMirrorsTheWholeBand) {
    // s = 0: output bin b takes input bin b + H, so bin k comes out at H - k (f -> 5512.5 Hz - f).
    tfft f(1024, 16);
    f.SetInversionFrequency(1);  // 1024 / 11025 of a bin rounds to 0
    ASSERT_EQ(f.ShiftBins(), 0);
    f.SetInversion(true);
    auto b = block16(toneBlock(1024, 93, 0.5));
    f.ProcessBlock(b);
    const auto out = samples16(b);
    EXPECT_GT(binMagnitude(out, 512 - 93), 0.99 * 0.5 * 32767.0 * 512.0);
}

TEST(tfft, RejectsSizesThatAreNotPowersOfTwoAndOddWidths) {
    EXPECT_THROW(tfft(1000, 16), std::invalid_argument);
    EXPECT_THROW(tfft(1024, 12), std::invalid_argument);
    EXPECT_THROW(tfft(32768, 16), std::invalid_argument);
}

}  // namespace
}  // namespace kestavo::dsp
