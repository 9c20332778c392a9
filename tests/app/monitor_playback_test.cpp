// The monitoring playback as the set-up uses it: moving playback from channel to channel, the
// factory's device and message, the shared inversion switch, and ending while a channel is fed.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/monitor_playback.h"
#include "capture/channel.h"
#include "platform/clock.h"
#include "platform/file/file_output.h"
#include "support/tapped_output.h"
#include "support/temp_dir.h"

using namespace kestavo;

namespace {

constexpr int kBlock = 16384;

// Block `k` of a channel: faint 16-bit sound whose bytes name the block.
std::vector<std::byte> marked(int k) {
    std::vector<std::byte> b(2 * kBlock);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = std::byte(i % 2 ? 0 : k * 16 + i % 11);
    return b;
}

// The channel processes `block` and hands it on, as its thread does.
void process(capture::Tchannel& c, std::vector<std::byte> block) {
    c.ProcessBlockNow(block.data(), std::uint32_t(block.size()));
}

}  // namespace

TEST(MonitorPlayback, SwitchingTheChannelMovesPlaybackTheInversionSwitchActsAndClosingDetaches) {
    test::TempDir dir{"kestavo-monitor"};
    platform::FakeClock clock;
    test::TappedOutputSystem watched;  // what the playback opens: counts the blocks it writes
    platform::FileSoundOutputSystem& output = watched.file;
    std::vector<std::string> messages;
    auto inversion = std::make_shared<capture::SpectrumInversion>();
    auto factory = app::makeMonitorFactory(
        watched, [&](const std::string& m) { messages.push_back(m); }, inversion, std::chrono::milliseconds(0));
    auto channel = [&](int number) {
        return std::make_unique<capture::Tchannel>(capture::ChannelParams{.channelNumber = number},
                                                   capture::ChannelEnv{.clock = &clock, .writeFiles = false},
                                                   capture::ChannelGlobals{.programFolder = dir.path()});
    };
    auto a = channel(1), b = channel(2);
    auto monitor = factory(0);  // the device asked for, in mono
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(output.lastFormat()->channels, 1);
    monitor->SelectChannel(a.get());
    process(*a, marked(1));
    process(*b, marked(2));
    ASSERT_TRUE(watched.waitWritten(1));
    monitor->SelectChannel(b.get());
    process(*a, marked(3));
    process(*b, marked(4));
    ASSERT_TRUE(watched.waitWritten(2));
    monitor->SelectChannel(nullptr);
    process(*b, marked(5));
    monitor->SelectChannel(a.get());
    process(*a, marked(8));
    ASSERT_TRUE(watched.waitWritten(3));  // block 5, had it been taken, would have played before 8
    inversion->on = true;                 // the main window's switch reaches the playing monitor
    process(*a, marked(9));
    ASSERT_TRUE(watched.waitWritten(4));

    // The monitor ends while a capture thread feeds its channel: it detaches the channel first, so
    // it neither hangs (a hang fails by the test timeout) nor leaves a channel pointing at it.
    std::atomic<bool> feeding{true};
    std::jthread capture([&] {
        for (const auto block = marked(6); feeding; std::this_thread::yield()) a->PutData(block.data(), 2 * kBlock);
    });
    ASSERT_TRUE(watched.waitWritten(5));
    monitor.reset();
    feeding = false;
    capture.join();
    const auto played = output.writtenBlocks();
    process(*a, marked(7));
    process(*b, marked(7));
    EXPECT_EQ(output.writtenBlocks().size(), played.size());
    EXPECT_EQ(std::vector(played.begin(), played.begin() + 3), (std::vector{marked(1), marked(4), marked(8)}));
    EXPECT_NE(played[3], marked(9));  // inverted (the inversion's arithmetic is tested with the playback)
    EXPECT_EQ(factory(5), nullptr);   // the file-backed output lists one device
    EXPECT_EQ(output.openCount(), 1);
    EXPECT_EQ(messages, std::vector<std::string>{"Устройство занято"});
}
