// The level chain: TlevelMeter (dB every 551 samples, 50 ms), Tshow_level (the display queue), the level
// triggers Tlevel_check and TVOXlevel_check, and Tv_agc, all on the envelope follower with attack 0.15
// (85 % of a rise in one sample) and release time constant 1000 samples; TPulseLevelMeter, the same
// follower in float with 100 samples; TVOX, the voice trigger, on voice, silence, tones and noise.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/gain_control.h"
#include "dsp/level_display_queue.h"
#include "dsp/level_meter.h"
#include "dsp/level_trigger.h"
#include "dsp/pulse_level_meter.h"
#include "dsp/voice_detector.h"
#include "dsp/voice_stop_trigger.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;

// Feeds a square wave of amplitude a (its envelope is a) for `samples`; returns the last answer.
template <typename T>
double feed(T& m, double a, int samples) {
    double v = 0.0;
    for (int i = 0; i < samples; ++i) v = m.Process(i % 2 ? a : -a);
    return v;
}

TEST(TlevelMeter, GivesTheEnvelopeInDbLimitedToMinus60OnEvery551stSampleFallingWithATimeConstantOf1000) {
    TlevelMeter m(kLineRate);
    for (int i = 1; i <= 551 * 3; ++i) ASSERT_EQ(m.Process(0.0), i % 551 == 0 ? -60.0 : kNoLevel) << i;
    for (auto [a, db] : {std::pair{1.0, 0.0}, {0.5, -6.0206}, {0.01, -40.0}, {1e-4, -60.0}}) {
        TlevelMeter steady(kLineRate);
        EXPECT_NEAR(feed(steady, a, 551), db, 1e-4) << a;
    }
    (void)feed(m, 1.0, 551);
    EXPECT_NEAR(feed(m, 0.0, 551), 20.0 * std::log10(std::exp(-551.0 / 1000.0)), 0.01);  // -4.79 dB
    m.Reset();
    EXPECT_EQ(feed(m, 0.0, 551), -60.0);
}

TEST(TPulseLevelMeter, GivesTheEnvelopeOnEveryTenthSampleRisingAtOnceAndFallingByOnePercent) {
    TPulseLevelMeter m;
    float v = 0.0f;
    for (int call = 1; call <= 30; ++call) {
        v = m.Process(call == 21 ? 0.5f : 0.0f);
        ASSERT_EQ(v != 10000.0f, call % 10 == 0) << call;
    }
    EXPECT_NEAR(v, 0.5 * 0.85 * std::pow(0.99, 9), 1e-6);  // 85 % of a rise in one sample, then 9 falls
    for (int call = 1; call <= 100; ++call) v = m.Process(0.0f);
    EXPECT_NEAR(v / (0.5 * 0.85 * std::pow(0.99, 9)), std::exp(-1.0), 0.005);  // time constant 100 samples
}

TEST(Tshow_level, ReplaysABuffersWorthFromTheOldestThenRepeatsTheNewest) {
    Tshow_level q(16384, kLineRate), tiny(100, kLineRate);  // shorter than 25 ms: still one value
    ASSERT_EQ(q.Capacity, 30);                              // 16384 / 551.25 = 29.7
    ASSERT_EQ(tiny.Capacity, 1);
    EXPECT_EQ(q.Pop(), -60.0);
    for (int i = 0; i < 30; ++i) q.Push(-i);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(q.Pop(), -i);
    EXPECT_EQ(q.Pop(), -29.0);  // caught up: the newest again
    q.Push(-1.5);               // fewer than a buffer's worth: the reader stays at the end
    EXPECT_EQ(q.Pop(), -1.5);
    tiny.Push(-3.0);
    EXPECT_EQ(tiny.Pop(), -3.0);
}

// `count` equal values; every answer but the last is kNoDecision (-1), the last is `last`.
struct LevelRun {
    bool recording;
    double level;
    int count, last;
};
template <typename T>
void expectRuns(T& t, const std::vector<LevelRun>& runs) {
    for (const LevelRun& r : runs)
        for (int i = 1; i <= r.count; ++i)
            ASSERT_EQ(t.Check(r.recording, r.level), i == r.count ? r.last : kNoDecision) << r.level << " #" << i;
}

