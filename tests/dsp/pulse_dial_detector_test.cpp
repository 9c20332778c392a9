// TPulse_detector, its 15-tap high-pass and its envelope follower, fed with dial clicks: breaks of
// about 60 ms and makes of 40 ms (a standard 10 pulses per second dial), digits 600 ms apart. Times
// are counted in the detector's envelope steps of 10 samples (0.907 ms); clicks are laid on step
// boundaries so that a break of B steps is exactly B steps between its two clicks.
#include "dsp/pulse_dial_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/fir_filters.h"
#include "dsp/pulse_level_meter.h"
#include "support/detector_run.h"
#include "support/dft.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;
constexpr std::size_t kStep = 10;  // samples per envelope step

// Digits as pulse counts: breaks of breakSteps, makes of 44 steps, 660 steps between digits, then
// 4400 steps (4 s, more than the 3.63 s that end a number) of quiet line. lastClick: where the last
// click of the last digit starts.
Signal dial(const std::vector<int>& counts, int breakSteps = 66, double clickAmplitude = 0.5,
            std::size_t* lastClick = nullptr) {
    Signal s = test::silence(220 * kStep);
    std::size_t at = s.size();
    for (int c : counts) {
        for (int p = 0; p < c; ++p) {
            test::mixInto(s, test::click(clickAmplitude), at);
            at += std::size_t(breakSteps) * kStep;
            test::mixInto(s, test::click(clickAmplitude), at);
            if (lastClick) *lastClick = at;
            at += 44 * kStep;
        }
        at += 660 * kStep;
    }
    test::mixInto(s, test::silence(4400 * kStep), at);
    test::mixInto(s, test::noise(test::amplitudeOf(-60.0), s.size(), 9));
    return s;
}

TEST(TPulse_detector, PulseCountsBecomeDigitsAndTenBecomesZero) {
    for (int pulses = 1; pulses <= 11; ++pulses) {
        TPulse_detector d;
        const std::string first = pulses == 10 ? "0" : std::to_string(pulses);
        EXPECT_EQ(test::numbers(d, dial({pulses, 3})), Strings{first + "3"}) << pulses;
    }
}

TEST(TPulse_detector, OnlyBreaksOf61To76StepsWithClicksAboveTheThresholdCount) {
    // A click counts a pulse when 60 ... 75 steps without a click lie between it and the one before,
    // so a break of B steps between clicks counts for B = 61 ... 76. A click of peak 0.05 lifts the
    // envelope by less than 0.1 but by more than 0.005.
    struct Case {
        int breakSteps;
        double click, threshold;
        Strings expected;
    };
    for (const Case& c : {Case{60, 0.5, 0.008, {}}, Case{61, 0.5, 0.008, {"43"}}, Case{76, 0.5, 0.008, {"43"}},
                          Case{77, 0.5, 0.008, {}}, Case{66, 0.05, 0.1, {}}, Case{66, 0.05, 0.005, {"43"}}}) {
        TPulse_detector d;
        d.SetThreshold(c.threshold);
        EXPECT_EQ(test::numbers(d, dial({4, 3}, c.breakSteps, c.click)), c.expected) << c.breakSteps << " " << c.click;
    }
}

TEST(TPulse_detector, SingleDigitIsDroppedAndDoesNotPrefixTheNextNumber) {
    TPulse_detector d;
    EXPECT_EQ(test::numbers(d, dial({5})), Strings{});
    EXPECT_EQ(test::numbers(d, dial({2, 7})), Strings{"27"});
}

TEST(TPulse_detector, NumberIsHandedOver4000StepsAfterTheLastCountedPulse) {
    TPulse_detector d;
    std::size_t lastClick = 0;
    const auto h = test::handovers(d, dial({4, 2}, 66, 0.5, &lastClick));
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].text, "42");
    // The step holding the last click counts the pulse; the 4001st step after it hands over.
    EXPECT_GE(h[0].sample, lastClick + 4000 * kStep);
    EXPECT_LE(h[0].sample, lastClick + 4002 * kStep);
}

TEST(TPulse_detector, SteadyToneSpeechAndResetGiveNoDigitsAndTheThresholdIsClamped) {
    TPulse_detector d;
    EXPECT_EQ(test::numbers(d, test::tone(1000.0, 0.5, test::samplesOf(8000.0))), Strings{});
    EXPECT_EQ(test::numbers(d, test::speechLike(8.0, 0.5, 2)), Strings{});
    Signal half = dial({3});
    half.resize(half.size() - 4400 * kStep);  // the digit is written, the number not yet handed over
    (void)test::handovers(d, half);
    d.Reset();
    EXPECT_EQ(test::numbers(d, dial({5})), Strings{});
    EXPECT_EQ(d.Threshold(), 0.008);  // the default, kept by Reset; NaN ignored, negatives taken as 0
    d.SetThreshold(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(d.Threshold(), 0.008);
    d.SetThreshold(-1.0);
    EXPECT_EQ(d.Threshold(), 0.0);
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

// |H(f)| of a filter's coefficients, f in Hz at 11025 Hz.
double gain(const std::vector<double>& h, double hz) { return std::abs(test::dftAt(h, hz / 11025.0)); }

TEST(Tfir, LongLowPassApproachesTheIdealAndHighPassIsItsComplement) {
    // 1001 taps, transition 0.2 ... 0.3 of Nyquist (1102.5 ... 1653.75 Hz): gain 1 at DC, 0.5 mid
    // transition, 0 at Nyquist; low-pass plus high-pass of the same edges is a pure delay.
    const std::vector<double> lp = Tfir(Tfir::Kind::LowPass, 1001, 0.2, 0.3).Coefficients();
    for (auto [hz, g] : {std::pair{0.0, 1.0}, std::pair{1378.125, 0.5}, std::pair{5512.5, 0.0}})
        EXPECT_NEAR(gain(lp, hz), g, 1e-3) << hz;
    const Tfir lp15(Tfir::Kind::LowPass, 15, 0.6, 0.7), hp15(Tfir::Kind::HighPass, 14, 0.6, 0.7);  // 14 -> 15
    ASSERT_EQ(hp15.Coefficients().size(), 15u);
    for (std::size_t i = 0; i < 15; ++i)
        EXPECT_NEAR(lp15.Coefficients()[i] + hp15.Coefficients()[i], i == 7 ? 1.0 : 0.0, 1e-15) << i;
}

TEST(TLPF, PulseFilterIsA15TapHighPassThatConvolvesItsInput) {
    TLPF f(14, 11025, 3400);
    const auto c = f.Coefficients();
    ASSERT_EQ(c.size(), 15u);
    for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(c[i], c[14 - i]) << i;
    EXPECT_LT(gain(c, 0.0), 0.2);  // a high-pass despite its name
    EXPECT_GT(gain(c, 4500.0), 3.0 * gain(c, 800.0));
    const Signal x = test::noise(0.3, 200, 4);
    for (std::size_t n = 0; n < x.size(); ++n) {
        double y = 0.0;
        for (std::size_t j = 0; j < 15 && j <= n; ++j) y += c[j] * x[n - j];
        ASSERT_NEAR(f.Filter(x[n]), y, 1e-15) << n;
    }
}

}  // namespace
}  // namespace kestavo::dsp
