// The Q.24 DTMF decoder against the receiver tolerances of ITU-T Q.24: frequency deviation
// accepted up to 1.5 % + 2 Hz and rejected beyond 3.5 %, twist from 8 dB below to 4 dB above,
// tones and pauses of 40 ms, tones under about 23 ms rejected.
#include <gtest/gtest.h>

#include "dtmf_q24/dtmf_q24_decoder.h"
#include "support/decoder_signals.h"

using namespace kestavo;
using test::Report;

namespace {

constexpr double kRows[4] = {697, 770, 852, 941}, kColumns[4] = {1209, 1336, 1477, 1633};
constexpr std::string_view kKeys = "123A456B789C*0#D";

std::vector<Report> decode(const test::Signal& s) {
    plugins::DtmfQ24Decoder d;
    return test::reports(d, s);
}
// The burst followed by the second of quiet that ends it.
test::Signal burst(test::Signal s) {
    test::append(s, test::silence(test::samplesOf(1200.0)));
    return s;
}
// The identifiers only.
std::vector<std::string> numbers(const test::Signal& s) {
    std::vector<std::string> out;
    for (const Report& r : decode(s)) out.push_back(r.identifier);
    return out;
}
using Numbers = std::vector<std::string>;

}  // namespace

TEST(DtmfQ24, ReadsAllSixteenKeysAsOneBurstAtMinus30DbfsWith20DbSnr) {
    const auto s = test::withNoiseUnderSignal(burst(test::dtmfNumber(kKeys, -30.0, 50.0, 50.0)), 20.0, 3);
    const auto r = decode(s);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].identifier, kKeys);
    EXPECT_EQ(r[0].action, 1);
}

TEST(DtmfQ24, ReportsEachBurstAboutASecondAfterItsLastKey) {
    auto s = test::dtmfNumber("4951234", -10.0, 60.0, 60.0);
    const std::size_t lastKey = s.size();
    test::append(s, test::silence(test::samplesOf(1500.0)));
    test::append(s, test::dtmfNumber("#9", -15.0, 60.0, 60.0));
    const auto r = decode(burst(s));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(std::tuple(r[0].identifier, r[1].identifier), std::tuple("4951234", "#9"));
    EXPECT_GT(r[0].sample, lastKey + test::samplesOf(950.0));
    EXPECT_LT(r[0].sample, lastKey + test::samplesOf(1100.0));
}

// Q.24's frequency table: each of the eight tones moved by the deviation that must still be
// accepted (1.5 % + 2 Hz, a hair less) and by more than the 3.5 % that must be rejected, in both
// directions, while its partner stays on frequency.
TEST(DtmfQ24, AcceptsDeviationsUpToOnePointFivePercentPlusTwoHertzAndRejectsBeyondThreePointFive) {
    for (int t = 0; t < 8; ++t) {
        const bool row = t < 4;
        const double nominal = row ? kRows[t] : kColumns[t - 4];
        const char key = row ? kKeys[std::size_t(t * 4 + 1)] : kKeys[std::size_t(4 + (t - 4))];  // partner 1336 / 770
        const double partner = row ? 1336.0 : 770.0;
        const double accept = 0.015 * nominal + 2.0 - 0.05, reject = 0.036 * nominal;
        for (const double sign : {-1.0, 1.0}) {
            auto pair = [&](double hz) {
                return burst(row ? test::tonePair(hz, -12.0, partner, -12.0, 60.0, 60.0)
                                 : test::tonePair(partner, -12.0, hz, -12.0, 60.0, 60.0));
            };
            EXPECT_EQ(numbers(test::withNoise(pair(nominal + sign * accept), 25.0, t)), Numbers{std::string(1, key)})
                << nominal << " Hz moved by " << sign * accept;
            EXPECT_EQ(numbers(pair(nominal + sign * reject)), Numbers{}) << nominal << " Hz moved by " << sign * reject;
        }
    }
}

