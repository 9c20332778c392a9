// T_DTMF against the DTMF keypad (rows 697, 770, 852, 941 Hz; columns 1209, 1336, 1477, 1633 Hz) and
// its documented limits: 4 ... 120 blocks of 71 samples per tone, 4 blocks of pause, 1001 quiet
// blocks before a number is handed over, a pair 20 dB above the rest, each tone 16 dB above its
// second harmonic, a twist below 7 dB and a tone power above 1e-4.
#include "dsp/dtmf_detector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

struct Handover {
    std::size_t sample;  // index of the sample on which the number came out
    std::string text;
};

// Runs s, then 7 s of line (more than the 6.45 s that end a number) with noise at noiseDbfs.
std::vector<Handover> run(Signal s, double noiseDbfs = -45.0, std::uint32_t seed = 1) {
    test::append(s, test::silence(test::samplesOf(7000.0)));
    if (noiseDbfs > -200.0) test::mixInto(s, test::noise(test::amplitudeOf(noiseDbfs), s.size(), seed));
    T_DTMF d;
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

TEST(T_DTMF, EveryDigitKeyIsDecodedAloneAndStarHashAndTheFourthColumnAddNothing) {
    for (char key : std::string("0123456789"))
        EXPECT_EQ(texts(run(test::dtmfKey(key, -12.0, 80.0), -45.0, std::uint32_t(key))), Strings{std::string(1, key)})
            << key;
    EXPECT_TRUE(run(test::dtmfNumber("*#ABCD", -10.0, 70.0, 70.0)).empty());
    EXPECT_EQ(texts(run(test::dtmfNumber("1*2#3A4D", -10.0, 70.0, 70.0))), Strings{"1234"});
}

TEST(T_DTMF, NumbersDecodeAtLevelsDownToTheToneFloor) {
    // Each tone's power after the 284-point Hamming window is about (a x 153 / 2)^2: a pair at
    // -60 dBFS (a = 0.0005 per tone) gives 1.5e-3, above the 1e-4 floor; at -75 dBFS 4.6e-5, below it.
    struct Case {
        double dbfs, noiseDbfs;
        Strings expected;
    };
    for (const Case& c :
         {Case{-3.0, -45.0, {"0123456789"}}, Case{-14.0, -45.0, {"0123456789"}}, Case{-25.0, -45.0, {"0123456789"}},
          Case{-60.0, -300.0, {"0123456789"}}, Case{-75.0, -300.0, {}}})
        EXPECT_EQ(texts(run(test::dtmfNumber("0123456789", c.dbfs, 60.0, 60.0), c.noiseDbfs)), c.expected) << c.dbfs;
}

TEST(T_DTMF, ToneAndPauseLengthsDecideWhatCounts) {
    // A valid block needs the tone over its whole 25.8 ms window, so 4 blocks (26 ms) take a tone of
    // about 52 ms; 120 blocks are 773 ms. A pause must leave 4 blocks free of tone, so 10 ms joins two
    // tones into one.
    struct Case {
        const char* keys;
        double toneMs, pauseMs;
        Strings expected;
    };
    for (const Case& c : {Case{"12", 15.0, 100.0, {}}, Case{"12", 65.0, 60.0, {"12"}}, Case{"12", 600.0, 100.0, {"12"}},
                          Case{"12", 1000.0, 100.0, {}}, Case{"11", 60.0, 60.0, {"11"}}, Case{"11", 60.0, 10.0, {"1"}}})
        EXPECT_EQ(texts(run(test::dtmfNumber(c.keys, -10.0, c.toneMs, c.pauseMs))), c.expected)
            << c.keys << " " << c.toneMs << "/" << c.pauseMs;
}

TEST(T_DTMF, TwoKeysWithoutPauseCountAsOneToneWonByTheLonger) {
    Signal s = test::dtmfKey('1', -10.0, 100.0);  // 697 + 1209 Hz, then 697 + 1336 Hz for longer
    test::append(s, test::dtmfKey('2', -10.0, 200.0));
    EXPECT_EQ(texts(run(s)), Strings{"2"});
}

TEST(T_DTMF, PairNeedsTwistHarmonicsAndOtherFiltersWithinTheirLimits) {
    // Power ratios are squared amplitude ratios. Twist (column/row amplitude): 0.4 -> 6.25 >= 5
    // rejected, 0.5 -> 4 kept. Second harmonic of the row: 0.2 -> 25 < 40 rejected, 0.1 -> 100 kept.
    // A third tone on another row (770 Hz) counts among the 14 others: 0.5 -> pair/others = 14 / 0.25
    // = 56 < 100 rejected, 0.2 -> 350 kept.
    struct Case {
        const char* what;
        double columnRatio, harmonicRatio, thirdRatio;
        Strings expected;
    };
    for (const Case& c : {Case{"twist", 0.4, 0.0, 0.0, {}}, Case{"twist", 0.5, 0.0, 0.0, {"1"}},
                          Case{"harmonic", 1.0, 0.2, 0.0, {}}, Case{"harmonic", 1.0, 0.1, 0.0, {"1"}},
                          Case{"third tone", 1.0, 0.0, 0.5, {}}, Case{"third tone", 1.0, 0.0, 0.2, {"1"}}}) {
        const std::size_t n = test::samplesOf(80.0);
        Signal s = test::tone(697.0, 0.2, n);
        test::mixInto(s, test::tone(1209.0, 0.2 * c.columnRatio, n));
        test::mixInto(s, test::tone(2 * 697.0, 0.2 * c.harmonicRatio, n));
        test::mixInto(s, test::tone(770.0, 0.2 * c.thirdRatio, n));
        EXPECT_EQ(texts(run(s)), c.expected) << c.what << " " << c.columnRatio << c.harmonicRatio << c.thirdRatio;
    }
}

TEST(T_DTMF, NumberIsHandedOverAfter1001QuietBlocks) {
    Signal s = test::silence(2000);
    test::append(s, test::dtmfKey('5', -10.0, 80.0));
    const std::size_t toneEnd = s.size();
    const auto h = run(s, -300.0);
    ASSERT_EQ(texts(h), Strings{"5"});
    // The last valid block ends at most one window (284 samples) after the tone; 1001 more blocks of
    // 71 samples follow before the hand-over (one block of slack for the block grid).
    EXPECT_GE(h[0].sample, toneEnd + 1000 * 71);
    EXPECT_LE(h[0].sample, toneEnd + 284 + 1002 * 71);
}

TEST(T_DTMF, SilenceNoiseAndSpeechNeverGiveDigits) {
    EXPECT_TRUE(run(test::silence(test::samplesOf(1000.0)), -300.0).empty());
    EXPECT_TRUE(run(test::silence(test::samplesOf(1000.0)), -10.0, 11).empty());
    EXPECT_TRUE(run(test::speechLike(10.0, 0.5, 3)).empty());
}

TEST(T_DTMF, ResetForgetsThePendingDigits) {
    T_DTMF d;
    for (double x : test::dtmfNumber("12", -10.0, 70.0, 70.0)) (void)d.Process(x);
    d.Reset();
    for (double x : test::silence(test::samplesOf(7000.0))) ASSERT_TRUE(d.Process(x).empty());
}

}  // namespace
}  // namespace kestavo::dsp