TEST(Tlevel_check, StartsAndStopsAfterTheirWindowsOfLevelValues) {
    // Threshold -30 dB; 20 values a second; by default 74 values to start and 740 to stop. Starting
    // needs the window's mean strictly above the threshold; stopping a window of low values, of which
    // more than one (StopMinHits) must be low, tested even on the loud value that fills it.
    struct Case {
        double startSeconds, stopSeconds;  // negative: the defaults
        std::vector<LevelRun> runs;
    };
    for (const Case& c : std::vector<Case>{
             {1.0, 15.0, {{false, -20.0, 20, 1}}},
             {1.0, 15.0, {{false, -20.0, 1, -1}, {false, -30.0, 18, -1}, {false, -40.0, 1, -1}, {false, -20, 19, -1}}},
             {0.0, 15.0, {{false, -30.0, 1, -1}, {false, -29.9, 1, 1}}},
             {0.0, 1.0, {{true, -50.0, 10, -1}, {true, -10.0, 1, -1}, {true, -50.0, 20, 0}}},
             {0.0, 1.0, {{true, -50.0, 19, -1}, {true, -10.0, 1, 0}}},
             {0.0, 0.07, {{true, -50.0, 100, -1}}},
             {-1.0, -1.0, {{false, -10.0, 74, 1}, {true, -50.0, 740, 0}}}}) {
        Tlevel_check t(-30.0);
        if (c.startSeconds >= 0.0) t.SetTimes(c.startSeconds, c.stopSeconds, 1);
        SCOPED_TRACE(testing::Message() << c.startSeconds << "/" << c.stopSeconds);
        expectRuns(t, c.runs);
    }
}

TEST(TVOXlevel_check, StopsAfterTheStopDelayInSamplesOnlyWhileRecording) {
    TVOXlevel_check t(-30.0);
    t.SetTimes(1.0, 0.01, 1);  // round(110.25) = 110 samples
    expectRuns(
        t, {{false, -50, 500, -1}, {true, -50, 110, 0}, {true, -50, 50, -1}, {true, -30, 1, -1}, {true, -50, 110, 0}});
}

TEST(Tv_agc, BringsASteadyEnvelopeTo0_8FollowingARiseAtOnceAndAFallWithATimeConstantOf1000Samples) {
    for (double a : {0.08, 0.2, 0.8, 1.0}) {
        Tv_agc steady;
        EXPECT_NEAR(feed(steady, a, 200), 0.8, 1e-9) << a;
    }
    Tv_agc agc;
    feed(agc, 0.01, 2000);
    // One sample after a step to 0.5 the envelope has covered 85 % of it: 0.01 + 0.85 x 0.49.
    EXPECT_NEAR(agc.Process(0.5), 0.5 * 0.8 / (0.01 + 0.85 * 0.49), 1e-9);
    feed(agc, 0.5, 200);
    feed(agc, 0.05, 1000);  // after one time constant e^-1 of the fall is left
    EXPECT_NEAR(agc.Gain(), 0.8 / (0.05 + 0.45 * std::exp(-1.0)), 0.002);
    agc.Reset();  // unity gain again; signals at or below the -80 dB floor pass unchanged
    for (double x : test::noise(0.00002, 20000, 4)) ASSERT_EQ(agc.Process(x), x);  // peaks far below 1e-4
    EXPECT_EQ(agc.Gain(), 1.0);
}

// ---- TVOX: a frame is 64 samples; a stop needs the clearing (513 frames without a positive group
// decision) and then a hang check every Limit = round(stop delay x 430.66) frames.
constexpr std::size_t kFrame = 64;  // samples per frame

struct Decisions {
    std::vector<std::size_t> starts, stops;  // samples that answered kStartRecording, kStopRecording
};

Decisions run(TVOX& v, const Signal& s) {
    Decisions d;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (const TriggerDecision r = v.Process(s[n]); r != kNoDecision)
            (r == kStartRecording ? d.starts : d.stops).push_back(n);
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

TEST(TVOX, StopsWithinTheClearingAndOneHangPeriodAfterVoiceEndsThenStartsAgain) {
    // The last positive decision comes no later than the frame covering the end of the voice (4
    // frames) and no earlier than the last start. Limit is 431 frames for 1 s, 0 for 0 s and for a
    // negative delay (taken as 0). Reset while speaking leaves nothing to stop.
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
        EXPECT_FALSE(run(v, test::speechLike(2.0, 0.5, 10)).starts.empty()) << stopSeconds;
        v.Reset();
        EXPECT_TRUE(run(v, test::silence(test::samplesOf(8000.0))).stops.empty()) << stopSeconds;
    }
}

}  // namespace
}  // namespace kestavo::dsp
