// The monitoring playback as the set-up uses it: moving playback from channel to channel, the
// factory's device and message, the shared inversion switch, and ending while a channel plays.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "app/monitor_playback.h"
#include "capture/channel.h"
#include "platform/clock.h"
#include "platform/file/file_output.h"
#include "support/temp_dir.h"
#include "support/watched_sound.h"

using namespace kestavo;
using namespace std::chrono_literals;

namespace {

constexpr int kBlock = 16384;

// Block `k` of a channel: a faint ramp that names the block (memory order is little-endian).
std::vector<std::byte> marked(int k) {
    std::vector<std::int16_t> s(kBlock);
    for (int i = 0; i < kBlock; ++i) s[std::size_t(i)] = std::int16_t(k * 100 + i % 50);
    std::vector<std::byte> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}

class MonitorPlaybackTest : public ::testing::Test {
protected:
    test::TempDir dir{"kestavo-monitor"};
    platform::FakeClock clock;
    platform::FileSoundOutputSystem output;
    test::WatchedOutput watched{output};  // what the playback opens: counts the blocks it writes
    std::vector<std::string> messages;
    std::shared_ptr<capture::SpectrumInversion> inversion = std::make_shared<capture::SpectrumInversion>();
    app::MonitorFactory factory = app::makeMonitorFactory(
        watched, [this](const std::string& m) { messages.push_back(m); }, inversion, 0ms);

    std::unique_ptr<capture::Tchannel> channel(int number) {
        capture::ChannelParams p;
        p.channelNumber = number;
        capture::ChannelEnv env;
        env.clock = &clock;
        env.writeFiles = false;
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        return std::make_unique<capture::Tchannel>(p, env, g);
    }
    // The channel processes `block` and hands it on, as its thread does.
    static void process(capture::Tchannel& c, std::vector<std::byte> block) {
        c.ProcessBlockNow(block.data(), std::uint32_t(block.size()));
    }
};

}  // namespace

TEST_F(MonitorPlaybackTest, SwitchingTheChannelMovesPlaybackTheInversionSwitchActsAndClosingDetaches) {
    auto a = channel(1), b = channel(2);
    auto monitor = factory(0);  // the device asked for, in mono
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(output.lastFormat()->channels, 1);
    monitor->SelectChannel(a.get());
    process(*a, marked(1));
    process(*b, marked(2));
    ASSERT_TRUE(watched.written.waitFor(1));
    monitor->SelectChannel(b.get());
    process(*a, marked(3));
    process(*b, marked(4));
    ASSERT_TRUE(watched.written.waitFor(2));
    monitor->SelectChannel(nullptr);
    process(*b, marked(5));
    monitor->SelectChannel(a.get());
    process(*a, marked(8));
    ASSERT_TRUE(watched.written.waitFor(3));  // block 5, had it been taken, would have played before 8
    inversion->on = true;                     // the main window's switch reaches the playing monitor
    process(*a, marked(9));
    ASSERT_TRUE(watched.written.waitFor(4));

    monitor.reset();  // playback ends; neither channel may still point at it
    process(*a, marked(6));
    process(*b, marked(7));
    const auto played = output.writtenBlocks();
    ASSERT_EQ(played.size(), 4u);
    EXPECT_EQ(std::vector(played.begin(), played.begin() + 3), (std::vector{marked(1), marked(4), marked(8)}));
    EXPECT_NE(played[3], marked(9));  // inverted (the inversion's arithmetic is tested with the playback)
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(factory(5), nullptr);  // the file-backed output lists one device
    EXPECT_EQ(output.openCount(), 1);
    EXPECT_EQ(messages, std::vector<std::string>{"Устройство занято"});
}

TEST_F(MonitorPlaybackTest, DestroyingTheMonitorWhileItsChannelIsFedEndsWithoutDeadlock) {
    platform::FileSoundOutputSystem realTime(platform::OutputPace::RealTime);
    test::WatchedOutput watchedRealTime(realTime);
    auto monitor = app::makeMonitorFactory(watchedRealTime, nullptr, nullptr, 0ms)(-1);
    auto c = channel(1);
    ASSERT_NE(monitor, nullptr);
    monitor->SelectChannel(c.get());
    std::atomic<bool> feeding{true};
    std::jthread capture([&] {  // the capture thread: blocks as fast as the channel takes them
        const auto block = marked(1);
        while (feeding.load()) {
            c->PutData(block.data(), std::uint32_t(block.size()));
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(watchedRealTime.written.waitFor(2));
    monitor.reset();  // a hang here fails by the test timeout
    feeding = false;
    capture.join();
    EXPECT_GE(realTime.writtenBlocks().size(), 2u);
}
