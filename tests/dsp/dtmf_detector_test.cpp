// T_DTMF against the DTMF keypad (rows 697, 770, 852, 941 Hz; columns 1209, 1336, 1477, 1633 Hz) and
// its documented limits: 4 ... 120 blocks of 71 samples per tone, 4 blocks of pause, 1001 quiet
// blocks before a number is handed over, a pair 20 dB above the rest, each tone 16 dB above its
// second harmonic, a twist below 7 dB and a tone power above 1e-4.
#include "dsp/dtmf_detector.h"

#include <gtest/gtest.h>

#include "support/detector_run.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

// s, then 7 s of line (more than the 6.45 s that end a number), all with noise at noiseDbfs.
Signal onLine(Signal s, double noiseDbfs) {
    test::append(s, test::silence(test::samplesOf(7000.0)));
    if (noiseDbfs > -200.0) test::mixInto(s, test::noise(test::amplitudeOf(noiseDbfs), s.size(), 1));
    return s;
}
Strings texts(const Signal& s, double noiseDbfs = -45.0) {
    T_DTMF d;
    return test::numbers(d, onLine(s, noiseDbfs));
}

TEST(T_DTMF, KeysLevelAndTimingDecideWhatCounts) {
    // Every digit key counts; "*", "#" and the fourth column add nothing. Each tone's power after the
    // 284-point Hamming window is about (a x 153 / 2)^2: a pair at -60 dBFS (a = 0.0005 per tone)
    // gives 1.5e-3, above the 1e-4 floor; at -75 dBFS 4.6e-5, below. A valid block needs the tone over
    // its whole 25.8 ms window, so 4 blocks (26 ms) take a tone of about 52 ms; 120 blocks are 773 ms.
    // A pause must leave 4 blocks free of tone: 10 ms joins two.
    struct Case {
        const char* keys;
        double dbfs, noiseDbfs, toneMs, pauseMs;
        Strings expected;
    };
    for (const Case& c :
         {Case{"0123456789", -3, -45, 60, 60, {"0123456789"}}, Case{"0123456789", -25, -45, 60, 60, {"0123456789"}},
          Case{"0123456789", -60, -300, 60, 60, {"0123456789"}}, Case{"0123456789", -75, -300, 60, 60, {}},
          Case{"*#ABCD", -10, -45, 70, 70, {}}, Case{"1*2#3A4D", -10, -45, 70, 70, {"1234"}},
          Case{"12", -10, -45, 15, 100, {}}, Case{"12", -10, -45, 65, 60, {"12"}},
          Case{"12", -10, -45, 600, 100, {"12"}}, Case{"12", -10, -45, 1000, 100, {}},
          Case{"11", -10, -45, 60, 10, {"1"}}})
        EXPECT_EQ(texts(test::dtmfNumber(c.keys, c.dbfs, c.toneMs, c.pauseMs), c.noiseDbfs), c.expected)
            << c.keys << " " << c.dbfs << " dBFS " << c.toneMs << "/" << c.pauseMs << " ms";
}

TEST(T_DTMF, PairNeedsTwistHarmonicsAndOtherFiltersWithinTheirLimits) {
    // Power ratios are squared amplitude ratios. Twist (column/row amplitude): 0.4 -> 6.25 >= 5
    // rejected, 0.5 -> 4 kept. Second harmonic of the row: 0.2 -> 25 < 40 rejected, 0.1 -> 100 kept.
    // A third tone on another row (770 Hz) counts among the 14 others: 0.5 -> pair/others = 14 / 0.25
    // = 56 < 100 rejected, 0.2 -> 350 kept.
    struct Case {
        double columnRatio, harmonicRatio, thirdRatio;
        Strings expected;
    };
    for (const Case& c : {Case{0.4, 0, 0, {}}, Case{0.5, 0, 0, {"1"}}, Case{1, 0.2, 0, {}}, Case{1, 0.1, 0, {"1"}},
                          Case{1, 0, 0.5, {}}, Case{1, 0, 0.2, {"1"}}}) {
        const std::size_t n = test::samplesOf(80.0);
        Signal s = test::tone(697.0, 0.2, n);
        for (auto [hz, ratio] : {std::pair{1209.0, c.columnRatio}, {2 * 697.0, c.harmonicRatio}, {770.0, c.thirdRatio}})
            test::mixInto(s, test::tone(hz, 0.2 * ratio, n));
        EXPECT_EQ(texts(s), c.expected) << c.columnRatio << " " << c.harmonicRatio << " " << c.thirdRatio;
    }
}

TEST(T_DTMF, TwoKeysWithoutPauseCountAsOneToneWonByTheLonger) {
    Signal s = test::dtmfNumber("1", -10.0, 100.0);  // 697 + 1209 Hz, then 697 + 1336 Hz for longer
    test::append(s, test::dtmfNumber("2", -10.0, 200.0));
    EXPECT_EQ(texts(s), Strings{"2"});
}

TEST(T_DTMF, NumberIsHandedOverAfter1001QuietBlocks) {
    Signal s = test::silence(2000);
    test::append(s, test::dtmfNumber("5", -10.0, 80.0));
    const std::size_t toneEnd = s.size();
    T_DTMF d;
    const auto h = test::handovers(d, onLine(s, -300.0));
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].text, "5");
    // The last valid block ends at most one window (284 samples) after the tone; 1001 more blocks of
    // 71 samples follow before the hand-over (one block of slack for the block grid).
    EXPECT_GE(h[0].sample, toneEnd + 1000 * 71);
    EXPECT_LE(h[0].sample, toneEnd + 284 + 1002 * 71);
}

TEST(T_DTMF, LoudNoiseSpeechAndAResetNumberGiveNoDigits) {
    EXPECT_EQ(texts(test::silence(1000), -10.0), Strings{});
    EXPECT_EQ(texts(test::speechLike(10.0, 0.5, 3)), Strings{});
    T_DTMF d;
    (void)test::handovers(d, test::dtmfNumber("12", -10.0, 70.0, 70.0));
    d.Reset();
    EXPECT_EQ(test::numbers(d, test::silence(test::samplesOf(7000.0))), Strings{});
}

}  // namespace
}  // namespace kestavo::dsp
