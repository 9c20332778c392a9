// The number detectors against the signals they decode: T_DTMF (the DTMF keypad), t_aon (the АОН
// two-of-six cycle) and TPulse_detector with its filter (loop-disconnect clicks).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/caller_id_mf.h"
#include "dsp/dtmf_detector.h"
#include "dsp/fir_filters.h"
#include "dsp/pulse_dial_detector.h"
#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

// ---- T_DTMF: rows 697, 770, 852, 941 Hz; columns 1209, 1336, 1477, 1633 Hz. Documented limits:
// 4 ... 120 blocks of 71 samples per tone, 4 blocks of pause, 1001 quiet blocks before a number is
// handed over, a pair 20 dB above the rest, each tone 16 dB above its second harmonic, a twist below
// 7 dB and a tone power above 1e-4.
// s, then 7 s of line (more than the 6.45 s that end a number), all with noise at noiseDbfs.
Signal onLine(Signal s, double noiseDbfs) {
    test::append(s, test::silence(test::samplesOf(7000.0)));
    if (noiseDbfs > -200.0) test::mixInto(s, test::noise(test::amplitudeOf(noiseDbfs), s.size(), 1));
    return s;
}
Strings dtmf(const Signal& s, double noiseDbfs = -45.0) {
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
        EXPECT_EQ(dtmf(test::dtmfNumber(c.keys, c.dbfs, c.toneMs, c.pauseMs), c.noiseDbfs), c.expected)
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
        EXPECT_EQ(dtmf(s), c.expected) << c.columnRatio << " " << c.harmonicRatio << " " << c.thirdRatio;
    }
}

TEST(T_DTMF, TwoKeysWithoutPauseCountAsOneToneWonByTheLonger) {
    Signal s = test::dtmfNumber("1", -10.0, 100.0);  // 697 + 1209 Hz, then 697 + 1336 Hz for longer
    test::append(s, test::dtmfNumber("2", -10.0, 200.0));
    EXPECT_EQ(dtmf(s), Strings{"2"});
}

TEST(T_DTMF, NumberIsHandedOverAfter1001QuietBlocksAndResetForgetsTheDigitsBefore) {
    Signal s = test::silence(2000);
    test::append(s, test::dtmfNumber("5", -10.0, 80.0));
    const std::size_t toneEnd = s.size();
    T_DTMF d;
    (void)test::handovers(d, test::dtmfNumber("12", -10.0, 70.0, 70.0));
    d.Reset();
    const auto h = test::handovers(d, onLine(s, -300.0));
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].text, "5");
    // The last valid block ends at most one window (284 samples) after the tone; 1001 more blocks of
    // 71 samples follow before the hand-over (one block of slack for the block grid).
    EXPECT_GE(h[0].sample, toneEnd + 1000 * 71);
    EXPECT_LE(h[0].sample, toneEnd + 284 + 1002 * 71);
}

TEST(T_DTMF, LoudNoiseAndSpeechGiveNoDigits) {
    EXPECT_EQ(dtmf(test::silence(1000), -10.0), Strings{});
    EXPECT_EQ(dtmf(test::speechLike(10.0, 0.5, 3)), Strings{});
}

// ---- t_aon: "Н", a category symbol, the digits last to first, a further symbol, "Н" again; 40 ms
// two-of-six symbols sent back to back; "П" repeats the digit beside it.
// Symbols as the exchange sends them, then 200 ms of quiet line.
Signal line(std::string_view symbols, double symbolMs = 40.0, double amplitude = 0.1) {
    Signal s = test::aonSymbols(symbols, amplitude, symbolMs);
    test::append(s, test::silence(test::samplesOf(200.0)));
    test::mixInto(s, test::noise(test::amplitudeOf(-50.0), s.size(), 17));
    return s;
}

TEST(t_aon, CyclesDecodeToTheirSixDigitNumbersOrToNothing) {
    // The field between the two "Н" loses its first and last symbols and is read backwards; the
    // symbol after the closing "Н" lets the detector write that "Н". A symbol must be seen again in
    // 9 ... 25 blocks of 30 samples: with the 13.6 ms window, symbols of 30 ... 68 ms count, 26 ms and
    // 70 ms do not. "П" takes the field's next symbol. Five or seven digits give nothing; a pause of more
    // than 10 blocks (40 ms: 14.7) discards the symbols.
    struct Case {
        const char* symbols;
        double symbolMs, amplitude;
        Strings expected;
    };
    for (const Case& c :
         {Case{"H12345679H1", 40.0, 0.1, {"765432"}}, Case{"H39081725H3", 40.0, 0.4, {"271809"}},
          Case{"H39081725H3", 40.0, 0.02, {"271809"}}, Case{"H12345679H1", 30.0, 0.1, {"765432"}},
          Case{"H12345679H1", 68.0, 0.1, {"765432"}}, Case{"H12345679H1", 26.0, 0.1, {}},
          Case{"H12345679H1", 70.0, 0.1, {}}, Case{"H73P58649H7", 40.0, 0.1, {"468553"}},
          Case{"H1234569H1234569H1234569H1", 40.0, 0.1, {}}, Case{"H123456789H123456789H123456789H1", 40.0, 0.1, {}},
          Case{"H1234 5679H1", 40.0, 0.1, {}}}) {
        t_aon d;
        EXPECT_EQ(test::numbers(d, line(c.symbols, c.symbolMs, c.amplitude)), c.expected)
            << c.symbols << " " << c.symbolMs << " ms " << c.amplitude;
    }
}

