// A stereo line from end to end: a WAV file on a file-backed line, the capture thread splitting
// it into sides, two channels recording by level, and the recordings compared with the line.
#include <gtest/gtest.h>

#include <cmath>

#include "capture/capture_thread.h"
#include "capture/channel.h"
#include "platform/file/file_lines.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int kBlock = 16384;
constexpr int kRate = 11025;

// One side of the line: faint hiss with 440 Hz bursts over [from, to) seconds.
std::vector<std::int16_t> side(double seconds, std::vector<std::pair<double, double>> bursts, double freq) {
    std::vector<std::int16_t> s(std::size_t(seconds * kRate));
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = std::int16_t(int(i % 5) - 2);
    for (auto [from, to] : bursts)
        for (std::size_t i = std::size_t(from * kRate); i < std::size_t(to * kRate) && i < s.size(); ++i)
            s[i] = std::int16_t(std::lround(12000.0 * std::sin(2 * 3.14159265358979 * freq * double(i) / kRate)));
    return s;
}

struct Recorder {
    std::vector<capture::ChannelEvent> events;
    std::mutex mutex;
};

}  // namespace

TEST(EndToEnd, StereoFileLineRecordsEachSideByLevelWithPreRecord) {
    test::TempDir dir("kestavo-e2e");
    const auto left = side(60.0, {{10.0, 20.0}, {40.0, 41.0}}, 440.0);  // the second burst is too short
    const auto right = side(60.0, {{25.0, 35.0}}, 700.0);
    std::vector<std::int16_t> frames(left.size() * 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
        frames[2 * i] = left[i];
        frames[2 * i + 1] = right[i];
    }
    fs::create_directories(dir / "LINES");
    test::writeWav16(dir / "LINES" / "exchange.wav", 2, frames);

    platform::PendingWork pending;
    platform::FileLineSystem lines(dir / "LINES", platform::LinePace::Fast,
                                   platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}, pending);
    ASSERT_EQ(lines.inputDevices().size(), 1u);
    EXPECT_EQ(lines.inputDevices()[0].productName, "exchange.wav");
    platform::MainDispatcher dispatcher;

    Recorder rec[2];
    std::vector<std::unique_ptr<capture::Tchannel>> channels;
    for (int n = 1; n <= 2; ++n) {
        capture::ChannelEnv env;
        env.clock = lines.clock();
        env.dispatcher = &dispatcher;
        env.pending = &pending;
        env.observer = [&r = rec[n - 1]](const capture::ChannelEvent& e) {
            std::lock_guard lock(r.mutex);
            r.events.push_back(e);
        };
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        capture::ChannelParams p;
        p.channelNumber = n;
        p.inputIndex = n;
        auto c = std::make_unique<capture::Tchannel>(p, env, g);
        c->SetRecordDir((dir / "SOUND").string());
        c->SetPrefix("L_");
        c->SetThreshold(-30.0);
        c->SetDelays(1, 1.0, 3.0);
        c->SetMinTime(5);
        c->SetPredTime(5);
        c->SetAutoRecord(true);
        channels.push_back(std::move(c));
    }

    platform::Event stop;
    capture::SoundInParams sp;
    sp.leftChannel = 1;
    sp.rightChannel = 2;
    sp.leftSink = [&](const std::byte* b, std::uint32_t n) { channels[0]->PutData(b, n); };
    sp.rightSink = [&](const std::byte* b, std::uint32_t n) { channels[1]->PutData(b, n); };
    {
        capture::tsoundin in(lines, sp, stop, {});
        ASSERT_FALSE(in.Failed());
        ASSERT_TRUE(lines.allLinesEndedEvent().wait(60s));
        ASSERT_TRUE(pending.waitIdle({}, 30s));
        stop.set();
    }
    channels.clear();

    // Channel 1: one recording kept, the one-second burst deleted for being shorter than 5 s.
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir / "SOUND")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(rec[0].events.size(), 4u);
    ASSERT_EQ(rec[1].events.size(), 2u);
    ASSERT_EQ(files.size(), 2u) << (files.empty() ? "" : files[0].string());

    const auto check = [&](const fs::path& file, const std::vector<std::int16_t>& line,
                           const capture::ChannelEvent& start, const capture::ChannelEvent& stopEvent) {
        const auto wav = test::readWav(file);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->channels, 1);
        EXPECT_EQ(wav->sampleRate, kRate);
        EXPECT_EQ(wav->dataSize, wav->bytes.size());
        EXPECT_EQ(wav->riffSize, wav->dataSize + 36);
        // From 5 s (55125 samples) before the trigger's block to the start of the stop's block.
        const std::size_t from = start.sample / kBlock * kBlock - 55125;
        const std::size_t to = stopEvent.sample / kBlock * kBlock;
        const auto got = wav->samples16();
        ASSERT_EQ(got.size(), to - from);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), line.begin() + std::ptrdiff_t(from)));
    };
    // The clock follows the sound: the trigger's block is delivered at 16:05:09 + its end.
    const auto nameAt = [](std::uint64_t sample, int channel) {
        const std::uint64_t end = (sample / kBlock + 1) * kBlock;
        const int secs = 9 + int(end / kRate);
        char buf[64];
        std::snprintf(buf, sizeof buf, "L_05_12_2026 16_%02d_%02d_%d.wav", 5 + secs / 60, secs % 60, channel);
        return std::string(buf);
    };
    EXPECT_EQ(files[0].filename().string(), nameAt(rec[0].events[0].sample, 1));
    EXPECT_EQ(files[1].filename().string(), nameAt(rec[1].events[0].sample, 2));
    check(files[0], left, rec[0].events[0], rec[0].events[1]);
    check(files[1], right, rec[1].events[0], rec[1].events[1]);
}
