#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "capture/capture_thread.h"
#include "platform/messages.h"
#include "support/fake_sound.h"

using namespace kestavo;
using namespace std::chrono_literals;

namespace {

// Collects what a sink receives, and lets a test wait for a number of blocks.
struct Collector {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::vector<std::byte>> blocks;
    capture::BlockSink sink() {
        return [this](const std::byte* b, std::uint32_t n) {
            std::lock_guard lock(mutex);
            blocks.emplace_back(b, b + n);
            cv.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return blocks.size() >= count; });
    }
};

std::vector<std::byte> numberedBytes(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::byte(i * 7 + i / 251);
    return v;
}

test::FakeDevice stereoDevice(std::vector<std::byte> data) {
    test::FakeDevice d;
    d.info = {"Card", true, true};
    d.data = std::move(data);
    return d;
}

}  // namespace

TEST(tsoundin, StereoBufferSplitsIntoLeftAndRightBlocksOfHalfTheLength) {
    test::FakeSoundInputSystem sys;
    const auto data = numberedBytes(65536);
    sys.devices.push_back(stereoDevice(data));
    platform::Event stop;
    Collector left, right;
    capture::SoundInParams p;
    p.leftSink = left.sink();
    p.rightSink = right.sink();
    p.leftChannel = 1;
    p.rightChannel = 2;
    capture::tsoundin in(sys, p, stop, {});
    ASSERT_FALSE(in.Failed());
    ASSERT_TRUE(left.waitFor(1));
    ASSERT_TRUE(right.waitFor(1));
    ASSERT_EQ(left.blocks[0].size(), 32768u);
    ASSERT_EQ(right.blocks[0].size(), 32768u);
    // Left from bytes 0-1, 4-5, ...; right from 2-3, 6-7, ...
    for (std::size_t f = 0; f < 16384; ++f) {
        ASSERT_EQ(left.blocks[0][2 * f], data[4 * f]);
        ASSERT_EQ(left.blocks[0][2 * f + 1], data[4 * f + 1]);
        ASSERT_EQ(right.blocks[0][2 * f], data[4 * f + 2]);
        ASSERT_EQ(right.blocks[0][2 * f + 1], data[4 * f + 3]);
    }
    EXPECT_EQ(sys.lastFormat.channels, 2);
    EXPECT_EQ(sys.lastFormat.avgBytesPerSec, 44100u);
    EXPECT_EQ(sys.lastFormat.blockAlign, 4);
    stop.set();
}

TEST(tsoundin, ShortAndEmptyBuffersGiveShortAndEmptyBlocksInOrder) {
    test::FakeSoundInputSystem sys;
    auto dev = stereoDevice(numberedBytes(65536 + 400));
    dev.bufferFill = {65536, 400, 0};
    sys.devices.push_back(dev);
    platform::Event stop;
    Collector left, right;
    capture::SoundInParams p;
    p.leftSink = left.sink();
    p.rightSink = right.sink();
    capture::tsoundin in(sys, p, stop, {});
    ASSERT_TRUE(left.waitFor(3));
    ASSERT_TRUE(right.waitFor(3));
    EXPECT_EQ(left.blocks[1].size(), 200u);
    EXPECT_EQ(right.blocks[1].size(), 200u);
    EXPECT_EQ(left.blocks[1][0], sys.devices[0].data[65536]);
    EXPECT_EQ(right.blocks[1][0], sys.devices[0].data[65538]);
    EXPECT_EQ(left.blocks[2].size(), 0u);
    EXPECT_EQ(right.blocks[2].size(), 0u);
    stop.set();
}

TEST(tsoundin, BuffersCirculateInOrderPastTheSixth) {
    test::FakeSoundInputSystem sys;
    test::FakeDevice dev;
    dev.info = {"Mono", true, false};
    dev.data = numberedBytes(32768 * 9);
    sys.devices.push_back(dev);
    platform::Event stop;
    Collector left;
    capture::SoundInParams p;
    p.channelCount = 1;
    p.leftSink = left.sink();
    capture::tsoundin in(sys, p, stop, {});
    ASSERT_TRUE(left.waitFor(9));
    for (std::size_t b = 0; b < 9; ++b)
        ASSERT_TRUE(std::equal(left.blocks[b].begin(), left.blocks[b].end(),
                               sys.devices[0].data.begin() + std::ptrdiff_t(b * 32768)))
            << "block " << b;
    stop.set();
}

