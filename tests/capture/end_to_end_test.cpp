// A stereo line from end to end: a capture thread splits it into sides, two channels record by
// level, and each recording is compared sample for sample with its side. The line comes from a
// WAV file on a file-backed line, and through the ALSA backend without a sound card: a private
// ALSA configuration defines a `file` capture PCM over the `null` plugin that reads a raw stereo
// file bit-exact.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "capture/capture_thread.h"
#include "platform/alsa/alsa_input.h"
#include "platform/file/file_lines.h"
#include "support/channel_fixture.h"
#include "support/temp_dir.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kSecond = kLineRate;

class EndToEnd : public test::ChannelFixture {
protected:
    std::vector<std::int16_t> side[2];
    std::vector<capture::ChannelEvent> seen[2];  // per channel
    std::vector<std::unique_ptr<capture::Tchannel>> channels;
    platform::Event stop;  // the capture threads' stop event

    // Both sides interleaved as stereo frames.
    std::vector<std::int16_t> frames() const {
        std::vector<std::int16_t> f(side[0].size() * 2);
        for (std::size_t i = 0; i < side[0].size(); ++i) f[2 * i] = side[0][i], f[2 * i + 1] = side[1][i];
        return f;
    }
    // Channels 1 and 2 recording by level: start after 1 s above -30 dB, stop after `stopSeconds`;
    // the sinks of a capture thread that feeds them.
    capture::SoundInParams makeChannels(platform::Clock* lineClock, double stopSeconds, int predSeconds) {
        for (int n = 1; n <= 2; ++n) {
            auto e = env();
            e.clock = lineClock;
            e.observer = [this, n](const capture::ChannelEvent& ev) { seen[n - 1].push_back(ev); };
            auto c = make({.inputIndex = n, .channelNumber = n}, e);
            c->SetPrefix("L_");
            c->SetThreshold(-30.0);
            c->SetDelays(1, 1.0, stopSeconds);
            c->SetMinTime(5);
            c->SetPredTime(predSeconds);
            c->SetAutoRecord(true);
            channels.push_back(std::move(c));
        }
        capture::SoundInParams p;
        p.leftChannel = 1, p.rightChannel = 2;
        p.leftSink = [this](const std::byte* b, std::uint32_t n) { channels[0]->PutData(b, n); };
        p.rightSink = [this](const std::byte* b, std::uint32_t n) { channels[1]->PutData(b, n); };
        return p;
    }
    // Each channel's first recording holds its side from `pre` samples before the trigger's block to
    // the start of the block in which the stop fired (that block is processed after the file closed).
    void expectRecordings(std::size_t pre, std::array<std::size_t, 2> loudFromSecond) {
        dispatcher.drain();
        channels.clear();
        const auto files = test::completeWavFiles(dir / "SOUND");
        ASSERT_EQ(files.size(), 2u);
        for (std::size_t n = 0; n < 2; ++n) {
            SCOPED_TRACE("channel " + std::to_string(n + 1));
            ASSERT_GE(seen[n].size(), 2u);
            const capture::ChannelEvent &start = seen[n][0], &end = seen[n][1];
            ASSERT_EQ(std::tuple(start.kind, end.kind), std::tuple(Kind::Start, Kind::Stop));
            // Twenty level values of 551 samples (1 s) above the threshold start the recording.
            EXPECT_NEAR(double(start.sample), double((loudFromSecond[n] + 1) * kSecond), 551.0);
            const std::size_t from = start.sample / kBlock * kBlock - pre, to = end.sample / kBlock * kBlock;
            const auto got = test::readWav(files[n])->samples16();
            ASSERT_EQ(got.size(), to - from);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), side[n].begin() + std::ptrdiff_t(from)));
        }
    }
};

}  // namespace

