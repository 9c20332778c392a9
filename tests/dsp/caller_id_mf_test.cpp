// t_aon against the АОН cycle format: "Н", a category symbol, the digits last to first, a further
// symbol, "Н" again; 40 ms two-of-six symbols sent back to back; "П" repeats the digit beside it.
#include "dsp/caller_id_mf.h"

#include <gtest/gtest.h>

#include "support/detector_run.h"

namespace kestavo::dsp {
namespace {

using test::Signal;
using Strings = std::vector<std::string>;

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
    // 70 ms do not. "П" takes the field's next symbol.
    struct Case {
        const char* symbols;
        double symbolMs, amplitude;
        Strings expected;
    };
    for (const Case& c : {
             Case{"H12345679H1", 40.0, 0.1, {"765432"}}, Case{"H39081725H3", 40.0, 0.4, {"271809"}},
             Case{"H39081725H3", 40.0, 0.02, {"271809"}}, Case{"H12345679H1", 30.0, 0.1, {"765432"}},
             Case{"H12345679H1", 68.0, 0.1, {"765432"}}, Case{"H12345679H1", 26.0, 0.1, {}},
             Case{"H12345679H1", 70.0, 0.1, {}}, Case{"H73P58649H7", 40.0, 0.1, {"468553"}},
             Case{"H1234569H1234569H1234569H1", 40.0, 0.1, {}},        // five digits
             Case{"H123456789H123456789H123456789H1", 40.0, 0.1, {}},  // seven digits
         }) {
        t_aon d;
        EXPECT_EQ(test::numbers(d, line(c.symbols, c.symbolMs, c.amplitude)), c.expected)
            << c.symbols << " " << c.symbolMs << " ms " << c.amplitude;
    }
}

TEST(t_aon, PauseOfMoreThanTenBlocksDiscardsTheSymbols) {
    for (auto [pauseMs, expected] : {std::pair{60.0, Strings{}}, std::pair{0.0, Strings{"765432"}}}) {
        t_aon d;
        Signal s = test::aonSymbols("H1234", 0.1, 40.0);
        test::append(s, test::silence(test::samplesOf(pauseMs)));  // 60 ms: 22 blocks
        test::append(s, line("5679H1"));
        EXPECT_EQ(test::numbers(d, s), expected) << pauseMs;
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

}  // namespace
}  // namespace kestavo::dsp