TEST(t_aon, SilenceNoiseSpeechAndAResetCycleGiveNoNumber) {
    t_aon d;
    EXPECT_EQ(test::numbers(d, test::silence(test::samplesOf(3000.0))), Strings{});
    EXPECT_EQ(test::numbers(d, test::noise(test::amplitudeOf(-20.0), test::samplesOf(5000.0), 3)), Strings{});
    EXPECT_EQ(test::numbers(d, test::speechLike(10.0, 0.5, 5)), Strings{});
    (void)test::numbers(d, test::aonSymbols("H12345", 0.1, 40.0));
    d.Reset();
    EXPECT_EQ(test::numbers(d, line("679H1")), Strings{});
    EXPECT_EQ(test::numbers(d, line("H12345679H1")), Strings{"765432"});
}

// ---- TPulse_detector, its 15-tap high-pass and its envelope follower, fed with dial clicks: breaks of
// about 60 ms and makes of 40 ms (a standard 10 pulses per second dial), digits 600 ms apart. Times
// are counted in the detector's envelope steps of 10 samples (0.907 ms); clicks are laid on step
// boundaries so that a break of B steps is exactly B steps between its two clicks.
constexpr std::size_t kStep = 10;  // samples per envelope step

// Digits as pulse counts: breaks of breakSteps, makes of 44 steps, 660 steps between digits, then
// 4400 steps (4 s, more than the 3.63 s that end a number) of quiet line.
Signal dial(const std::vector<int>& counts, int breakSteps = 66, double clickAmplitude = 0.5) {
    Signal s = test::silence(220 * kStep);
    std::size_t at = s.size();
    for (int c : counts) {
        for (int p = 0; p < c; ++p) {
            test::mixInto(s, test::click(clickAmplitude), at);
            at += std::size_t(breakSteps) * kStep;
            test::mixInto(s, test::click(clickAmplitude), at);
            at += 44 * kStep;
        }
        at += 660 * kStep;
    }
    test::mixInto(s, test::silence(4400 * kStep), at);
    test::mixInto(s, test::noise(test::amplitudeOf(-60.0), s.size(), 9));
    return s;
}

TEST(TPulse_detector, PulseCountsBecomeDigitsAndTenBecomesZero) {
    TPulse_detector d;  // each number is handed over before the next begins
    for (int pulses = 1; pulses <= 11; ++pulses)
        EXPECT_EQ(test::numbers(d, dial({pulses, 3})), Strings{(pulses == 10 ? "0" : std::to_string(pulses)) + "3"});
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

TEST(TPulse_detector, NumberIsHandedOver4000StepsAfterTheLastCountedPulse) {
    TPulse_detector d;
    const auto h = test::handovers(d, dial({4, 2}));
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].text, "42");
    // The last click lies 220 + 4 x 110 + 660 + 110 + 66 steps in. The step holding it counts the
    // pulse; the 4001st step after it hands over.
    const std::size_t lastClick = 1496 * kStep;
    EXPECT_GE(h[0].sample, lastClick + 4000 * kStep);
    EXPECT_LE(h[0].sample, lastClick + 4002 * kStep);
}

TEST(TPulse_detector, ToneSpeechALoneDigitAndResetGiveNoNumberAndTheThresholdIsClamped) {
    TPulse_detector d;
    EXPECT_EQ(test::numbers(d, test::tone(1000.0, 0.5, test::samplesOf(8000.0))), Strings{});
    EXPECT_EQ(test::numbers(d, test::speechLike(8.0, 0.5, 2)), Strings{});
    Signal half = dial({3});
    half.resize(half.size() - 4400 * kStep);  // the digit is written, the number not yet handed over
    (void)test::handovers(d, half);
    d.Reset();
    EXPECT_EQ(test::numbers(d, dial({5})), Strings{});  // a lone digit is dropped, no prefix of the next
    EXPECT_EQ(test::numbers(d, dial({2, 7})), Strings{"27"});
    EXPECT_EQ(d.Threshold(), 0.008);  // the default, kept by Reset; NaN ignored, negatives taken as 0
    d.SetThreshold(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(d.Threshold(), 0.008);
    d.SetThreshold(-1.0);
    EXPECT_EQ(d.Threshold(), 0.0);
}

// |H(f)| of a filter's coefficients, f in Hz at 11025 Hz.
double gain(const std::vector<double>& h, double hz) { return std::abs(test::dftAt(h, hz / kLineRate)); }

TEST(Tfir, LongLowPassApproachesTheIdealAndHighPassIsItsComplement) {
    // 1001 taps, transition 0.2 ... 0.3 of Nyquist (1102.5 ... 1653.75 Hz): gain 1 at DC, 0.5 mid
    // transition, 0 at Nyquist; low-pass plus high-pass of the same edges is a pure delay.
    const std::vector<double> lp = Tfir(Tfir::Kind::LowPass, 1001, 0.2, 0.3).Coefficients();
    for (auto [hz, g] : {std::pair{0.0, 1.0}, {1378.125, 0.5}, {5512.5, 0.0}}) EXPECT_NEAR(gain(lp, hz), g, 1e-3) << hz;
    const Tfir lp15(Tfir::Kind::LowPass, 15, 0.6, 0.7), hp15(Tfir::Kind::HighPass, 14, 0.6, 0.7);  // 14 -> 15
    ASSERT_EQ(hp15.Coefficients().size(), 15u);
    for (std::size_t i = 0; i < 15; ++i)
        EXPECT_NEAR(lp15.Coefficients()[i] + hp15.Coefficients()[i], i == 7 ? 1.0 : 0.0, 1e-15) << i;
}

TEST(TLPF, PulseFilterIsA15TapHighPassThatConvolvesItsInput) {
    TLPF f(14, kLineRate, 3400);
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
