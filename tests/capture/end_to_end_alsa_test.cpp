// The same road through the ALSA backend, without a sound card: a private ALSA configuration
// defines a `file` capture PCM over the `null` plugin that reads a raw stereo file bit-exact.
// Such a PCM delivers as fast as it is read, so the test's sinks play the part of a real-time
// device: each block waits until the channels have taken the one before, and the clock moves
// by one block's duration.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "capture/capture_thread.h"
#include "capture/channel.h"
#include "platform/alsa/alsa_input.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {
constexpr int kBlock = 16384;
constexpr int kRate = 11025;

}  // namespace

TEST(EndToEndAlsa, StereoCaptureThroughAlsaRecordsBothSides) {
    test::TempDir dir("kestavo-e2e-alsa");
    // 30 s of line: left loud from 8 s to 16 s, right loud from 12 s to 22 s; then 20 s more
    // than is read, because the PCM repeats stale data after the end of its file.
    const std::size_t frames = std::size_t(50 * kRate);
    std::vector<std::int16_t> raw(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const auto tone = [&](double f) { return std::int16_t(std::lround(12000.0 * std::sin(2 * M_PI * f * t))); };
        raw[2 * i] = (t >= 8 && t < 16) ? tone(440) : std::int16_t(int(i % 5) - 2);
        raw[2 * i + 1] = (t >= 12 && t < 22) ? tone(620) : std::int16_t(int(i % 3) - 1);
    }
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
    int id = -1;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].productName == "kestavo_line") id = int(i);
    ASSERT_GE(id, 0);

    platform::FakeClock clock(platform::LocalTime{2026, 12, 5, 9, 0, 0, 0});
    platform::MainDispatcher dispatcher;
    platform::PendingWork pending;
    std::vector<std::unique_ptr<capture::Tchannel>> channels;
    for (int n = 1; n <= 2; ++n) {
        capture::ChannelEnv env;
        env.clock = &clock;
        env.dispatcher = &dispatcher;
        env.pending = &pending;
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        capture::ChannelParams p;
        p.channelNumber = n;
        auto c = std::make_unique<capture::Tchannel>(p, env, g);
        c->SetRecordDir((dir / "SOUND").string());
        c->SetThreshold(-30.0);
        c->SetDelays(1, 1.0, 2.0);
        c->SetMinTime(5);
        c->SetPredTime(2);
        c->SetAutoRecord(true);
        channels.push_back(std::move(c));
    }

    platform::Event stop;
    const int blocksToRead = int(30 * kRate / kBlock);  // 20 blocks, 29.7 s
    std::atomic<int> blocks{0};
    capture::SoundInParams sp;
    sp.deviceId = id;
    sp.leftChannel = 1;
    sp.rightChannel = 2;
    sp.leftSink = [&](const std::byte* b, std::uint32_t n) {
        if (blocks >= blocksToRead) return;
        clock.advance(std::chrono::milliseconds(1486));
        channels[0]->PutData(b, n);
    };
    sp.rightSink = [&](const std::byte* b, std::uint32_t n) {
        if (blocks >= blocksToRead) return;
        channels[1]->PutData(b, n);
        (void)pending.waitIdle({}, 10s);
        if (++blocks == blocksToRead) stop.set();
    };
    {
        capture::tsoundin in(alsa, sp, stop, {});
        ASSERT_FALSE(in.Failed());
        ASSERT_TRUE(stop.wait(60s));
    }
    channels.clear();
    snd_config_update_free_global();

    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(dir / "SOUND")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    // Each recording is a stretch of its own side, sample for sample.
    for (int side = 0; side < 2; ++side) {
        const auto wav = test::readWav(files[std::size_t(side)]);
        ASSERT_TRUE(wav);
        EXPECT_EQ(wav->dataSize, wav->bytes.size());
        const auto got = wav->samples16();
        ASSERT_GT(got.size(), std::size_t(5 * kRate));
        // Whole blocks after a pre-record of 2 s (22050 samples).
        EXPECT_EQ((got.size() - 22050) % kBlock, 0u);
        ASSERT_GE(got.size(), 22050u);
        bool found = false;  // the trigger's block starts at b * kBlock, 2 s (22050 samples) after block 1's start
        for (std::size_t b = 2; b + (got.size() - 22050) / kBlock <= std::size_t(blocksToRead) && !found; ++b) {
            const std::size_t from = b * kBlock - 22050;
            bool same = true;
            for (std::size_t i = 0; i < got.size() && same; ++i)
                same = got[i] == raw[2 * (from + i) + std::size_t(side)];
            found = same;
        }
        EXPECT_TRUE(found) << "side " << side;
    }
}
