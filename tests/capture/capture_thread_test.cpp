// tsoundin over a fake device: frames split into sides in buffer order, open retries, the stop
// event and a vanishing device.
#include <gtest/gtest.h>

#include <optional>

#include "capture/capture_thread.h"
#include "support/fake_capture.h"
#include "support/thread_names.h"

using namespace kestavo;
using namespace std::chrono_literals;

TEST(tsoundin, EachBufferIsSplitIntoSideBlocksInBufferOrderPastTheSixth) {
    struct Case {
        int bits, channels, bytesPerSecond;
        std::vector<std::uint32_t> fills;  // bytes recorded per buffer; empty: nine full buffers
    };
    for (const Case& k :
         {Case{16, 2, 44100, {65536, 400, 0}}, Case{8, 2, 22050, {16384, 400, 0}}, Case{16, 1, 22050, {}}}) {
        SCOPED_TRACE(std::to_string(k.bits) + " bits x " + std::to_string(k.channels));
        test::FakeCapture c;
        test::FakeDevice dev;
        dev.info = {"Card", true, k.channels == 2};
        dev.bufferFill = k.fills;
        std::vector<std::uint32_t> fills = k.fills;
        if (fills.empty()) fills.assign(9, 32768);
        std::size_t total = 0;
        for (auto f : fills) total += f;
        dev.data = test::numberedBytes(total);
        c.sys.devices.push_back(dev);
        auto p = c.params();
        p.bitsPerSample = k.bits;
        p.channelCount = k.channels;
        p.samplesPerBlock = k.bits == 16 ? 16384 : 8192;
        {
            capture::tsoundin in(c.sys, p, c.stop, {});
            ASSERT_TRUE(c.left.waitFor(fills.size()));
            ASSERT_TRUE(k.channels == 1 || c.right.waitFor(fills.size()));
            EXPECT_EQ(c.sys.lastFormat.avgBytesPerSec, std::uint32_t(k.bytesPerSecond));
            EXPECT_EQ(c.sys.lastFormat.blockAlign, k.bits / 8 * k.channels);
            c.stop.set();
        }
        // Reference: side s of frame f is the s-th sample-sized piece of the frame.
        const std::size_t width = std::size_t(k.bits / 8), frame = width * std::size_t(k.channels);
        std::size_t at = 0;
        for (std::size_t b = 0; b < fills.size(); at += fills[b], ++b) {
            for (int side = 0; side < k.channels; ++side) {
                std::vector<std::byte> expected;
                for (std::size_t f = 0; f < fills[b] / frame; ++f)
                    for (std::size_t i = 0; i < width; ++i)
                        expected.push_back(dev.data[at + f * frame + std::size_t(side) * width + i]);
                ASSERT_EQ((side ? c.right : c.left).blocks.at(b), expected) << "buffer " << b << " side " << side;
            }
        }
        EXPECT_TRUE(k.channels == 2 || c.right.blocks.empty());
    }
}

TEST(tsoundin, StereoRequestOnMonoDeviceSaysSoAndFeedsOnlyTheLeftSide) {
    test::FakeCapture c;
    c.sys.devices.push_back({{"Mono", true, false}, test::numberedBytes(32768), {}});
    {
        capture::tsoundin in(c.sys, c.params(), c.stop, c.show());
        ASSERT_TRUE(c.left.waitFor(1));
        EXPECT_EQ(in.ChannelCount(), 1);
        c.stop.set();
    }
    EXPECT_EQ(c.left.blocks[0].size(), 32768u);
    EXPECT_TRUE(c.right.blocks.empty());
    EXPECT_EQ(c.messages.messages(), std::vector<std::string>{"Ваша звуковая карта не поддерживает режим стерео."});
}

TEST(tsoundin, OpenIsRetriedOnceThenReportedWithDeviceErrorAndChannels) {
    for (const int refusals : {1, 2}) {
        test::FakeCapture c;
        c.sys.devices.push_back({{"Card", true, true}, test::numberedBytes(65536), {}, refusals});
        capture::tsoundin in(c.sys, c.params(), c.stop, c.show(), 0ms);
        EXPECT_EQ(c.sys.opens.load(), 2);
        EXPECT_EQ(in.Failed(), refusals == 2);
        EXPECT_EQ(in.Running(), refusals == 1);
        if (refusals == 1) {
            EXPECT_TRUE(c.left.waitFor(1));
            EXPECT_TRUE(c.messages.messages().empty());
        } else {
            const std::string busy = std::to_string(std::make_error_code(std::errc::device_or_resource_busy).value());
            EXPECT_EQ(c.messages.messages(),
                      std::vector<std::string>{"Проблема при открытии звукового устройства 0  " + busy + "  2"});
        }
        c.stop.set();
    }
}

TEST(tsoundin, TheStopEventEndsANamedWaitingThreadWellBeforeTheTimeout) {
    test::FakeCapture c;
    c.sys.devices.push_back({{"Card", true, true}, test::numberedBytes(65536), {}});  // one buffer, then nothing
    capture::tsoundin in(c.sys, c.params(), c.stop, {});
    EXPECT_EQ(in.Timeout(), 11486ms);
    ASSERT_TRUE(c.left.waitFor(1));
    const auto names = test::threadNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "capture 0"), names.end());
    c.stop.set();
    EXPECT_TRUE(c.sys.closed.wait(5s));  // far below the 11.5 s time-out, generous for sanitizer builds
}

TEST(tsoundin, VanishedDeviceEndsCaptureWithAMessage) {
    test::FakeCapture c;
    c.sys.devices.push_back({{"Card", true, true}, test::numberedBytes(65536 * 3), {}, 0, 2});
    std::optional<capture::tsoundin> in(std::in_place, c.sys, c.params(), c.stop, c.show());
    ASSERT_TRUE(c.sys.closed.wait(10s));  // the thread let the device go by itself
    in.reset();                           // joined: what it did is seen here
    EXPECT_EQ(c.left.blocks.size(), 2u);
    EXPECT_EQ(c.messages.messages(),
              std::vector<std::string>{"Звуковое устройство 0 перестало отвечать, запись с него остановлена."});
}
