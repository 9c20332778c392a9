// t_aon against the АОН cycle format: "Н", a category symbol, the digits last to first, a further
// symbol, "Н" again; 40 ms two-of-six symbols sent back to back; "П" repeats the digit beside it.
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

TEST(t_aon, CyclesDecodeToTheirSixDigitNumbersOrToNothing) {
    // The field between the two "Н" loses its first and last symbols and is read backwards; the
    // symbol after the closing "Н" lets the detector write that "Н". A symbol lasts 9 ... 25 blocks
    // of 30 samples (24 ... 68 ms): 15 ms and 110 ms fall outside. "П" takes the field's next symbol.
    struct Case {
        const char* symbols;
        double symbolMs, amplitude;
        Strings expected;
    };
    for (const Case& c : {
             Case{"H12345679H1", 40.0, 0.1, {"765432"}}, Case{"H39081725H3", 40.0, 0.4, {"271809"}},
             Case{"H39081725H3", 40.0, 0.02, {"271809"}}, Case{"H12345679H1", 30.0, 0.1, {"765432"}},
             Case{"H12345679H1", 60.0, 0.1, {"765432"}}, Case{"H12345679H1", 15.0, 0.1, {}},
             Case{"H12345679H1", 110.0, 0.1, {}}, Case{"H73P58649H7", 40.0, 0.1, {"468553"}},
             Case{"H1234569H1234569H1234569H1", 40.0, 0.1, {}},        // five digits
             Case{"H123456789H123456789H123456789H1", 40.0, 0.1, {}},  // seven digits
         }) {
        t_aon d;
        EXPECT_EQ(run(d, line(c.symbols, c.symbolMs, c.amplitude)), c.expected)
            << c.symbols << " " << c.symbolMs << " ms " << c.amplitude;
    }
}

TEST(t_aon, PauseOfMoreThanTenBlocksDiscardsTheSymbols) {
    for (auto [pauseMs, expected] : {std::pair{60.0, Strings{}}, std::pair{0.0, Strings{"765432"}}}) {
        t_aon d;
        Signal s = test::aonSymbols("H1234", 0.1, 40.0);
        test::append(s, test::silence(test::samplesOf(pauseMs)));  // 60 ms: 22 blocks
        test::append(s, line("5679H1"));
        EXPECT_EQ(run(d, s), expected) << pauseMs;
    }
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
    EXPECT_EQ(run(d, line("H12345679H1")), Strings{"765432"});
}

}  // namespace
}  // namespace kestavo::dsp
