// tfft, the monitor's spectrum inverter: blocks pass unchanged without inversion, and with it a tone
// lands on the mirrored bin, measured by a direct DFT of the output (a cosine of amplitude A on a bin
// of an N-sample block has |X| = A N / 2).
#include "dsp/spectrum_inverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "support/dft.h"

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

TEST(tfft, BlocksComeBackUnchangedWithInversionOff) {
    std::mt19937 rng(5);
    for (auto [n, bits] : {std::pair{1024, 16}, std::pair{16384, 16}, std::pair{4096, 8}}) {
        tfft f(n, bits);
        f.SetInversionFrequency(2000);
        std::vector<std::byte> b(std::size_t(n * bits / 8));
        for (auto& v : b) v = std::byte(std::uniform_int_distribution<int>(0, 255)(rng));
        const auto original = b;
        f.ProcessBlock(b);
        EXPECT_EQ(b, original) << n << " x " << bits;
    }
}

TEST(tfft, InversionMovesAToneToItsMirroredBin) {
    // N = 1024: 1000 Hz gives s = round(1024 x 1000 / 11025) = 93 bins. Bin k < s goes to s - 1 - k,
    // bin k >= s to H - k + s (H = 512); 1 Hz rounds to s = 0, which mirrors the band: k -> H - k.
    struct Case {
        int hertz, shift, bin, to;
    };
    for (const Case& c : {Case{1000, 93, 20, 72}, Case{1000, 93, 200, 405}, Case{1, 0, 93, 419}}) {
        tfft f(1024, 16);
        f.SetInversionFrequency(c.hertz);
        ASSERT_EQ(f.ShiftBins(), c.shift);
        f.SetInversion(true);
        std::vector<std::int16_t> s(1024);
        for (int i = 0; i < 1024; ++i)
            s[std::size_t(i)] =
                std::int16_t(std::lround(0.5 * 32767.0 * std::cos(2.0 * std::numbers::pi * c.bin * i / 1024)));
        auto b = block16(s);
        f.ProcessBlock(b);
        const auto out = samples16(b);
        const double expected = 0.5 * 32767.0 * 512.0;  // A N / 2
        EXPECT_NEAR(std::abs(test::dftAt(out, c.to / 1024.0)), expected, 0.01 * expected) << c.bin;
        for (int k : {c.bin, c.to - 1, c.to + 1, 300})
            if (k != c.to) EXPECT_LT(std::abs(test::dftAt(out, k / 1024.0)), 1e-3 * expected) << c.bin << " at " << k;
    }
}

TEST(tfft, ShiftIsRoundedAndLimitedToHalfTheBlock) {
    for (auto [hertz, shift] : {std::pair{5000, 464}, std::pair{2000, 186}, std::pair{-5, 0}, std::pair{20000, 512}}) {
        tfft f(1024, 16);
        f.SetInversionFrequency(hertz);
        EXPECT_EQ(f.ShiftBins(), shift) << hertz;  // 1024 x 5000 / 11025 = 464.4, x 2000 = 185.8
    }
}

TEST(tfft, RejectsSizesThatAreNotPowersOfTwoAndOddWidths) {
    EXPECT_THROW(tfft(1000, 16), std::invalid_argument);
    EXPECT_THROW(tfft(1024, 12), std::invalid_argument);
    EXPECT_THROW(tfft(32768, 16), std::invalid_argument);
}

}  // namespace
}  // namespace kestavo::dsp
