// The CTCSS decoder on the 50 standard tones (EIA/TIA-603 table, 67.0-254.1 Hz).
#include <gtest/gtest.h>

#include <cstdio>

#include "ctcss/ctcss_decoder.h"
#include "support/decoder_signals.h"

using namespace kestavo;
using test::Report;

namespace {

// The standard tone table as published, in hertz.
constexpr double kTones[50] = {67.0,  69.3,  71.9,  74.4,  77.0,  79.7,  82.5,  85.4,  88.5,  91.5,
                               94.8,  97.4,  100.0, 103.5, 107.2, 110.9, 114.8, 118.8, 123.0, 127.3,
                               131.8, 136.5, 141.3, 146.2, 151.4, 156.7, 159.8, 162.2, 165.5, 167.9,
                               171.3, 173.8, 177.3, 179.9, 183.5, 186.2, 189.9, 192.8, 196.6, 199.5,
                               203.5, 206.5, 210.7, 218.1, 225.7, 229.1, 233.6, 241.8, 250.3, 254.1};

std::vector<Report> decode(const test::Signal& s) {
    plugins::CtcssDecoder d;
    return test::reports(d, s);
}
std::string text(double hz) {
    char b[16];
    std::snprintf(b, sizeof b, "%.1f", hz);
    return b;
}
// Quiet, the tone for `ms` at `dbfs`, quiet.
test::Signal held(double hz, double dbfs, double ms, double quietMs = 500.0) {
    test::Signal s = test::silence(test::samplesOf(quietMs));
    test::append(s, test::tone(hz, test::amplitudeOf(dbfs), test::samplesOf(ms)));
    test::append(s, test::silence(test::samplesOf(quietMs)));
    return s;
}

}  // namespace

TEST(Ctcss, EachStandardToneIsReadAtMinus30DbfsWith20DbSnrAndEndsWithActionZero) {
    for (const double hz : kTones) {
        const auto s = test::withNoiseUnderSignal(held(hz, -30.0, 1500.0), 20.0, 11);
        const auto r = decode(s);
        ASSERT_EQ(r.size(), 2u) << hz;
        EXPECT_EQ(r[0].identifier, text(hz));
        EXPECT_EQ(r[0].action, 1) << hz;
        EXPECT_EQ(r[1].identifier, text(hz));
        EXPECT_EQ(r[1].action, 0) << hz;
        // Reported once held 250 ms (and not much later); ended within 300 ms of its end.
        const std::size_t on = test::samplesOf(500.0), off = on + test::samplesOf(1500.0);
        EXPECT_GE(r[0].sample, on + test::samplesOf(250.0)) << hz;
        EXPECT_LE(r[0].sample, on + test::samplesOf(450.0)) << hz;
        EXPECT_GE(r[1].sample, off) << hz;
        EXPECT_LE(r[1].sample, off + test::samplesOf(300.0)) << hz;
    }
}

TEST(Ctcss, AToneHeldLessThan250MsIsNotReported) {
    for (const double hz : {67.0, 131.8, 254.1}) {
        EXPECT_TRUE(decode(held(hz, -20.0, 200.0)).empty()) << hz;
        EXPECT_EQ(decode(held(hz, -20.0, 400.0)).size(), 2u) << hz;
    }
}

// Within 0.4 % the tone is named; 1 % off it is not that tone, and halfway between two
// neighbouring tones (the closest are 1.5 % apart) is neither.
TEST(Ctcss, AToneWithinFourTenthsOfAPercentIsNamedAndOnePercentOffOrBetweenTwoIsNot) {
    for (std::size_t i = 0; i < std::size(kTones); ++i) {
        const double hz = kTones[i];
        for (const double off : {-0.004, 0.004}) {
            const auto r = decode(held(hz * (1.0 + off), -25.0, 800.0));
            ASSERT_FALSE(r.empty()) << hz << " moved " << off;
            EXPECT_EQ(r[0].identifier, text(hz)) << hz << " moved " << off;
        }
        for (const double off : {-0.01, 0.01}) {
            for (const Report& r : decode(held(hz * (1.0 + off), -25.0, 800.0))) {
                EXPECT_NE(r.identifier, text(hz)) << hz << " moved " << off;
            }
        }
        if (i + 1 < std::size(kTones)) {
            EXPECT_TRUE(decode(held(std::sqrt(hz * kTones[i + 1]), -25.0, 800.0)).empty()) << "between " << hz;
        }
    }
}

TEST(Ctcss, AToneUnderSpeechOnARadioChannelStaysHeld) {
    // Speech as a radio sends it: above 300 Hz (a 300 Hz high-pass voice path), 12 dB above the tone.
    test::Signal voice = test::voice(4.0, 1.0, 21, 1.0);
    plugins::Biquad a = plugins::Biquad::highPass(300.0, test::kLineRate, plugins::Biquad::kQ4a);
    plugins::Biquad b = plugins::Biquad::highPass(300.0, test::kLineRate, plugins::Biquad::kQ4b);
    for (double& v : voice) v = 0.25 * b.Filter(a.Filter(v));
    test::Signal s = test::tone(123.0, test::amplitudeOf(-30.0), voice.size());
    test::mixInto(s, voice);
    test::append(s, test::silence(test::samplesOf(500.0)));
    const auto r = decode(s);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].identifier, "123.0");
    EXPECT_GE(r[1].sample, voice.size());
}

TEST(Ctcss, ATonePassesFromOneToAnotherWithAnEndBetween) {
    test::Signal s = test::tone(88.5, 0.05, test::samplesOf(1000.0));
    test::append(s, test::tone(203.5, 0.05, test::samplesOf(1000.0)));
    test::append(s, test::silence(test::samplesOf(500.0)));
    const auto r = decode(s);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].identifier, "88.5");
    EXPECT_EQ(r[1].identifier, "88.5");
    EXPECT_EQ(r[1].action, 0);
    EXPECT_EQ(r[2].identifier, "203.5");
    EXPECT_EQ(r[2].action, 1);
    EXPECT_EQ(r[3].action, 0);
}
