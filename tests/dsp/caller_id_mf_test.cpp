// t_aon against the АОН cycle format: "Н", a category symbol, the digits last to first, a further
// symbol, "Н" again; 40 ms symbols sent back to back; "П" repeats the digit beside it.
#include "dsp/caller_id_mf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/signal_gen.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

Strings run(t_aon& d, const Signal& s) {
    Strings out;
    for (double x : s)
        if (const auto t = d.Process(x); !t.empty()) out.emplace_back(t);
    return out;
}

// Symbols as the exchange sends them, then 200 ms of quiet line.
Signal line(std::string_view symbols, double symbolMs = 40.0, double amplitude = 0.1) {
    Signal s = test::aonSymbols(symbols, amplitude, symbolMs);
    test::append(s, test::silence(test::samplesOf(200.0)));
    test::mixInto(s, test::noise(test::amplitudeOf(-50.0), s.size(), 17));
    return s;
}

TEST(t_aon, SixDigitCycleIsReadInReverseOrder) {
    // Field "1 234567 9" between the two start symbols: the digits come out as 7 6 5 4 3 2. The
    // symbol after the closing "Н" lets the detector write that "Н".
    t_aon d;
    EXPECT_EQ(run(d,
                  line("H1234567"
                       "9H1")),
              Strings{"765432"});
}

TEST(t_aon, DecodesAtLevelsFromLoudToQuiet) {
    for (double amplitude : {0.4, 0.1, 0.02}) {
        t_aon d;
        EXPECT_EQ(run(d,
                      line("H3908172"
                           "5H3",
                           40.0, amplitude)),
                  Strings{"271809"})
            << amplitude;
    }
}

TEST(t_aon, RepeatSymbolTakesTheSymbolAfterItInTheField) {
    // Field 7 3 П 5 8 6 4 9, read from its next-to-last symbol back to its second:
    // 4 6 8 5, then "П" -> the field's next symbol (5), then 3.
    t_aon d;
    EXPECT_EQ(run(d, line("H73P58649H7")), Strings{"468553"});
}

TEST(t_aon, SymbolsOfAnyLengthWithin9To25RepeatsAreWritten) {
    // 30 ms and 60 ms symbols: 11 ... 22 blocks of 30 samples.
    for (double ms : {30.0, 60.0}) {
        t_aon d;
        EXPECT_EQ(run(d,
                      line("H1234567"
                           "9H1",
                           ms)),
                  Strings{"765432"})
            << ms;
    }
}

TEST(t_aon, FiveAndSevenDigitCyclesYieldNothing) {
    t_aon d;
    // Fields "1 23456 9" and "1 2345678 9", three cycles each.
    EXPECT_TRUE(run(d, line("H1234569H1234569H1234569H1")).empty());
    EXPECT_TRUE(run(d, line("H123456789H123456789H123456789H1")).empty());
}

TEST(t_aon, SymbolsTooShortOrTooLongYieldNothing) {
    // 15 ms gives at most 5 blocks (fewer than 9 repeats); 110 ms gives about 36 (more than 25).
    for (double ms : {15.0, 110.0}) {
        t_aon d;
        EXPECT_TRUE(run(d,
                        line("H1234567"
                             "9H1",
                             ms))
                        .empty())
            << ms;
    }
}

TEST(t_aon, PauseOfMoreThanTenBlocksDiscardsTheSymbols) {
    t_aon d;
    Signal s = test::aonSymbols("H1234", 0.1, 40.0);
    test::append(s, test::silence(test::samplesOf(60.0)));  // 22 blocks
    test::append(s,
                 line("567"
                      "9H1"));
    EXPECT_TRUE(run(d, s).empty());
}

TEST(t_aon, SilenceNoiseAndSpeechGiveNoNumber) {
    t_aon d;
    EXPECT_TRUE(run(d, test::silence(test::samplesOf(3000.0))).empty());
    EXPECT_TRUE(run(d, test::noise(test::amplitudeOf(-20.0), test::samplesOf(5000.0), 3)).empty());
    EXPECT_TRUE(run(d, test::speechLike(10.0, 0.5, 5)).empty());
}

TEST(t_aon, ResetForgetsAHalfReceivedCycle) {
    t_aon d;
    (void)run(d, test::aonSymbols("H12345", 0.1, 40.0));
    d.Reset();
    EXPECT_TRUE(run(d, line("679H1")).empty());
    EXPECT_EQ(run(d,
                  line("H1234567"
                       "9H1")),
              Strings{"765432"});
}

}  // namespace
}  // namespace kestavo::dsp
