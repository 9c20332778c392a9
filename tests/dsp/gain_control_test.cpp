// Tv_agc: the envelope is brought to 0.8 of full scale; below -80 dB nothing is changed.
#include "dsp/gain_control.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

// A square wave of amplitude a has the constant envelope a.
double settle(Tv_agc& agc, double a, int samples) {
    double y = 0.0;
    for (int n = 0; n < samples; ++n) y = agc.Process(n % 2 == 0 ? a : -a);
    return y;
}

TEST(Tv_agc, EnvelopeOf0_08IsAmplifiedTenTimesAnd0_8KeepsItsLevel) {
    Tv_agc agc;
    EXPECT_NEAR(std::abs(settle(agc, 0.08, 200)), 0.8, 1e-9);
    EXPECT_NEAR(agc.Gain(), 10.0, 1e-7);
    Tv_agc loud;
    EXPECT_NEAR(std::abs(settle(loud, 0.8, 200)), 0.8, 1e-9);
    EXPECT_NEAR(loud.Gain(), 1.0, 1e-9);
}

TEST(Tv_agc, SignalsAtOrBelowTheFloorPassUnchanged) {
    Tv_agc agc;
    const auto s = test::noise(0.00002, 20000, 4);  // peaks stay far below 1e-4 through the follower
    for (double x : s) ASSERT_EQ(agc.Process(x), x);
    EXPECT_EQ(agc.Gain(), 1.0);
    EXPECT_EQ(agc.Process(0.0), 0.0);
}

TEST(Tv_agc, FollowsARiseAtOnceAndAFallSlowly) {
    Tv_agc agc;
    settle(agc, 0.01, 2000);
    // Onset to 0.5: after one sample the envelope is 0.85 x 0.5 + 0.15 x 0.01 = 0.4265.
    EXPECT_NEAR(agc.Process(0.5), 0.5 * 0.8 / 0.4265, 1e-9);
    settle(agc, 0.5, 200);
    // Fall to 0.05: after 1000 samples the envelope is 0.05 + 0.45 x 0.999^1000 (0.368 of the step left).
    settle(agc, 0.05, 1000);
    EXPECT_NEAR(agc.Gain(), 0.8 / (0.05 + 0.45 * std::pow(0.999, 1000)), 1e-6);
}

TEST(Tv_agc, ResetRestoresUnityGain) {
    Tv_agc agc;
    settle(agc, 0.3, 100);
    agc.Reset();
    EXPECT_EQ(agc.Gain(), 1.0);
    EXPECT_EQ(agc.Process(0.00005), 0.00005);
}

}  // namespace
}  // namespace kestavo::dsp
