// TVOX on a voice-like signal, silence, steady tones and noise; tfft256 against a direct DFT.
#include "dsp/voice_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "dsp/sliding_fft.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;

struct Decisions {
    std::vector<std::size_t> starts;  // samples that returned 1
    std::vector<std::size_t> stops;   // samples that returned 0
};

Decisions run(TVOX& v, const Signal& s, std::size_t offset = 0) {
    Decisions d;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const int r = v.Process(s[n]);
        if (r == 1) d.starts.push_back(offset + n);
        if (r == 0) d.stops.push_back(offset + n);
    }
    return d;
}

constexpr std::size_t kFrame = 64;  // samples per frame

TEST(TVOX, StartsWithinASecondOfVoiceAtLoudAndQuietLevels) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        for (double peak : {0.9, 0.3, 0.03}) {
            TVOX v;
            v.SetStopTime(15.0);
            const Decisions d = run(v, test::speechLike(4.0, peak, seed));
            ASSERT_FALSE(d.starts.empty()) << "seed " << seed << " peak " << peak;
            EXPECT_LT(d.starts.front(), test::samplesOf(1000.0)) << "seed " << seed << " peak " << peak;
            EXPECT_TRUE(d.stops.empty());
        }
    }
}

TEST(TVOX, NeverStartsOnSilenceSteadyTonesOrNoise) {
    const std::size_t fiveSeconds = test::samplesOf(5000.0);  // 860 frames, 172 group decisions
    {
        TVOX v;
        EXPECT_TRUE(run(v, test::silence(fiveSeconds)).starts.empty());
    }
    // Bin-centred, between-bin (926 Hz = bin 21.5) and near the 1335 Hz peak limit.
    for (double hz : {300.0, 440.0, 926.0, 1000.0, 1314.0, 2000.0, 3000.0}) {
        for (double amplitude : {0.5, 0.01}) {
            TVOX v;
            EXPECT_TRUE(run(v, test::tone(hz, amplitude, fiveSeconds)).starts.empty()) << hz << " Hz " << amplitude;
        }
    }
    for (double dbfs : {-10.0, -40.0}) {
        TVOX v;
        EXPECT_TRUE(run(v, test::noise(test::amplitudeOf(dbfs), fiveSeconds, 21)).starts.empty()) << dbfs;
    }
}

TEST(TVOX, StopsWithinTheClearingAndOneHangPeriodAfterVoiceEnds) {
    // A stop needs 513 frames without a positive decision (the clearing), then the next hang check,
    // which comes every Limit = round(1.0 x 430.66) = 431 frames. The last positive decision comes no
    // later than the frame covering the end of the voice (4 frames) and no earlier than the last start.
    TVOX v;
    v.SetStopTime(1.0);
    Signal s = test::speechLike(3.0, 0.5, 7);
    const std::size_t voiceEnd = s.size();
    test::append(s, test::silence(test::samplesOf(10000.0)));
    const Decisions d = run(v, s);
    ASSERT_FALSE(d.starts.empty());
    ASSERT_EQ(d.stops.size(), 1u);
    EXPECT_GE(d.stops[0], d.starts.back() + 514 * kFrame);
    EXPECT_LE(d.stops[0], voiceEnd + (4 + 513 + 431 + 1) * kFrame);
}

TEST(TVOX, StopDelayZeroEndsSpeechRightAfterTheClearing) {
    TVOX v;
    v.SetStopTime(0.0);
    Signal s = test::speechLike(3.0, 0.5, 8);
    const std::size_t voiceEnd = s.size();
    test::append(s, test::silence(test::samplesOf(5000.0)));
    const Decisions d = run(v, s);
    ASSERT_FALSE(d.starts.empty());
    ASSERT_EQ(d.stops.size(), 1u);
    EXPECT_GE(d.stops[0], d.starts.back() + 514 * kFrame);
    EXPECT_LE(d.stops[0], voiceEnd + (4 + 514) * kFrame);
}

TEST(TVOX, StartsAgainOnNewVoiceAfterAStop) {
    TVOX v;
    v.SetStopTime(0.5);
    Signal s = test::speechLike(2.0, 0.5, 9);
    test::append(s, test::silence(test::samplesOf(6000.0)));
    const std::size_t again = s.size();
    test::append(s, test::speechLike(2.0, 0.5, 10));
    const Decisions d = run(v, s);
    ASSERT_EQ(d.stops.size(), 1u);
    ASSERT_FALSE(d.starts.empty());
    EXPECT_GE(d.starts.back(), again);
}

TEST(TVOX, ResetReturnsToSilent) {
    TVOX v;
    v.SetStopTime(0.0);
    (void)run(v, test::speechLike(2.0, 0.5, 11));
    v.Reset();
    EXPECT_TRUE(run(v, test::silence(test::samplesOf(8000.0))).stops.empty());  // nothing to stop
}

TEST(tfft256, FramesEvery64SamplesMatchTheDirectDftOfTheWeightedWindow) {
    tfft256 f(256);
    const Signal s = test::mixedLineSound(0.2, 3);
    const double w = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * 64.0 / 255.0);  // one weight per frame
    int frames = 0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const bool frame = f.AddSample(s[n]);
        ASSERT_EQ(frame, (n + 1) % 64 == 0) << n;
        if (!frame || n + 1 < 256) continue;
        ++frames;
        for (int k = 0; k < 256; k += 5) {
            std::complex<double> sum = 0.0;
            for (int i = 0; i < 256; ++i)
                sum += s[n + 1 - 256 + std::size_t(i)] * w * std::polar(1.0, -2.0 * std::numbers::pi * k * i / 256.0);
            EXPECT_NEAR(f.Re(k), sum.real(), 1e-9) << k;
            EXPECT_NEAR(f.Im(k), sum.imag(), 1e-9) << k;
        }
    }
    EXPECT_GT(frames, 20);
}

TEST(tfft256, RejectsSizesThatAreNotPowersOfTwo) {
    EXPECT_THROW(tfft256(300), std::invalid_argument);
    EXPECT_NO_THROW(tfft256(512));
}

}  // namespace
}  // namespace kestavo::dsp
