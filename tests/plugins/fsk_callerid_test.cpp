// The FSK caller-ID decoder on messages built as ETSI EN 300 659-3 and Telcordia GR-30 frame them.
#include <gtest/gtest.h>

#include "fsk_callerid/fsk_decoder.h"
#include "support/decoder_signals.h"

using namespace kestavo;
using test::Report;

namespace {

// A message on the line: 0.3 s of quiet, the FSK at `dbfs` (peak), 0.3 s of quiet; white noise
// `snrDb` below the FSK's power throughout (none when snrDb is 0).
test::Signal line(const std::vector<std::uint8_t>& message, test::FskStandard standard, double dbfs, double snrDb,
                  int seizureBits = 300) {
    test::Signal s = test::silence(test::samplesOf(300.0));
    test::append(s, test::fsk(test::callerIdBits(message, seizureBits), standard, test::amplitudeOf(dbfs)));
    test::append(s, test::silence(test::samplesOf(300.0)));
    return snrDb > 0 ? test::withNoiseUnderSignal(s, snrDb, 7) : s;
}

std::vector<Report> decode(const test::Signal& s) {
    plugins::FskCallerIdDecoder d;
    return test::reports(d, s);
}

struct Case {
    const char* name;
    test::FskStandard standard;
    std::vector<std::uint8_t> message;
    const char* identifier;
    const char* extra;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        {"BellSingle", test::kBell202, test::sdmf("03151430", "5551234567"), "5551234567", "03151430"},
        {"V23Single", test::kV23, test::sdmf("12312359", "0612345678"), "0612345678", "12312359"},
        {"BellSingleWithheld", test::kBell202, test::sdmf("01020304", "P"), "P", "01020304"},
        {"V23MultipleAll", test::kV23, test::mdmf({{0x01, "07041805"}, {0x02, "+33123456789"}, {0x07, "DUPONT JEAN"}}),
         "+33123456789", "DUPONT JEAN, 07041805"},
        {"BellMultipleNameOnly", test::kBell202, test::mdmf({{0x07, "ALICE SMITH"}, {0x02, "2125550199"}}),
         "2125550199", "ALICE SMITH"},
        {"V23MultipleWithheldNumberAndName", test::kV23, test::mdmf({{0x01, "11111111"}, {0x04, "P"}, {0x08, "P"}}),
         "P", "11111111"},
        {"BellMultipleUnavailable", test::kBell202, test::mdmf({{0x04, "O"}, {0x07, "OUT OF AREA"}}), "O",
         "OUT OF AREA"},
        {"V23MultipleNothingButDate", test::kV23, test::mdmf({{0x01, "05060708"}}), "", "05060708"},
        // Parameters the decoder does not show (call type 0x11, called number 0x03) are passed over.
        {"BellMultipleWithOtherParameters", test::kBell202,
         test::mdmf({{0x11, "\x01"}, {0x01, "02282359"}, {0x03, "5550000"}, {0x02, "5551111"}}), "5551111", "02282359"},
    };
    return c;
}

}  // namespace

// Each message at -30 dBFS with 20 dB SNR, loud and clean, and without its channel seizure.
TEST(FskCallerId, ReadsEveryFormatAndStandardQuietOrLoudWithOrWithoutChannelSeizure) {
    for (const Case& c : cases()) {
        for (const auto& [dbfs, snrDb, seizure] : {std::tuple{-30.0, 20.0, 300}, {-3.0, 0.0, 300}, {-3.0, 0.0, 0}}) {
            const auto r = decode(line(c.message, c.standard, dbfs, snrDb, seizure));
            ASSERT_EQ(r.size(), 1u) << c.name << " at " << dbfs << " dBFS, seizure " << seizure;
            EXPECT_EQ(r[0].identifier, c.identifier) << c.name;
            EXPECT_EQ(r[0].extra, c.extra) << c.name;
            EXPECT_EQ(r[0].action, 1) << c.name;
        }
    }
}

