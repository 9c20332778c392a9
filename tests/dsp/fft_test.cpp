// tfft, the monitor's spectrum inverter, measured by a direct DFT of its output; and the vector kernels
// (the Goertzel banks and tfft256's butterflies, each with an AVX2 clone) against plain loops doing one
// chain or one butterfly at a time: they must agree to the last bit, so a channel decides the same on
// every machine (both sides are built without fused multiply-adds).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "dsp/frequency_inverter.h"
#include "dsp/goertzel_kernels.h"
#include "dsp/sliding_fft.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(tfft, BlocksComeBackUnchangedWithInversionOffShiftIsRoundedAndLimitedAndBadSizesAreRejected) {
    std::mt19937 rng(5);
    for (auto [n, bits] : {std::pair{1024, 16}, {16384, 16}, {4096, 8}}) {
        tfft f(n, bits);
        f.SetInversionFrequency(2000);
        std::vector<std::byte> b(std::size_t(n * bits / 8));
        for (auto& v : b) v = std::byte(std::uniform_int_distribution<int>(0, 255)(rng));
        const auto original = b;
        f.ProcessBlock(b);
        EXPECT_EQ(b, original) << n << " x " << bits;
    }
    for (auto [hertz, shift] : {std::pair{5000, 464}, {-5, 0}, {20000, 512}}) {
        tfft f(1024, 16);
        f.SetInversionFrequency(hertz);
        EXPECT_EQ(f.ShiftBins(), shift) << hertz;  // 1024 x 5000 / 11025 = 464.4
    }
    for (auto [n, bits] : {std::pair{1000, 16}, {1024, 12}, {32768, 16}})
        EXPECT_THROW(tfft(n, bits), std::invalid_argument) << n << " x " << bits;
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
            out[std::size_t(i)] = std::int16_t(std::lround(0.25 * 32767.0 * std::cos(2.0 * kPi * c.bin * i / 1024)));
        f.ProcessBlock(std::as_writable_bytes(std::span(out)));
        const double expected = 0.25 * 32767.0 * 512.0;  // A N / 2 (A a quarter of full scale: 511 -> 92 and 94 add up)
        EXPECT_NEAR(std::abs(test::dftAt(out, c.to / 1024.0)), expected, 0.01 * expected) << c.bin;
        for (int k : {c.bin, c.to - 1, c.to + 1, 300})  // none of them is c.to
            EXPECT_LT(std::abs(test::dftAt(out, k / 1024.0)), 1e-3 * expected) << c.bin << " at " << k;
    }
}

TEST(GoertzelKernels, BanksMatchOneChainAtATimeToTheLastBit) {
    for (auto [name, chains, window, kernel] : {std::tuple{"goertzel16", 16, 284, &kernels::goertzel16},
                                                std::tuple{"goertzel6", 6, 150, &kernels::goertzel6}}) {
        for (std::uint32_t seed = 1; seed <= 20; ++seed) {
            const test::Signal v = test::noise(0.3, std::size_t(window), seed);
            const test::Signal hz = test::noise(1000.0, std::size_t(chains), seed + 100);
            std::vector<double> coefs, s0(16), s1(16);
            for (double f : hz) coefs.push_back(2.0 * std::cos(2.0 * kPi * (2000.0 + f) / kLineRate));
            kernel(v.data(), coefs.data(), s0.data(), s1.data());
            for (int k = 0; k < chains; ++k) {
                double a = 0.0, b = 0.0;  // newest state and the one before
                for (double x : v) b = std::exchange(a, coefs[std::size_t(k)] * a - b + x);
                ASSERT_EQ(s0[std::size_t(k)], a) << name << " seed " << seed << " chain " << k;
                ASSERT_EQ(s1[std::size_t(k)], b) << name << " seed " << seed << " chain " << k;
            }
        }
    }
}

// Radix-2 decimation in frequency, one butterfly at a time, bins left in bit-reversed places.
void plainFft(std::vector<double>& re, std::vector<double>& im) {
    const std::size_t n = re.size();
    for (std::size_t span = n / 2, step = 1; span >= 1; span /= 2, step *= 2)
        for (std::size_t a = 0; a < n; a += (a + 1) % span == 0 ? span + 1 : 1) {
            const double angle = double(a % span * step) * (2.0 * kPi / double(n));
            const double c = std::cos(angle), s = std::sin(angle), dr = re[a] - re[a + span], di = im[a] - im[a + span];
            re[a] = re[a] + re[a + span];
            im[a] = im[a] + im[a + span];
            re[a + span] = dr * c + di * s;
            im[a + span] = di * c - dr * s;
        }
}

std::size_t bitReversed(std::size_t k, std::size_t n) {
    std::size_t r = 0;
    for (std::size_t bit = 1; bit < n; bit <<= 1, k >>= 1) r = (r << 1) | (k & 1);
    return r;
}

TEST(SlidingFftKernel, FramesMatchOneButterflyAtATimeToTheLastBitAndTheDft) {
    for (int n : {128, 256, 1024}) {
        tfft256 f(n);
        const test::Signal s = test::noise(0.3, std::size_t(4 * n), std::uint32_t(n));
        const double weight = 0.54 - 0.46 * std::cos(2.0 * kPi * 64.0 / double(n - 1));  // one weight per frame
        for (std::size_t m = 0; m < s.size(); ++m) {
            ASSERT_EQ(f.AddSample(s[m]), (m + 1) % 64 == 0) << m;
            if ((m + 1) % 64 != 0) continue;
            std::vector<double> frame(std::size_t(n), 0.0), re(std::size_t(n), 0.0), im(std::size_t(n), 0.0);
            for (int i = 0; i < n; ++i) {
                const long at = long(m) + 1 - n + i;  // zeros before the first sample
                frame[std::size_t(i)] = at < 0 ? 0.0 : s[std::size_t(at)];
                re[std::size_t(i)] = frame[std::size_t(i)] * weight;
            }
            plainFft(re, im);
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ(f.Re(k), re[bitReversed(std::size_t(k), std::size_t(n))]) << n << " bin " << k;
                ASSERT_EQ(f.Im(k), im[bitReversed(std::size_t(k), std::size_t(n))]) << n << " bin " << k;
            }
            for (int k : {0, 7, n / 2 - 1, n / 2 + 3}) {
                const auto x = weight * test::dftAt(frame, double(k) / n);
                EXPECT_NEAR(f.Re(k), x.real(), 1e-9) << n << " bin " << k;
                EXPECT_NEAR(f.Im(k), x.imag(), 1e-9) << n << " bin " << k;
            }
        }
    }
    for (int size : {64, 300, 2048}) EXPECT_THROW(tfft256{size}, std::invalid_argument) << size;  // 128 ... 1024 only
}

}  // namespace
}  // namespace kestavo::dsp
