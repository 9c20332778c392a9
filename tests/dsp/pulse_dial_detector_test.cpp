// TPulse_detector, its 15-tap high-pass and its envelope follower, fed with dial clicks: breaks of
// 60 ms and makes of 40 ms (a standard 10 pulses per second dial), digits 600 ms apart.
#include "dsp/pulse_dial_detector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/fir_filters.h"
#include "dsp/pulse_level_meter.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

struct Handover {
    std::size_t sample;
    std::string text;
};

std::vector<Handover> run(TPulse_detector& d, const Signal& s) {
    std::vector<Handover> out;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (const auto t = d.Process(s[n]); !t.empty()) out.push_back({n, std::string(t)});
    return out;
}

Strings texts(const std::vector<Handover>& h) {
    Strings t;
    for (const auto& e : h) t.push_back(e.text);
    return t;
}

// Digits as pulse counts, each a train of breaks of breakMs, 600 ms between digits, then 4 s of
// quiet line (more than the 3.63 s that end a number).
Signal dial(const std::vector<int>& counts, double breakMs = 60.0, double clickAmplitude = 0.5) {
    Signal s = test::silence(test::samplesOf(200.0));
    for (int c : counts) {
        test::append(s, test::pulseTrain(c, breakMs, 40.0, clickAmplitude));
        test::append(s, test::silence(test::samplesOf(600.0)));
    }
    test::append(s, test::silence(test::samplesOf(4000.0)));
    test::mixInto(s, test::noise(test::amplitudeOf(-60.0), s.size(), 9));
    return s;
}

TEST(TPulse_detector, TrainsOfOneToTenPulsesGiveTheirDigitsAndTenGivesZero) {
    for (int pulses = 1; pulses <= 10; ++pulses) {
        TPulse_detector d;
        const std::string expected = (pulses == 10 ? std::string("0") : std::to_string(pulses)) + "3";
        EXPECT_EQ(texts(run(d, dial({pulses, 3}))), Strings{expected}) << pulses;
    }
}

TEST(TPulse_detector, CountsAboveTenAreWrittenInFull) {
    TPulse_detector d;
    EXPECT_EQ(texts(run(d, dial({11}))), Strings{"11"});  // two characters: handed over
}

TEST(TPulse_detector, SingleDigitIsDroppedAndDoesNotPrefixTheNextNumber) {
    TPulse_detector d;
    EXPECT_TRUE(run(d, dial({5})).empty());
    EXPECT_EQ(texts(run(d, dial({2, 7}))), Strings{"27"});
}

TEST(TPulse_detector, NumberIsHandedOver4000StepsAfterTheStepThatCountedTheLastPulse) {
    TPulse_detector d;
    Signal s = test::silence(test::samplesOf(200.0));
    test::append(s, test::pulseTrain(4, 60.0, 40.0, 0.5));
    test::append(s, test::silence(test::samplesOf(600.0)));
    const std::size_t lastMake = s.size();  // the click of the last make starts here
    test::append(s, test::pulseTrain(2, 60.0, 40.0, 0.5));
    const std::size_t lastClick = lastMake + test::samplesOf(100.0) + test::samplesOf(60.0);
    test::append(s, test::silence(test::samplesOf(4000.0)));
    const auto h = run(d, s);
    ASSERT_EQ(texts(h), Strings{"42"});
    // The step that counts the last pulse ends within two steps of its click; the idle count passes
    // 4000 on the 4000th step after it (that step's own count being 1).
    EXPECT_GE(h[0].sample, lastClick + 40000);
    EXPECT_LE(h[0].sample, lastClick + 40000 + 20);
}

TEST(TPulse_detector, BreaksOutside60To75StepsAreNotCounted) {
    // A break of B ms is about B * 11.025 / 10 steps between its two clicks; the count sees one step
    // fewer. 52 ms (56 steps) and 72 ms (78 steps) fall outside, 57 ms and 66 ms inside.
    for (double breakMs : {52.0, 72.0}) {
        TPulse_detector d;
        EXPECT_TRUE(run(d, dial({4, 3}, breakMs)).empty()) << breakMs;
    }
    for (double breakMs : {57.0, 66.0}) {
        TPulse_detector d;
        EXPECT_EQ(texts(run(d, dial({4, 3}, breakMs))), Strings{"43"}) << breakMs;
    }
}

TEST(TPulse_detector, ClicksBelowTheThresholdAreIgnored) {
    TPulse_detector d;
    d.SetThreshold(0.1);
    EXPECT_TRUE(run(d, dial({4, 3}, 60.0, 0.05)).empty());
    d.SetThreshold(0.005);
    EXPECT_EQ(texts(run(d, dial({4, 3}, 60.0, 0.05))), Strings{"43"});
}

