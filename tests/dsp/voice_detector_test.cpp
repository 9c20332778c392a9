// TVOX on a voice-like signal, silence, steady tones and noise. A frame is 64 samples; a stop needs the
// clearing (513 frames without a positive group decision) and then a hang check every
// Limit = round(stop delay x 430.66) frames.
#include "dsp/voice_detector.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
constexpr std::size_t kFrame = 64;  // samples per frame

struct Decisions {
    std::vector<std::size_t> starts, stops;  // samples that answered kStartRecording, kStopRecording
};

Decisions run(TVOX& v, const Signal& s) {
    Decisions d;
    for (std::size_t n = 0; n < s.size(); ++n) {
        if (const TriggerDecision r = v.Process(s[n]); r == kStartRecording)
            d.starts.push_back(n);
        else if (r == kStopRecording)
            d.stops.push_back(n);
    }
    return d;
}

TEST(TVOX, StartsWithinASecondOfVoiceAtLoudAndQuietLevels) {
    for (std::uint32_t seed = 1; seed <= 4; ++seed)
        for (double peak : {0.9, 0.3, 0.03}) {
            TVOX v;
            v.SetStopTime(15.0);
            const Decisions d = run(v, test::speechLike(4.0, peak, seed));
            ASSERT_FALSE(d.starts.empty()) << "seed " << seed << " peak " << peak;
            EXPECT_LT(d.starts.front(), test::samplesOf(1000.0)) << "seed " << seed << " peak " << peak;
            EXPECT_TRUE(d.stops.empty());
        }
}

TEST(TVOX, NeverStartsOnSilenceSteadyTonesOrNoise) {
    const std::size_t n = test::samplesOf(5000.0);  // 860 frames, 172 group decisions
    std::vector<Signal> signals = {test::silence(n), test::noise(test::amplitudeOf(-10.0), n, 21),
                                   test::noise(test::amplitudeOf(-40.0), n, 21)};
    // Bin-centred, between-bin (926 Hz = bin 21.5) and near the 1335 Hz peak limit.
    for (double hz : {300.0, 440.0, 926.0, 1000.0, 1314.0, 2000.0, 3000.0})
        for (double amplitude : {0.5, 0.01}) signals.push_back(test::tone(hz, amplitude, n));
    for (std::size_t i = 0; i < signals.size(); ++i) {
        TVOX v;
        EXPECT_TRUE(run(v, signals[i]).starts.empty()) << "signal " << i;
    }
}

TEST(TVOX, StopsWithinTheClearingAndOneHangPeriodAfterVoiceEnds) {
    // The last positive decision comes no later than the frame covering the end of the voice (4
    // frames) and no earlier than the last start. Limit is 431 frames for 1 s, 0 for 0 s and for a
    // negative delay (taken as 0).
    for (auto [stopSeconds, limit] : {std::pair{1.0, 431}, std::pair{0.0, 0}, std::pair{-3.0, 0}}) {
        TVOX v;
        v.SetStopTime(stopSeconds);
        Signal s = test::speechLike(3.0, 0.5, 7);
        const std::size_t voiceEnd = s.size();
        test::append(s, test::silence(test::samplesOf(10000.0)));
        const Decisions d = run(v, s);
        ASSERT_FALSE(d.starts.empty()) << stopSeconds;
        ASSERT_EQ(d.stops.size(), 1u) << stopSeconds;
        EXPECT_GE(d.stops[0], d.starts.back() + 514 * kFrame) << stopSeconds;
        EXPECT_LE(d.stops[0], voiceEnd + std::size_t(4 + 514 + limit) * kFrame) << stopSeconds;
    }
}

TEST(TVOX, StartsAgainAfterAStopAndResetReturnsToSilent) {
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
    v.Reset();  // speaking when reset: afterwards there is nothing to stop
    EXPECT_TRUE(run(v, test::silence(test::samplesOf(8000.0))).stops.empty());
}

}  // namespace
}  // namespace kestavo::dsp
