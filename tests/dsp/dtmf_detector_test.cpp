// T_DTMF against the DTMF keypad and the detector's documented limits: 4 ... 120 blocks of 71 samples
// per tone, 4 blocks of pause, 1001 quiet blocks before a number is handed over, a pair 20 dB above
// the rest, each tone 16 dB above its second harmonic and a twist below 7 dB.
#include "dsp/dtmf_detector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;

struct Handover {
    std::size_t sample;  // index of the sample on which the number came out
    std::string text;
};

std::vector<Handover> run(T_DTMF& d, const Signal& s) {
    std::vector<Handover> out;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (const auto t = d.Process(s[n]); !t.empty()) out.push_back({n, std::string(t)});
    return out;
}

std::vector<std::string> texts(const std::vector<Handover>& h) {
    std::vector<std::string> t;
    for (const auto& e : h) t.push_back(e.text);
    return t;
}

// The line after the last tone: 7 s, more than the 6.45 s that end a number.
constexpr double kQuietMs = 7000.0;

Signal withQuietAndNoise(Signal s, double noiseDbfs, std::uint32_t seed) {
    test::append(s, test::silence(test::samplesOf(kQuietMs)));
    if (noiseDbfs > -200.0) test::mixInto(s, test::noise(test::amplitudeOf(noiseDbfs), s.size(), seed));
    return s;
}

using Strings = std::vector<std::string>;

TEST(T_DTMF, TenDigitNumberDecodedAtLevelsFromMinus3ToMinus25DbfsInModerateNoise) {
    for (double level : {-3.0, -8.0, -14.0, -20.0, -25.0}) {
        T_DTMF d;
        const Signal s = withQuietAndNoise(test::dtmfNumber("0123456789", level, 60.0, 60.0), -45.0, 7);
        EXPECT_EQ(texts(run(d, s)), Strings{"0123456789"}) << "level " << level << " dBFS";
    }
}

TEST(T_DTMF, EveryDigitKeyDecodedAlone) {
    for (char key : std::string("0123456789")) {
        T_DTMF d;
        const Signal s = withQuietAndNoise(test::dtmfKey(key, -12.0, 80.0), -45.0, std::uint32_t(key));
        EXPECT_EQ(texts(run(d, s)), Strings{std::string(1, key)}) << key;
    }
}

TEST(T_DTMF, SingleDigitIsHandedOverAfter1001QuietBlocks) {
    T_DTMF d;
    Signal s = test::silence(2000);
    const std::size_t toneEnd = 2000 + test::samplesOf(80.0);
    test::append(s, test::dtmfKey('5', -10.0, 80.0));
    const Signal full = withQuietAndNoise(s, -300.0, 0);
    const auto h = run(d, full);
    ASSERT_EQ(texts(h), Strings{"5"});
    // The last valid block ends at most one window (284 samples) after the tone; 1001 more blocks
    // of 71 samples follow before the hand-over (one block of slack for the block grid).
    EXPECT_GE(h[0].sample, toneEnd + 1000 * 71);
    EXPECT_LE(h[0].sample, toneEnd + 284 + 1002 * 71);
}

TEST(T_DTMF, StarHashAndTheFourthColumnAddNothing) {
    {
        T_DTMF d;
        EXPECT_TRUE(run(d, withQuietAndNoise(test::dtmfNumber("*#ABCD", -10.0, 70.0, 70.0), -45.0, 1)).empty());
    }
    {
        T_DTMF d;
        const Signal s = withQuietAndNoise(test::dtmfNumber("1*2#3A4D", -10.0, 70.0, 70.0), -45.0, 2);
        EXPECT_EQ(texts(run(d, s)), Strings{"1234"});
    }
}

TEST(T_DTMF, ToneHeldLongerThan120BlocksAddsNothing) {
    // 120 blocks of 71 samples are 773 ms.
    T_DTMF d;
    Signal s = test::dtmfNumber("3", -10.0, 1000.0, 100.0);
    test::append(s, test::dtmfNumber("7", -10.0, 600.0, 100.0));  // 600 ms is still a digit
    EXPECT_EQ(texts(run(d, withQuietAndNoise(s, -45.0, 3))), Strings{"7"});
}

TEST(T_DTMF, SilenceAndNoiseNeverGiveDigits) {
    T_DTMF d;
    EXPECT_TRUE(run(d, test::silence(test::samplesOf(8000.0))).empty());
    EXPECT_TRUE(run(d, test::noise(test::amplitudeOf(-10.0), test::samplesOf(8000.0), 11)).empty());
}

TEST(T_DTMF, TwoKeysWithoutPauseCountAsOneToneWonByTheLonger) {
    // 697+1209 for 100 ms straight into 697+1336 for 200 ms: the 1336 Hz column wins more blocks.
    T_DTMF d;
    Signal s = test::dtmfKey('1', -10.0, 100.0);
    test::append(s, test::dtmfKey('2', -10.0, 200.0));
    EXPECT_EQ(texts(run(d, withQuietAndNoise(s, -45.0, 4))), Strings{"2"});
}

TEST(T_DTMF, StrongSecondHarmonicRejectsThePair) {
    // Power ratio of a tone to its harmonic is the square of the amplitude ratio: 0.3 gives 11 (< 40),
    // 0.05 gives 400 (>= 40).
    for (auto [harmonic, expected] : {std::pair{0.3, Strings{}}, std::pair{0.05, Strings{"1"}}}) {
        T_DTMF d;
        const double a = test::amplitudeOf(-10.0) / 2.0;
        Signal s = test::dtmfKey('1', -10.0, 80.0);
        test::mixInto(s, test::tone(2 * 697.0, harmonic * a, s.size()));
        EXPECT_EQ(texts(run(d, withQuietAndNoise(s, -45.0, 5))), expected) << harmonic;
    }
}

TEST(T_DTMF, TwistOfFiveOrMoreRejectsThePair) {
    // Power twist is the square of the amplitude ratio: 0.4 gives 6.25 (rejected), 0.6 gives 2.8.
    for (auto [column, expected] : {std::pair{0.4, Strings{}}, std::pair{0.6, Strings{"9"}}}) {
        T_DTMF d;
        const std::size_t n = test::samplesOf(80.0);
        Signal s = test::tone(852.0, 0.2, n);
        test::mixInto(s, test::tone(1477.0, 0.2 * column, n));
        EXPECT_EQ(texts(run(d, withQuietAndNoise(s, -45.0, 6))), expected) << column;
    }
}

TEST(T_DTMF, ResetForgetsThePendingDigits) {
    T_DTMF d;
    (void)run(d, test::dtmfNumber("12", -10.0, 70.0, 70.0));
    d.Reset();
    EXPECT_TRUE(run(d, test::silence(test::samplesOf(kQuietMs))).empty());
}

}  // namespace
}  // namespace kestavo::dsp