struct TwistCase {
    double highMinusLowDb;
    bool accepted;
};
class DtmfQ24Twist : public testing::TestWithParam<TwistCase> {};

// The high-group tone from 8 dB below to 4 dB above the low-group tone is a key; far outside it
// is not (one tone of the pair then dominates, as a voice or a single line tone does).
TEST_P(DtmfQ24Twist, HighGroupLevelRelativeToLowGroup) {
    const auto [twist, accepted] = GetParam();
    for (int k = 0; k < 16; ++k) {
        const auto s = burst(test::tonePair(kRows[k / 4], -16.0, kColumns[k % 4], -16.0 + twist, 60.0, 60.0));
        EXPECT_EQ(numbers(s), accepted ? Numbers{std::string(1, kKeys[std::size_t(k)])} : Numbers{})
            << "key " << kKeys[std::size_t(k)] << " twist " << twist;
    }
}
INSTANTIATE_TEST_SUITE_P(Q24, DtmfQ24Twist,
                         testing::Values(TwistCase{-8.0, true}, TwistCase{-4.0, true}, TwistCase{0.0, true},
                                         TwistCase{4.0, true}, TwistCase{-15.0, false}, TwistCase{11.0, false}));

TEST(DtmfQ24, FortyMillisecondTonesWithFortyMillisecondPausesAreEachAKey) {
    // Repeated keys too: only the pause separates them.
    EXPECT_EQ(numbers(burst(test::dtmfNumber("1155#*D0", -20.0, 40.0, 40.0))), Numbers{"1155#*D0"});
    // And at the worst corner: every tone 1.5 % + 2 Hz high, the high group 4 dB above, at -30 dBFS.
    test::Signal s;
    for (const int k : {0, 5, 10, 15})
        test::append(
            s, test::tonePair(kRows[k / 4] * 1.015 + 1.95, -33.0, kColumns[k % 4] * 1.015 + 1.95, -29.0, 40.0, 40.0));
    EXPECT_EQ(numbers(burst(test::withNoiseUnderSignal(s, 20.0, 5))), Numbers{"159D"});
}

// A tone of 40 ms is a key and one of 20 or 22 ms is not, wherever it falls against the decoder's blocks.
TEST(DtmfQ24, FortyMillisecondTonesAreReadAndTwentyTwoMillisecondOnesRejectedAtAnyOffset) {
    for (int shift = 0; shift < 70; shift += 5) {
        for (const double ms : {20.0, 22.0, 40.0}) {
            test::Signal s = test::silence(std::size_t(shift));
            test::append(s, test::dtmfNumber("5", ms == 40.0 ? -25.0 : -10.0, ms, 60.0));
            EXPECT_EQ(numbers(burst(s)), ms == 40.0 ? Numbers{"5"} : Numbers{}) << ms << " ms, shifted " << shift;
        }
    }
    for (const double ms : {20.0, 22.0})
        EXPECT_EQ(numbers(burst(test::dtmfNumber("1234567890", -10.0, ms, 60.0))), Numbers{}) << ms << " ms";
}

TEST(DtmfQ24, AToneBelowMinus48DbfsASingleToneOrThreeTonesAreNotAKey) {
    EXPECT_EQ(numbers(burst(test::tonePair(852, -54.0, 1477, -54.0, 80.0, 80.0))), Numbers{});
    EXPECT_EQ(numbers(burst(test::tonePair(852, -42.0, 1477, -42.0, 80.0, 80.0))), Numbers{"9"});
    EXPECT_EQ(numbers(burst(test::tone(770, 0.3, test::samplesOf(200.0)))), Numbers{});
    auto three = test::tonePair(770, -12.0, 1336, -12.0, 200.0, 0.0);
    test::mixInto(three, test::tone(1000.0, test::amplitudeOf(-12.0), three.size()));
    EXPECT_EQ(numbers(burst(three)), Numbers{});
}
