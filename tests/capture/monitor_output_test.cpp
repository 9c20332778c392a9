// Tin_out: buffer order and reuse, spectrum inversion checked by DFT, block widths, the bounded
// hand-over, opening with its one retry, and shutdown while blocks arrive.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <tuple>

#include "capture/monitor_output.h"
#include "support/dft.h"
#include "support/pcm_bytes.h"
#include "support/tapped_output.h"
#include "support/thread_names.h"

using namespace kestavo;
using namespace std::chrono_literals;
using capture::Tin_out;
using Block = std::vector<std::byte>;

namespace {

constexpr int kBlock = 16384;

using TappedSystem = test::TappedOutputSystem;
using test::bytesOf;
using test::samplesOf;

Block numbered(int k) { return bytesOf(test::numberedSamples(k, kBlock)); }
// Whole-cycle tones over one block: (bin, amplitude) pairs.
Block tones(std::initializer_list<std::pair<int, double>> parts) {
    std::vector<std::int16_t> s(kBlock);
    for (int n = 0; n < kBlock; ++n)
        for (auto [bin, amplitude] : parts)
            s[std::size_t(n)] +=
                std::int16_t(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * bin * n / kBlock)));
    return bytesOf(s);
}

std::unique_ptr<Tin_out> open(TappedSystem& system, std::vector<std::string>* messages = nullptr) {
    return Tin_out::Open(
        system, {},
        [messages](const std::string& m) {
            if (messages) messages->push_back(m);
        },
        nullptr, 0ms);
}
void put(Tin_out& out, const Block& block, int bits = 16) {
    out.PutBlock(block.data(), std::uint32_t(block.size()), bits);
}
// Puts one block and waits until it has been written (blocks arriving at the device's pace).
void play(TappedSystem& system, Tin_out& out, const Block& block, int bits = 16) {
    const auto before = system.file.writtenBlocks().size();
    put(out, block, bits);
    system.waitWritten(before + 1);
}

}  // namespace

TEST(TinOut, BlocksPlayInOrderThroughEightBuffersAndShortOrEightBitOnesAreFollowedBySilence) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    const auto f = system.file.lastFormat().value();  // mono PCM, 11025 Hz x 2 bytes = 22050 bytes/s
    EXPECT_EQ(std::tuple(f.formatTag, f.channels, f.samplesPerSec, f.avgBytesPerSec, f.blockAlign, f.bitsPerSample),
              std::tuple(1, 1, 11025u, 22050u, 2, 16));
    for (int k = 0; k < 8; ++k) play(system, *out, numbered(k));  // sound left in all eight buffers
    play(system, *out, bytesOf({-2, 7, 32767}));
    // Unsigned 8-bit 0, 128, 255 are -128, 0, 127 steps of 1/128 full scale: -32768, 0, 32512.
    play(system, *out, {std::byte(0), std::byte(128), std::byte(255)}, 8);
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 10u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(blocks[std::size_t(k)], numbered(k)) << "block " << k;
    auto expected = std::vector<std::int16_t>(kBlock, 0);
    std::tie(expected[0], expected[1], expected[2]) = std::tuple(-2, 7, 32767);
    EXPECT_EQ(samplesOf(blocks[8]), expected);
    std::tie(expected[0], expected[1], expected[2]) = std::tuple(-32768, 0, 32512);
    EXPECT_EQ(samplesOf(blocks[9]), expected);
    {  // the ninth block reuses the first buffer
        std::lock_guard lock(system.mutex);
        EXPECT_EQ(std::set(system.areas.begin(), system.areas.begin() + 8).size(), 8u);
        EXPECT_EQ(system.areas[8], system.areas[0]);
        EXPECT_EQ(system.areas[9], system.areas[1]);
    }
    const auto names = test::threadNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "monitor"), names.end());
}

TEST(TinOut, InversionSwitchedWhilePlayingMirrorsTonesAboutThePivotFromTheNextBlock) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    // Pivot 2000 Hz = 16384 x 2000 / 11025 = 2972.2 bins, taken as 2972: the band of bins 0 ... 2971
    // is turned upside down, bin k going to 2971 - k. Tones at bins 600 (amplitude 8000) and 1600
    // (4000) come out at bins 2371 and 1371 with their amplitudes, |X| = A x N / 2.
    const auto pair = tones({{600, 8000.0}, {1600, 4000.0}});
    play(system, *out, pair);
    out->SetInversionFrequency(2000);
    out->SetInversion(true);
    play(system, *out, pair);
    out->SetInversion(false);
    play(system, *out, pair);
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0], pair);  // bit for bit while off
    const auto inverted = samplesOf(blocks[1]);
    EXPECT_NEAR(test::dftMagnitude(inverted, 2371), 8000.0 * kBlock / 2, 0.01 * 8000.0 * kBlock / 2);
    EXPECT_NEAR(test::dftMagnitude(inverted, 1371), 4000.0 * kBlock / 2, 0.01 * 4000.0 * kBlock / 2);
    EXPECT_GT(test::energyShare(inverted, 2371) + test::energyShare(inverted, 1371), 0.99);
    EXPECT_EQ(blocks[2], pair);
}

TEST(TinOut, ABlockThatFindsTheQueueFullIsDroppedAndCountedWhileTheQueuedOnesPlayInOrder) {
    TappedSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    system.hold = true;  // before any write: the playback thread has not written yet
    put(*out, numbered(0));
    system.waitAtGate();  // the playback thread has taken block 0 and is held writing it
    for (int k = 1; k <= Tin_out::kQueueSlots + 2; ++k) put(*out, numbered(k));  // never waits
    EXPECT_EQ(out->Dropped(), 2u);
    system.release();
    system.waitWritten(1 + Tin_out::kQueueSlots);
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 1u + Tin_out::kQueueSlots);
    for (int k = 0; k <= Tin_out::kQueueSlots; ++k) EXPECT_EQ(blocks[std::size_t(k)], numbered(k)) << "block " << k;
}

TEST(TinOut, OutputIsOpenedOnTheRetryOrElseDeviceBusyIsShownAndNoMonitorMade) {
    for (int refusals : {1, 2}) {
        TappedSystem system;
        system.failOpens = refusals;
        std::vector<std::string> messages;
        auto out = open(system, &messages);
        EXPECT_EQ(out != nullptr, refusals == 1);
        EXPECT_EQ(system.attempts, 2);  // one retry, never more
        EXPECT_EQ(messages, refusals == 1 ? std::vector<std::string>{} : std::vector<std::string>{"Устройство занято"});
    }
}

TEST(TinOut, ClosingWhileTwoChannelsFeedBlocksEndsAndLaterBlocksAreIgnored) {
    // Two feeding threads, as while the monitor moves from one channel to another; the output
    // plays at real-time pace, so the playback is waiting for the device when it is stopped.
    TappedSystem system(platform::OutputPace::RealTime);
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    std::atomic<bool> feeding{true};
    std::vector<std::jthread> feeders;
    for (int f = 0; f < 2; ++f)
        feeders.emplace_back([&, b = numbered(f)] {
            while (feeding) put(*out, b);
        });
    system.waitWritten(Tin_out::kHeaders);  // every buffer on the device
    out->Close();
    const auto played = out->Played();
    feeding = false;
    feeders.clear();
    EXPECT_EQ(out->Played(), played);  // nothing after Close
    EXPECT_GT(out->Dropped(), 0u);
    out.reset();
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), played);
    for (const auto& block : blocks) EXPECT_TRUE(block == numbered(0) || block == numbered(1));
}