TEST(TPulse_detector, ThresholdSetterKeepsValuesAndIgnoresNaN) {
    TPulse_detector d;
    EXPECT_DOUBLE_EQ(d.Threshold(), 0.008);
    d.SetThreshold(0.0123);
    EXPECT_DOUBLE_EQ(d.Threshold(), 0.0123);
    d.SetThreshold(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(d.Threshold(), 0.0123);
    d.SetThreshold(-1.0);
    EXPECT_DOUBLE_EQ(d.Threshold(), 0.0);
}

TEST(TPulse_detector, SteadyToneGivesNoDigits) {
    TPulse_detector d;
    EXPECT_TRUE(run(d, test::tone(1000.0, 0.5, test::samplesOf(8000.0))).empty());
}

TEST(TPulse_detector, ResetDropsTheDigitsInProgress) {
    TPulse_detector d;
    Signal s = test::silence(1000);
    test::append(s, test::pulseTrain(3, 60.0, 40.0, 0.5));
    test::append(s, test::silence(test::samplesOf(600.0)));
    (void)run(d, s);
    d.Reset();
    EXPECT_TRUE(run(d, dial({5})).empty());
}

// Gain of a filter for a sine of `hz`, measured after the filter has settled.
double gainAt(TLPF& f, double hz) {
    const Signal s = test::tone(hz, 1.0, 4000);
    double peak = 0.0;
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double y = f.Filter(s[n]);
        if (n > 100) peak = std::max(peak, std::abs(y));
    }
    return peak;
}

TEST(TLPF, PulseHighPassIsSymmetricAndPassesClicksRatherThanSpeech) {
    TLPF f(14, 11025, 3400);
    const auto& c = f.Coefficients();
    ASSERT_EQ(c.size(), 15u);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(c[i], c[14 - i]);
    // Centre tap: 1 - (3400 + 3450) / 11025, the share of the band above the mid transition.
    EXPECT_NEAR(c[7], 1.0 - 6850.0 / 11025.0, 1e-12);
    EXPECT_GT(gainAt(f, 4500.0), 3.0 * gainAt(f, 800.0));
}

TEST(Tfir, LongLowPassApproachesTheIdealResponse) {
    // 1001 taps, transition 0.2 ... 0.3 of Nyquist: DC gain 1, Nyquist gain 0, mid-transition 0.5.
    const Tfir fir(Tfir::kLowPass, 1001, 0.2, 0.3, 0.0, 0.0);
    const auto& h = fir.Coefficients();
    auto gain = [&](double cyclesPerSample) {
        std::complex<double> sum = 0.0;
        for (std::size_t n = 0; n < h.size(); ++n)
            sum += h[n] * std::polar(1.0, -2.0 * std::numbers::pi * cyclesPerSample * double(n));
        return std::abs(sum);
    };
    EXPECT_NEAR(gain(0.0), 1.0, 1e-3);
    EXPECT_NEAR(gain(0.5), 0.0, 1e-3);
    EXPECT_NEAR(gain(0.125), 0.5, 1e-3);
}

TEST(Tfir, HighPassAndLowPassOfTheSameEdgesAddUpToAnImpulse) {
    const Tfir lp(Tfir::kLowPass, 15, 0.6, 0.7, 0.0, 0.0);
    const Tfir hp(Tfir::kHighPass, 15, 0.6, 0.7, 0.0, 0.0);
    for (int i = 0; i < 15; ++i)
        EXPECT_NEAR(lp.Coefficients()[i] + hp.Coefficients()[i], i == 7 ? 1.0 : 0.0, 1e-15) << i;
}

TEST(lm_p_TlevelMeter, GivesTheEnvelopeOnEveryTenthSampleOnly) {
    lm_p::TlevelMeter m;
    for (int call = 1; call <= 30; ++call) {
        const float v = m.Process(0.5f);
        if (call % 10 == 0) {
            EXPECT_NEAR(v, 0.5f, 1e-6f) << call;  // 85 % of the remaining rise per sample
        } else {
            EXPECT_EQ(v, 10000.0f) << call;
        }
    }
    float v = 0.0f;
    for (int call = 1; call <= 10; ++call) v = m.Process(0.0f);
    EXPECT_NEAR(v, 0.5f * std::pow(0.99f, 10.0f), 1e-5f);  // release: 1 % per sample
}

}  // namespace
}  // namespace kestavo::dsp