TEST_F(EndToEnd, StereoFileLineRecordsEachSideByLevelWithPreRecord) {
    // Left loud 10-20 s and 40-41 s (too short to keep), right loud 25-35 s, of 60 s.
    side[0] = test::toneLine(60 * kSecond, {{10 * kSecond, 20 * kSecond}, {40 * kSecond, 41 * kSecond}}, 440.0, 5);
    side[1] = test::toneLine(60 * kSecond, {{25 * kSecond, 35 * kSecond}}, 700.0, 5);
    fs::create_directories(dir / "LINES");
    test::writeWav16(dir / "LINES" / "exchange.wav", 2, frames());
    platform::FileLineSystem lines(dir / "LINES", platform::LinePace::Fast,
                                   platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}, pending);
    {
        capture::tsoundin in(lines, makeChannels(lines.clock(), 3.0, 5), stop, {});
        ASSERT_FALSE(in.Failed());
        ASSERT_TRUE(lines.allLinesEndedEvent().wait(60s));
        ASSERT_TRUE(pending.waitIdle({}, 30s));
        stop.set();
    }
    expectRecordings(5 * kSecond, {10, 25});
    EXPECT_EQ(mainThread, (std::vector<std::string>{"1:start", "1:stop", "2:start", "2:stop", "1:start", "1:stop"}));
    // Level triggers start and stop every recording; the one-second burst's file is gone as too
    // short, and every other stop names the complete file.
    int tooShort = 0;
    for (const auto& r : reports) {
        EXPECT_EQ(r.cause, capture::RecordCause::Level);
        if (r.kind != capture::ChannelReport::Kind::Stopped) continue;
        tooShort += r.outcome == capture::RecordOutcome::TooShort;
        EXPECT_TRUE(r.outcome != capture::RecordOutcome::Kept || fs::exists(r.file)) << r.file;
    }
    EXPECT_EQ(tooShort, 1);
}

TEST_F(EndToEnd, StereoCaptureThroughAlsaRecordsBothSides) {
    // 30 s of line: left loud from 8 s to 16 s, right loud from 12 s to 22 s; then 20 s more than
    // is read, because the PCM repeats stale data after the end of its file.
    side[0] = test::toneLine(50 * kSecond, {{8 * kSecond, 16 * kSecond}}, 440.0, 5);
    side[1] = test::toneLine(50 * kSecond, {{12 * kSecond, 22 * kSecond}}, 620.0, 3);
    const auto raw = frames();
    std::ofstream(dir / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(raw.data()), std::streamsize(raw.size() * 2));
    fs::create_directories(dir / "alsa");
    std::ofstream(dir / "alsa" / "asoundrc")
        << "pcm.kestavo_line {\n  type file\n  slave.pcm \"null\"\n  file \"/dev/null\"\n"
        << "  infile \"" << (dir / "in.raw").string() << "\"\n  format \"raw\"\n}\n";
    test::ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().string());
    test::ScopedEnv pcms("KESTAVO_ALSA_PCMS", "kestavo_line");
    snd_config_update_free_global();
    platform::AlsaSoundInputSystem alsa;
    const auto devices = alsa.inputDevices();
    const auto it = std::ranges::find(devices, "kestavo_line", &platform::InputDeviceInfo::productName);
    ASSERT_NE(it, devices.end());
    // Such a PCM delivers as fast as it is read, so the sinks play the part of a real-time device:
    // each block waits until the channels have taken the one before, and the clock moves by one
    // block's duration.
    const int blocksToRead = int(30 * kSecond / kBlock);  // 20 blocks, 29.7 s
    int blocks = 0;                                       // capture thread only
    auto p = makeChannels(&clock, 2.0, 2);
    p.deviceId = int(it - devices.begin());
    p.leftSink = [&, put = p.leftSink](const std::byte* b, std::uint32_t n) {
        if (blocks < blocksToRead) clock.advance(1486ms), put(b, n);
    };
    p.rightSink = [&, put = p.rightSink](const std::byte* b, std::uint32_t n) {
        if (blocks >= blocksToRead) return;
        put(b, n);
        (void)pending.waitIdle({}, 10s);
        if (++blocks == blocksToRead) stop.set();
    };
    {
        capture::tsoundin in(alsa, p, stop, {});
        ASSERT_FALSE(in.Failed());
        ASSERT_TRUE(stop.wait(60s));
    }
    snd_config_update_free_global();
    expectRecordings(2 * kSecond, {8, 12});
}
