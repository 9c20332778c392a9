// tfft, the monitor's spectrum inverter: blocks pass unchanged without inversion, and with it a tone
// lands on the mirrored bin, measured by a direct DFT of the output (a cosine of amplitude A on a bin
// of an N-sample block has |X| = A N / 2).
#include "dsp/spectrum_inverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "support/dft.h"

namespace kestavo::dsp {
namespace {

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
    // N = 1024: 1000 Hz gives s = round(1024 x 1000 / 11025) = 93 bins. Output bin b < s - 1 takes
    // input bin s - 1 - b, the others input bin b + H - s (H = 512; bins above H are the mirror image
    // N - k): so 20 -> 72, 200 (= 824) -> 405, 511 -> 92. 1 Hz rounds to s = 0, mirroring the band.
    struct Case {
        int hertz, shift, bin, to;
    };
    for (const Case& c :
         {Case{1000, 93, 20, 72}, Case{1000, 93, 200, 405}, Case{1000, 93, 511, 92}, Case{1, 0, 93, 419}}) {
        tfft f(1024, 16);
        f.SetInversionFrequency(c.hertz);
        ASSERT_EQ(f.ShiftBins(), c.shift);
        f.SetInversion(true);
        std::vector<std::int16_t> out(1024);
        for (int i = 0; i < 1024; ++i)
            out[std::size_t(i)] =
                std::int16_t(std::lround(0.25 * 32767.0 * std::cos(2.0 * std::numbers::pi * c.bin * i / 1024)));
        f.ProcessBlock(std::as_writable_bytes(std::span(out)));
        const double expected = 0.25 * 32767.0 * 512.0;  // A N / 2 (A a quarter of full scale: 511 -> 92 and 94 add up)
        EXPECT_NEAR(std::abs(test::dftAt(out, c.to / 1024.0)), expected, 0.01 * expected) << c.bin;
        for (int k : {c.bin, c.to - 1, c.to + 1, 300})
            if (k != c.to) {
                EXPECT_LT(std::abs(test::dftAt(out, k / 1024.0)), 1e-3 * expected) << c.bin << " at " << k;
            }
    }
}

TEST(tfft, ShiftIsRoundedAndLimitedToHalfTheBlockAndBadSizesAreRejected) {
    for (auto [hertz, shift] : {std::pair{5000, 464}, std::pair{2000, 186}, std::pair{-5, 0}, std::pair{20000, 512}}) {
        tfft f(1024, 16);
        f.SetInversionFrequency(hertz);
        EXPECT_EQ(f.ShiftBins(), shift) << hertz;  // 1024 x 5000 / 11025 = 464.4, x 2000 = 185.8
    }
    EXPECT_THROW(tfft(1000, 16), std::invalid_argument);
    EXPECT_THROW(tfft(1024, 12), std::invalid_argument);
    EXPECT_THROW(tfft(32768, 16), std::invalid_argument);
}

}  // namespace
}  // namespace kestavo::dsp