TEST(tsoundin, MonoDeviceNeverCallsTheRightSink) {
    test::FakeSoundInputSystem sys;
    test::FakeDevice dev;
    dev.info = {"Mono", true, false};
    dev.data = numberedBytes(32768 * 2);
    sys.devices.push_back(dev);
    platform::Event stop;
    Collector left, right;
    capture::SoundInParams p;
    p.channelCount = 1;
    p.rightChannel = -1;
    p.leftSink = left.sink();
    p.rightSink = right.sink();
    capture::tsoundin in(sys, p, stop, {});
    ASSERT_TRUE(left.waitFor(2));
    EXPECT_EQ(left.blocks[0].size(), 32768u);
    stop.set();
    while (in.Running()) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(right.blocks.empty());
}

TEST(tsoundin, StereoRequestOnMonoDeviceSaysSoAndFeedsOnlyTheLeftSide) {
    test::FakeSoundInputSystem sys;
    test::FakeDevice dev;
    dev.info = {"Mono", true, false};
    dev.data = numberedBytes(32768);
    sys.devices.push_back(dev);
    platform::Event stop;
    platform::CollectingMessageSink messages;
    Collector left, right;
    capture::SoundInParams p;
    p.leftSink = left.sink();
    p.rightSink = right.sink();
    capture::tsoundin in(sys, p, stop, [&](const std::string& m) { messages.show(m); });
    ASSERT_TRUE(left.waitFor(1));
    EXPECT_EQ(left.blocks[0].size(), 32768u);
    EXPECT_EQ(in.ChannelCount(), 1);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0], "Ваша звуковая карта не поддерживает режим стерео.");
    stop.set();
    while (in.Running()) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(right.blocks.empty());
}

TEST(tsoundin, OpenIsRetriedOnceThenReportedWithDeviceErrorAndChannels) {
    test::FakeSoundInputSystem sys;
    auto dev = stereoDevice(numberedBytes(65536));
    dev.failOpens = 1;
    sys.devices.push_back(dev);
    platform::Event stop;
    Collector left;
    capture::SoundInParams p;
    p.leftSink = left.sink();
    {
        capture::tsoundin in(sys, p, stop, {}, 0ms);
        EXPECT_FALSE(in.Failed());
        EXPECT_EQ(sys.opens.load(), 2);
        ASSERT_TRUE(left.waitFor(1));
        stop.set();
    }
    stop.reset();
    sys.devices[0].failOpens = 2;
    sys.opens = 0;
    platform::CollectingMessageSink messages;
    capture::tsoundin failed(
        sys, p, stop, [&](const std::string& m) { messages.show(m); }, 0ms);
    EXPECT_TRUE(failed.Failed());
    EXPECT_FALSE(failed.Running());
    EXPECT_EQ(sys.opens.load(), 2);
    ASSERT_EQ(messages.messages().size(), 1u);
    const std::string expected = "Проблема при открытии звукового устройства 0  " +
        std::to_string(std::make_error_code(std::errc::device_or_resource_busy).value()) + "  2";
    EXPECT_EQ(messages.messages()[0], expected);
}

TEST(tsoundin, StopEventEndsAWaitingThreadWithoutWaitingOutTheTimeout) {
    test::FakeSoundInputSystem sys;
    sys.devices.push_back(stereoDevice({}));  // never delivers anything
    platform::Event stop;
    capture::SoundInParams p;
    capture::tsoundin in(sys, p, stop, {});
    EXPECT_EQ(in.Timeout(), 11486ms);
    ASSERT_TRUE(in.Running());
    const auto t0 = std::chrono::steady_clock::now();
    stop.set();
    while (in.Running()) std::this_thread::sleep_for(1ms);
    // Far below the 11.5 s time-out; generous for sanitizer builds.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
}

TEST(tsoundin, VanishedDeviceEndsCaptureWithAMessage) {
    test::FakeSoundInputSystem sys;
    auto dev = stereoDevice(numberedBytes(65536 * 3));
    dev.loseAfterBuffers = 2;
    sys.devices.push_back(dev);
    platform::Event stop;
    Collector left;
    platform::CollectingMessageSink messages;
    capture::SoundInParams p;
    p.leftSink = left.sink();
    capture::tsoundin in(sys, p, stop, [&](const std::string& m) { messages.show(m); });
    ASSERT_TRUE(left.waitFor(2));
    while (in.Running()) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(left.blocks.size(), 2u);
    EXPECT_EQ(messages.messages().size(), 1u);
}
