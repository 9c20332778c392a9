// What a channel does with its detectors' answers: the gates that decide when the caller-ID,
// DTMF and pulse decoders run, the two-character rule, and the compressor and clipping on the
// way back into the block.
#include <gtest/gtest.h>

#include "support/channel_fixture.h"

using namespace kestavo;
using test::Signal;

namespace {

class ChannelDetectors : public test::ChannelFixture {
protected:
    std::unique_ptr<capture::Tchannel> channel;

    void SetUp() override {
        auto e = env();
        e.writeFiles = false;
        channel = make({}, e);
        channel->SetDtmf(true);
    }
    static Signal dial(const std::vector<int>& counts) {
        Signal s = test::silence(test::samplesOf(200.0));
        for (int c : counts) {
            test::append(s, test::pulseTrain(c, 60.0, 40.0, 0.5));
            test::append(s, test::silence(test::samplesOf(600.0)));
        }
        test::append(s, test::silence(test::samplesOf(4000.0)));
        return s;
    }
    static Signal dtmf(std::string_view keys) {
        Signal s = test::dtmfNumber(keys, -10.0, 80.0, 80.0);
        test::append(s, test::silence(test::samplesOf(7000.0)));  // a number is handed over after 6.45 s of quiet
        return s;
    }
    void startAt(std::uint64_t sample) { channel->ScheduleOperatorAction(sample, true); }
    void restart() {  // the operator's stop and start
        channel->ScheduleOperatorAction(fed, false);
        startAt(fed + 1);
    }
};

}  // namespace

TEST_F(ChannelDetectors, AnIdleChannelDecodesNothingWhileDetectorsWaitForARecordingAndOneDigitIsNoise) {
    process(*channel, dtmf("1234"));
    process(*channel, dial({2, 7}));
    EXPECT_TRUE(texts(Kind::Dtmf).empty());
    EXPECT_TRUE(texts(Kind::Pulse).empty());
    channel->SetDetectOnlyWhileRecording(false);
    process(*channel, dtmf("5"));
    process(*channel, dtmf("1234"));
    EXPECT_EQ(texts(Kind::Dtmf), std::vector<std::string>{"1234"});
    EXPECT_EQ(mainThread, std::vector<std::string>{"1:1234"});
}

TEST_F(ChannelDetectors, AfterAStartOrStopOnlyTheFirstPulseNumberIsReportedAndDtmfEndsPulseDecoding) {
    startAt(0);
    process(*channel, dial({2, 7}));
    process(*channel, dial({4, 3}));
    EXPECT_EQ(texts(Kind::Pulse), std::vector<std::string>{"27"});
    // The next stop arms pulse decoding again; a DTMF number disarms it as a pulse number does.
    restart();
    process(*channel, dtmf("90"));
    process(*channel, dial({2, 7}));
    EXPECT_EQ(texts(Kind::Dtmf), std::vector<std::string>{"90"});
    restart();
    process(*channel, dial({5, 1}));
    EXPECT_EQ(texts(Kind::Pulse), (std::vector<std::string>{"27", "51"}));
}

TEST_F(ChannelDetectors, TheStopCarriesTheLastNumberCutToTwentyCharacters) {
    startAt(0);
    process(*channel, dtmf("1234567890123456789012345"));
    channel->ScheduleOperatorAction(fed, false);
    process(*channel, test::silence(100));
    EXPECT_EQ(texts(Kind::Stop), std::vector<std::string>{"12345678901234567890"});
}

TEST_F(ChannelDetectors, CompressorCurveAppliesToNegativeSamplesClipsAtFullScaleAndAnOverflowLeavesTheSample) {
    struct Case {
        double k2, in;
        std::int16_t out;
    };
    // 0.1 arrives as 3277/32768: 1.8 (1 - e^(-7 x 3277/32768)) = 0.90619 -> 29694; 1.8 (1 - e^0.7)
    // = -1.825 and 1.8 (1 - e^3.5) are clipped; with K2 = 1e6, e^(5e5) overflows: -0.5 stays, and
    // 1.8 (1 - e^-250000) = 1.8 is clipped.
    for (const Case& k : {Case{7.0, 0.1, 29694}, Case{7.0, -0.1, -32768}, Case{7.0, 0.0, 0}, Case{7.0, -0.5, -32768},
                          Case{1e6, -0.5, -16384}, Case{1e6, 0.25, 32767}}) {
        channel->SetCompressor(true);
        channel->SetK1(1.8);
        channel->SetK2(k.k2);
        EXPECT_EQ(process(*channel, Signal{k.in})[0], k.out) << k.k2 << " " << k.in;
    }
}
