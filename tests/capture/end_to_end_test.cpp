// A stereo line from end to end: a WAV file on a file-backed line, a capture thread that splits it
// into sides, two channels recording by level; each recording is compared sample for sample with
// its side.
#include <gtest/gtest.h>

#include "capture/capture_thread.h"
#include "platform/file/file_lines.h"
#include "support/channel_fixture.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using EndToEnd = test::ChannelFixture;

TEST_F(EndToEnd, StereoFileLineRecordsEachSideByLevelWithPreRecord) {
    constexpr std::size_t kSecond = kLineRate;
    // Left loud 10-20 s and 40-41 s (too short to keep), right loud 25-35 s, of 60 s.
    const std::vector<std::int16_t> side[2] = {
        test::toneLine(60 * kSecond, {{10 * kSecond, 20 * kSecond}, {40 * kSecond, 41 * kSecond}}, 440.0, 5),
        test::toneLine(60 * kSecond, {{25 * kSecond, 35 * kSecond}}, 700.0, 5)};
    std::vector<std::int16_t> frames(side[0].size() * 2);
    for (std::size_t i = 0; i < side[0].size(); ++i) frames[2 * i] = side[0][i], frames[2 * i + 1] = side[1][i];
    fs::create_directories(dir / "LINES");
    test::writeWav16(dir / "LINES" / "exchange.wav", 2, frames);
    platform::FileLineSystem lines(dir / "LINES", platform::LinePace::Fast,
                                   platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}, pending);
    // Channels 1 and 2 record by level: start after 1 s above -30 dB, stop after 3 s below it.
    std::vector<capture::ChannelEvent> seen[2];
    std::vector<std::unique_ptr<capture::Tchannel>> channels;
    for (int n = 1; n <= 2; ++n) {
        auto e = env();
        e.clock = lines.clock();
        e.observer = [&seen, n](const capture::ChannelEvent& ev) { seen[n - 1].push_back(ev); };
        auto c = make({.inputIndex = n, .channelNumber = n}, e);
        c->SetThreshold(-30.0);
        c->SetDelays(1, 1.0, 3.0);
        c->SetMinTime(5);
        c->SetAutoRecord(true);
        channels.push_back(std::move(c));
    }
    capture::SoundInParams p;
    p.leftChannel = 1, p.rightChannel = 2;
    p.leftSink = [&](const std::byte* b, std::uint32_t n) { channels[0]->PutData(b, n); };
    p.rightSink = [&](const std::byte* b, std::uint32_t n) { channels[1]->PutData(b, n); };
    platform::Event stop;
    {
        capture::tsoundin in(lines, p, stop, {});
        ASSERT_FALSE(in.Failed());
        ASSERT_TRUE(lines.allLinesEndedEvent().wait(60s));
        ASSERT_TRUE(pending.waitIdle({}, 30s));
        stop.set();
    }
    dispatcher.drain();
    channels.clear();
    EXPECT_EQ(mainThread, (std::vector<std::string>{"1:start", "1:stop", "2:start", "2:stop", "1:start", "1:stop"}));
    // Each channel's first recording holds its side from 5 s before the trigger's block to the start
    // of the block in which the stop fired (that block is processed after the file closed); the
    // one-second burst's file is gone as too short.
    const auto files = test::completeWavFiles(dir / "SOUND");
    ASSERT_EQ(files.size(), 2u);
    const std::size_t loudFrom[2] = {10, 25};
    for (std::size_t n = 0; n < 2; ++n) {
        SCOPED_TRACE("channel " + std::to_string(n + 1));
        ASSERT_GE(seen[n].size(), 2u);
        const capture::ChannelEvent &start = seen[n][0], &end = seen[n][1];
        ASSERT_EQ(std::tuple(start.kind, end.kind), std::tuple(Kind::Start, Kind::Stop));
        // Twenty level values of 551 samples (1 s) above the threshold start the recording.
        EXPECT_NEAR(double(start.sample), double((loudFrom[n] + 1) * kSecond), 551.0);
        const std::size_t from = start.sample / kBlock * kBlock - 5 * kSecond, to = end.sample / kBlock * kBlock;
        const auto got = test::readWav(files[n])->samples16();
        ASSERT_EQ(got.size(), to - from);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), side[n].begin() + std::ptrdiff_t(from)));
    }
    for (const auto& r : reports) EXPECT_EQ(r.cause, capture::RecordCause::Level);  // level starts and stops all
}