// A sender's tolerances: the bit rate 1 % off and both frequencies 15 Hz off (Bell 202 allows
// +-12 Hz on the mark, V.23 +-1.5 %), at -30 dBFS with 20 dB SNR.
TEST(FskCallerId, ReadsSendersAtTheEdgesOfTheirRateAndFrequencyTolerances) {
    const auto message = test::mdmf({{0x01, "07041805"}, {0x02, "+33123456789"}, {0x07, "DUPONT JEAN ET MARIE"}});
    for (const test::FskStandard standard : {test::kBell202, test::kV23}) {
        for (const double baud : {1188.0, 1212.0}) {
            for (const double offset : {-15.0, 15.0}) {
                test::Signal s = test::silence(1000);
                test::append(
                    s,
                    test::fsk(test::callerIdBits(message), {standard.markHz + offset, standard.spaceHz + offset},
                              test::amplitudeOf(-30.0), baud));
                test::append(s, test::silence(1000));
                const auto r = decode(test::withNoiseUnderSignal(s, 20.0, 9));
                ASSERT_EQ(r.size(), 1u) << standard.markHz << " " << baud << " baud, " << offset << " Hz";
                EXPECT_EQ(r[0].identifier, "+33123456789");
                EXPECT_EQ(r[0].extra, "DUPONT JEAN ET MARIE, 07041805");
            }
        }
    }
}

TEST(FskCallerId, ReportsWhenTheChecksumHasArrived) {
    const auto message = test::sdmf("03151430", "5551234567");
    const auto s = line(message, test::kBell202, -20.0, 0.0);
    const auto r = decode(s);
    ASSERT_EQ(r.size(), 1u);
    // The checksum's stop bit ends 180 + 300 marks and seizure plus 10 bits per byte after the
    // 0.3 s of quiet; the report comes within that bit or the next.
    const double end = test::samplesOf(300.0) + (480.0 + 10.0 * double(message.size())) * test::kLineRate / 1200.0;
    EXPECT_GT(double(r[0].sample), end - 2 * test::kLineRate / 1200.0);
    EXPECT_LT(double(r[0].sample), end + test::kLineRate / 1200.0);
}

// A wrong checksum, a corrupt byte, a message cut short, a parameter running past its message,
// or a message that is not a caller's: nothing is reported.
TEST(FskCallerId, AMessageThatIsDamagedOrNotACallersIsNotReported) {
    for (const Case& c : cases()) {
        auto wrongSum = c.message;
        wrongSum.back() = std::uint8_t(wrongSum.back() + 1);
        EXPECT_TRUE(decode(line(wrongSum, c.standard, -20.0, 0.0)).empty()) << c.name;
        auto corrupt = c.message;
        corrupt[3] ^= 0x10;  // one bit of the body flipped
        EXPECT_TRUE(decode(line(corrupt, c.standard, -20.0, 0.0)).empty()) << c.name;
    }
    auto cut = test::sdmf("03151430", "5551234567");
    cut.resize(cut.size() - 3);
    EXPECT_TRUE(decode(line(cut, test::kBell202, -20.0, 0.0)).empty());
    // A parameter claiming 20 bytes inside a 10-byte body, with a correct checksum.
    const auto overrun = test::withChecksum(0x80, {0x02, 20, '5', '5', '5', '1', '2', '3', '4', '5'});
    EXPECT_TRUE(decode(line(overrun, test::kV23, -20.0, 0.0)).empty());
    // Another message type (message waiting, 0x82) is not a caller.
    const auto waiting = test::withChecksum(0x82, {0x0b, 1, 0xff});
    EXPECT_TRUE(decode(line(waiting, test::kV23, -20.0, 0.0)).empty());
}

TEST(FskCallerId, TwoCallsGiveTwoReports) {
    auto s = line(test::sdmf("03151430", "5551234567"), test::kBell202, -25.0, 0.0);
    test::append(s, test::silence(test::samplesOf(4000.0)));
    test::append(s, line(test::mdmf({{0x02, "5559876"}}), test::kV23, -25.0, 0.0));
    const auto r = decode(s);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].identifier, "5551234567");
    EXPECT_EQ(r[1].identifier, "5559876");
}
