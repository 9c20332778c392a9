// What a channel does with its detectors' answers: the gates that decide when the caller-ID,
// DTMF and pulse decoders run, the two-character rule, and the compressor and clipping on the
// way back into the block.
#include <gtest/gtest.h>

#include <cmath>

#include "capture/channel.h"
#include "support/signal_gen.h"
#include "support/temp_dir.h"

using namespace kestavo;
using Kind = capture::ChannelEvent::Kind;
using test::Signal;

namespace {

constexpr int kBlock = 16384;

class ChannelDetectors : public ::testing::Test {
protected:
    test::TempDir dir{"kestavo-detectors"};
    platform::FakeClock clock;
    platform::MainDispatcher dispatcher;
    std::vector<capture::ChannelEvent> events;
    std::unique_ptr<capture::Tchannel> channel;
    std::uint64_t fed = 0;

    void SetUp() override {
        capture::ChannelEnv env;
        env.clock = &clock;
        env.dispatcher = &dispatcher;
        env.writeFiles = false;
        env.observer = [this](const capture::ChannelEvent& e) { events.push_back(e); };
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        channel = std::make_unique<capture::Tchannel>(capture::ChannelParams{}, env, g);
        channel->SetDtmf(true);
    }

    // Runs the signal through the channel in blocks, as the channel thread would.
    std::vector<std::int16_t> run(const Signal& s) {
        std::vector<std::int16_t> pcm(s.size());
        for (std::size_t i = 0; i < s.size(); ++i)
            pcm[i] = std::int16_t(std::lround(std::clamp(s[i], -1.0, 32767.0 / 32768.0) * 32768.0));
        for (std::size_t at = 0; at < pcm.size(); at += kBlock) {
            const std::size_t n = std::min<std::size_t>(kBlock, pcm.size() - at);
            fed += n;
            clock.advanceTo(std::chrono::milliseconds(std::int64_t(fed) * 1000 / 11025));
            channel->ProcessBlockNow(reinterpret_cast<std::byte*>(pcm.data() + at), std::uint32_t(n * 2));
        }
        return pcm;
    }
    std::vector<std::string> texts(Kind kind) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
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
};

}  // namespace

TEST_F(ChannelDetectors, AnIdleChannelDecodesNothingWhileDetectorsWaitForARecording) {
    run(dtmf("1234"));
    run(dial({2, 7}));
    EXPECT_TRUE(texts(Kind::Dtmf).empty());
    EXPECT_TRUE(texts(Kind::Pulse).empty());
    channel->SetDetectOnlyWhileRecording(false);
    run(dtmf("1234"));
    EXPECT_EQ(texts(Kind::Dtmf), std::vector<std::string>{"1234"});
}

TEST_F(ChannelDetectors, ASingleDtmfDigitIsIgnoredAndTwoAreReported) {
    channel->SetDetectOnlyWhileRecording(false);
    run(dtmf("5"));
    EXPECT_TRUE(texts(Kind::Dtmf).empty());
    run(dtmf("56"));
    EXPECT_EQ(texts(Kind::Dtmf), std::vector<std::string>{"56"});
}

TEST_F(ChannelDetectors, AfterAStartOnlyTheFirstPulseNumberIsReported) {
    channel->ScheduleOperatorAction(0, true);
    run(dial({2, 7}));
    run(dial({4, 3}));
    EXPECT_EQ(texts(Kind::Pulse), std::vector<std::string>{"27"});
    // The next stop arms pulse decoding again.
    channel->ScheduleOperatorAction(fed, false);
    channel->ScheduleOperatorAction(fed + 1, true);
    run(dial({5, 1}));
    EXPECT_EQ(texts(Kind::Pulse), (std::vector<std::string>{"27", "51"}));
}

TEST_F(ChannelDetectors, ADtmfReportEndsPulseDecodingUntilTheNextStartOrStop) {
    channel->ScheduleOperatorAction(0, true);
    run(dtmf("90"));
    run(dial({2, 7}));
    EXPECT_EQ(texts(Kind::Dtmf), std::vector<std::string>{"90"});
    EXPECT_TRUE(texts(Kind::Pulse).empty());
}

TEST_F(ChannelDetectors, TheStopCarriesTheLastNumberCutToTwentyCharacters) {
    channel->ScheduleOperatorAction(0, true);
    run(dtmf("1234567890123456789012345"));
    channel->ScheduleOperatorAction(fed, false);
    run(test::silence(100));
    const auto stops = texts(Kind::Stop);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0], "12345678901234567890");
}

TEST_F(ChannelDetectors, CompressorCurveAppliesToNegativeSamplesAndClipsAtFullScale) {
    channel->SetCompressor(true);
    channel->SetK1(1.8);
    channel->SetK2(7.0);
    Signal s(2000, 0.0);
    for (std::size_t i = 0; i < s.size(); i += 4) {
        s[i] = 0.1;
        s[i + 1] = -0.1;
        s[i + 2] = 0.0;
        s[i + 3] = -0.5;
    }
    const auto out = run(s);
    // 0.1 arrives as 3277/32768: 1.8 (1 - e^(-7 * 3277/32768)) = 0.90619 -> 29694;
    // 1.8 (1 - e^0.7) = -1.825 -> clipped to -32768.
    EXPECT_EQ(out[0], 29694);
    EXPECT_EQ(out[1], -32768);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], -32768);
}

TEST_F(ChannelDetectors, ACompressorOverflowLeavesTheSampleAsItWas) {
    channel->SetCompressor(true);
    channel->SetK1(1.8);
    channel->SetK2(1e6);  // e^(1e6 * 0.5) overflows for a negative sample
    Signal s = {-0.5, 0.25};
    const auto out = run(s);
    EXPECT_EQ(out[0], -16384);
    EXPECT_EQ(out[1], 32767);  // 1.8 (1 - e^-250000) = 1.8, clipped
}
