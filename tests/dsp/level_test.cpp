#include <gtest/gtest.h>

#include <cmath>

#include "dsp/level_display_queue.h"
#include "dsp/level_meter.h"
#include "dsp/level_trigger.h"
#include "dsp/voice_stop_trigger.h"

using namespace kestavo::dsp;

TEST(LevelMeter, SilenceGivesMinus60OnEvery551stSampleAndNoValueOtherwise) {
    lm::TlevelMeter m(11025);
    for (int i = 1; i <= 551 * 3; ++i) {
        const double v = m.Process(0.0);
        if (i % 551 == 0)
            ASSERT_EQ(v, -60.0) << i;
        else
            ASSERT_EQ(v, kNoLevel) << i;
    }
}

TEST(LevelMeter, FullScaleGivesZeroDbAndHalfScaleMinusSix) {
    lm::TlevelMeter m(11025);
    double v = kNoLevel;
    for (int i = 0; i < 551; ++i) v = m.Process(i % 2 ? 1.0 : -1.0);
    EXPECT_NEAR(v, 0.0, 1e-12);
    lm::TlevelMeter h(11025);
    for (int i = 0; i < 551; ++i) v = h.Process(0.5);
    EXPECT_NEAR(v, 20 * std::log10(0.5), 1e-9);  // -6.02 dB
}

TEST(LevelMeter, ReleaseFollowsAFallWithATimeConstantOfAboutAThousandSamples) {
    lm::TlevelMeter m(11025);
    for (int i = 0; i < 551; ++i) (void)m.Process(1.0);
    double v = kNoLevel;
    for (int i = 0; i < 551; ++i) v = m.Process(0.0);
    // 0.999^551 of full scale: 20*log10(0.999^551) = -4.79 dB
    EXPECT_NEAR(v, 551 * 20 * std::log10(0.999), 1e-9);
}

TEST(Tshow_level, ReplaysABuffersWorthFromTheOldestThenRepeatsTheNewest) {
    Tshow_level q(16384, 11025);
    ASSERT_EQ(q.Capacity, 30);  // 16384 / 551.25 = 29.7
    EXPECT_EQ(q.Pop(), -60.0);
    for (int i = 0; i < 30; ++i) q.Push(-i);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(q.Pop(), -i);
    EXPECT_EQ(q.Pop(), -29.0);  // caught up: the newest again
    EXPECT_EQ(q.Pop(), -29.0);
    q.Push(-1.5);  // fewer than a buffer's worth: the reader stays at the end
    EXPECT_EQ(q.Pop(), -1.5);
}

TEST(Tshow_level, AVeryShortBufferStillHoldsOneValue) {
    Tshow_level q(100, 11025);
    EXPECT_EQ(q.Capacity, 1);
    q.Push(-3.0);
    EXPECT_EQ(q.Pop(), -3.0);
}

TEST(Tlevel_check, StartNeedsAFullWindowWhoseMeanIsStrictlyAboveTheThreshold) {
    Tlevel_check c(-30.0);
    c.SetTimes(1.0, 15.0, 1);  // 20 values to start
    for (int i = 0; i < 19; ++i) ASSERT_EQ(c.Check(false, -20.0), -1) << i;
    EXPECT_EQ(c.Check(false, -20.0), 1);
    // A window whose mean sinks to the threshold does not start and disarms.
    Tlevel_check d(-30.0);
    d.SetTimes(1.0, 15.0, 1);
    EXPECT_EQ(d.Check(false, -20.0), -1);
    for (int i = 0; i < 18; ++i) ASSERT_EQ(d.Check(false, -30.0), -1);
    EXPECT_EQ(d.Check(false, -40.0), -1);  // sum -600 over 20 = -30: not above
    EXPECT_FALSE(d.Armed);
}

TEST(Tlevel_check, ZeroStartDelayStartsOnTheFirstValueAboveButNotOnOneEqual) {
    Tlevel_check c(-30.0);
    c.SetTimes(0.0, 15.0, 1);
    EXPECT_EQ(c.Check(false, -30.0), -1);
    EXPECT_FALSE(c.Armed);
    EXPECT_EQ(c.Check(false, -29.9), 1);
}

TEST(Tlevel_check, StopNeedsAWindowOfConsecutiveLowValues) {
    Tlevel_check c(-30.0);
    c.SetTimes(0.0, 1.0, 1);  // 20 values to stop
    for (int i = 0; i < 10; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
    EXPECT_EQ(c.Check(true, -10.0), -1);  // a loud value ends the run
    for (int i = 0; i < 19; ++i) ASSERT_EQ(c.Check(true, -50.0), -1) << i;
    EXPECT_EQ(c.Check(true, -50.0), 0);
}

TEST(Tlevel_check, ALoudValueThatFillsTheWindowStillStops) {
    Tlevel_check c(-30.0);
    c.SetTimes(0.0, 1.0, 1);
    for (int i = 0; i < 19; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
    EXPECT_EQ(c.Check(true, -10.0), 0);
}

TEST(Tlevel_check, AStopDelayBelow75MsNeverStops) {
    Tlevel_check c(-30.0);
    c.SetTimes(0.0, 0.07, 1);  // window 1
    for (int i = 0; i < 100; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
}

TEST(Tlevel_check, DefaultWindowsAre74And740Values) {
    Tlevel_check c(-30.0);
    for (int i = 0; i < 73; ++i) ASSERT_EQ(c.Check(false, -10.0), -1);
    EXPECT_EQ(c.Check(false, -10.0), 1);
    // After a start the window stays armed; the stop direction counts on from zero.
    for (int i = 0; i < 739; ++i) ASSERT_EQ(c.Check(true, -50.0), -1) << i;
    EXPECT_EQ(c.Check(true, -50.0), 0);
}

TEST(TVOXlevel_check, StopsAfterTheStopDelayInSamplesOnlyWhileRecording) {
    TVOXlevel_check c(-30.0);
    c.SetTimes(1.0, 0.01, 1);  // round(110.25) = 110 samples
    for (int i = 0; i < 500; ++i) ASSERT_EQ(c.Check(false, -50.0), -1);
    for (int i = 0; i < 109; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
    EXPECT_EQ(c.Check(true, -50.0), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
    EXPECT_EQ(c.Check(true, -30.0), -1);  // at the threshold: the count restarts
    for (int i = 0; i < 109; ++i) ASSERT_EQ(c.Check(true, -50.0), -1);
    EXPECT_EQ(c.Check(true, -50.0), 0);
}
