// tsoundin over a fake device: frames split into sides in buffer order, the stop event, open
// retries and a vanishing device.
#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "capture/capture_thread.h"
#include "support/fake_capture.h"
#include "support/thread_names.h"

using namespace kestavo;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

namespace {
// `n` bytes that differ from their neighbours and do not repeat with any short period.
std::vector<std::byte> numberedBytes(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::byte(i * 7 + i / 251);
    return v;
}
}  // namespace

TEST(tsoundin, BuffersSplitIntoSidesInOrderPastTheSixthAMonoDeviceGivesTheLeftOnlyAndStopEndsTheWait) {
    struct Case {
        int bits, channels, bytesPerSecond;
        std::vector<std::uint32_t> fills;  // bytes recorded per buffer
    };
    for (const Case& k : {Case{16, 2, 44100, {65536, 400, 0}}, Case{8, 2, 22050, {16384, 400, 0}},
                          Case{16, 1, 22050, std::vector<std::uint32_t>(9, 32768)}}) {
        SCOPED_TRACE(std::to_string(k.bits) + " bits x " + std::to_string(k.channels));
        test::FakeCapture c;
        std::size_t total = 0;
        for (auto f : k.fills) total += f;
        c.sys.devices.push_back({{"Card", true, k.channels == 2}, numberedBytes(total), k.fills});
        auto p = c.params();  // always stereo
        p.bitsPerSample = k.bits;
        p.samplesPerBlock = k.bits == 16 ? 16384 : 8192;
        {
            capture::tsoundin in(c.sys, p, c.stop, c.show);
            EXPECT_EQ(in.ChannelCount(), k.channels);
            for (int side = 0; side < k.channels; ++side) ASSERT_TRUE(c.waitFor(side, k.fills.size()));
            EXPECT_EQ(std::tuple(c.sys.lastFormat.avgBytesPerSec, c.sys.lastFormat.blockAlign),
                      std::tuple(std::uint32_t(k.bytesPerSecond), k.bits / 8 * k.channels));
            // Waiting for a buffer that never comes, the thread ends by the stop event, not the time-out.
            EXPECT_EQ(in.Timeout(), k.bits == 16 ? 11486ms : 10743ms);
            EXPECT_TRUE(test::threadRunning("capture 0"));
            c.stop.set();
            EXPECT_TRUE(c.sys.closed.wait(5s));
        }
        // Reference: side s of frame f is the s-th sample-sized piece of the frame.
        const auto& data = c.sys.devices[0].data;
        const std::size_t width = std::size_t(k.bits / 8), frame = width * std::size_t(k.channels);
        std::size_t at = 0;
        for (std::size_t b = 0; b < k.fills.size(); at += k.fills[b], ++b) {
            for (int side = 0; side < k.channels; ++side) {
                std::vector<std::byte> expected;
                for (std::size_t f = 0; f < k.fills[b] / frame; ++f)
                    for (std::size_t i = 0; i < width; ++i) expected.push_back(data[at + f * frame + side * width + i]);
                ASSERT_EQ(c.blocks[side].at(b), expected) << "buffer " << b << " side " << side;
            }
        }
        EXPECT_TRUE(k.channels == 2 || c.blocks[1].empty());
        EXPECT_EQ(c.messages.messages(),
                  k.channels == 2 ? Strings{} : Strings{"Ваша звуковая карта не поддерживает режим стерео."});
    }
}

TEST(tsoundin, OpenIsRetriedOnceAndAFailedOpenOrAVanishedDeviceIsReported) {
    const std::string busy = std::to_string(int(std::errc::device_or_resource_busy));
    struct Case {
        int refusals, vanishAfter;  // opens refused; buffers delivered before the device vanishes (-1: never)
        bool ownerWatches;          // the owner reports a lost device itself
        std::size_t blocks;
        Strings says;
    };
    for (const Case& k :
         {Case{1, -1, false, 3, {}},
          Case{2, -1, false, 0, {"Проблема при открытии звукового устройства 0  " + busy + "  2"}},
          Case{0, 2, false, 2, {"Звуковое устройство 0 перестало отвечать, запись с него остановлена."}},
          Case{0, 2, true, 2, {}}}) {
        test::FakeCapture c;
        c.sys.devices.push_back({{"Card", true, true}, numberedBytes(65536 * 3), {}, k.refusals, k.vanishAfter});
        auto params = c.params();
        params.ownerWatchesLoss = k.ownerWatches;
        std::optional<capture::tsoundin> in(std::in_place, c.sys, std::move(params), c.stop, c.show, 0ms);
        EXPECT_EQ(c.sys.opens.load(), k.refusals ? 2 : 1);
        EXPECT_EQ(in->Failed(), k.refusals == 2);
        // A vanished device is let go by the thread itself.
        EXPECT_TRUE(k.refusals == 2 || (k.vanishAfter >= 0 ? c.sys.closed.wait(10s) : c.waitFor(0, 3)));
        if (k.vanishAfter >= 0) {  // lost, and said so, once the device has been let go
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (!in->Lost() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
            EXPECT_TRUE(in->Lost());
            EXPECT_EQ(in->LostReason(), std::errc::no_such_device);  // the fake device gives no reason of its own
        }
        c.stop.set();
        EXPECT_EQ(in->Lost(), k.vanishAfter >= 0);  // a stop is no loss
        in.reset();                                 // joined: what it did is seen here
        EXPECT_EQ(c.blocks[0].size(), k.blocks);
        EXPECT_EQ(c.messages.messages(), k.says);
    }
}
