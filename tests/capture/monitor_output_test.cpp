// Tin_out: buffer order and reuse, block widths, spectrum inversion checked by DFT, the bounded
// hand-over and close, and opening with its one retry (its message: the application's test).
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <tuple>

#include "capture/monitor_output.h"
#include "platform/line_rate.h"
#include "support/signal_gen.h"
#include "support/tapped_output.h"
#include "support/thread_names.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace std::chrono_literals;
using capture::Tin_out;
using Block = std::vector<std::byte>;

namespace {

constexpr int kBlock = 16384;

Block numbered(int k) { return test::leBytes(test::numberedSamples(k, kBlock)); }
Block startingWith(std::vector<std::int16_t> first) { return first.resize(kBlock), test::leBytes(first); }

std::unique_ptr<Tin_out> open(test::TappedOutputSystem& system) { return Tin_out::Open(system, {}, {}, nullptr, 0ms); }
void put(Tin_out& out, const Block& b, int bits = 16) { out.PutBlock(b.data(), std::uint32_t(b.size()), bits); }

}  // namespace

TEST(TinOut, BlocksPlayInOrderThroughEightBuffersShortOrEightBitOnesAreFilledUpAndInversionMirrorsTones) {
    test::TappedOutputSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    const auto f = system.file.lastFormat().value();  // mono PCM, 11025 Hz x 2 bytes = 22050 bytes/s
    EXPECT_EQ(std::tuple(f.formatTag, f.channels, f.samplesPerSec, f.avgBytesPerSec, f.blockAlign, f.bitsPerSample),
              std::tuple(1, 1, std::uint32_t(kLineRate), 2u * kLineRate, 2, 16));
    // Pivot 2000 Hz = 16384 x 2000 / 11025 = 2972.2 bins, taken as 2972: the band of bins 0 ... 2971
    // is turned upside down, bin k going to 2971 - k. Tones at bins 600 (amplitude 8000) and 1600
    // (4000) come out at bins 2371 and 1371 with their amplitudes, |X| = A x N / 2.
    std::vector<std::int16_t> tones(kBlock);
    for (int n = 0; n < kBlock; ++n)
        tones[std::size_t(n)] = std::int16_t(std::lround(8000 * std::sin(2 * std::numbers::pi * 600 * n / kBlock) +
                                                         4000 * std::sin(2 * std::numbers::pi * 1600 * n / kBlock)));
    const auto pair = test::leBytes(tones);
    auto play = [&, written = std::size_t{0}](const Block& block, int bits = 16) mutable {
        put(*out, block, bits), system.waitWritten(++written);  // blocks arriving at the device's pace
    };
    for (int k = 0; k < 8; ++k) play(numbered(k));  // sound left in all eight buffers
    play(test::leBytes({-2, 7, 32767}));
    // Unsigned 8-bit 0, 128, 255 are -128, 0, 127 steps of 1/128 full scale: -32768, 0, 32512.
    play({std::byte(0), std::byte(128), std::byte(255)}, 8);
    play(pair);
    out->SetInversionFrequency(2000);
    out->SetInversion(true);
    play(pair);
    out->SetInversion(false);
    play(pair);
    const auto blocks = system.file.writtenBlocks();
    ASSERT_EQ(blocks.size(), 13u);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(blocks[std::size_t(k)], numbered(k)) << "block " << k;
    EXPECT_EQ(blocks[8], startingWith({-2, 7, 32767}));
    EXPECT_EQ(blocks[9], startingWith({-32768, 0, 32512}));
    EXPECT_EQ(blocks[10], pair);  // bit for bit while off
    std::vector<std::int16_t> inverted(kBlock);
    std::memcpy(inverted.data(), blocks[11].data(), blocks[11].size());
    EXPECT_NEAR(test::dftMagnitude(inverted, 2371), 8000.0 * kBlock / 2, 0.01 * 8000.0 * kBlock / 2);
    EXPECT_NEAR(test::dftMagnitude(inverted, 1371), 4000.0 * kBlock / 2, 0.01 * 4000.0 * kBlock / 2);
    EXPECT_GT(test::energyShare(inverted, 2371) + test::energyShare(inverted, 1371), 0.99);
    EXPECT_EQ(blocks[12], pair);
    std::lock_guard lock(system.mutex);  // the ninth block reuses the first buffer
    EXPECT_EQ(std::set(system.areas.begin(), system.areas.begin() + 8).size(), 8u);
    EXPECT_EQ(system.areas[8], system.areas[0]);
    EXPECT_TRUE(test::threadRunning("monitor"));
}

TEST(TinOut, ABlockThatFindsTheQueueFullIsDroppedWithoutWaitingAndNoneIsPlayedAfterClose) {
    test::TappedOutputSystem system;
    auto out = open(system);
    ASSERT_NE(out, nullptr);
    system.gate.reset();
    put(*out, numbered(0));
    system.waitWritten(0);  // the playback thread has taken block 0 and waits at the gate with it
    for (int k = 1; k <= Tin_out::kQueueSlots + 2; ++k) put(*out, numbered(k));  // never waits
    EXPECT_EQ(out->Dropped(), 2u);
    system.gate.set();
    system.waitWritten(1 + Tin_out::kQueueSlots);
    out->Close();
    put(*out, numbered(9));  // ignored
    out.reset();
    EXPECT_EQ(system.file.writtenBlocks().size(), 1u + Tin_out::kQueueSlots);
}

TEST(TinOut, OutputIsOpenedOnTheOneRetryOrNotAtAll) {
    for (int refusals : {1, 2}) {
        test::TappedOutputSystem system;
        system.failOpens = refusals;
        EXPECT_EQ(open(system) != nullptr, refusals == 1);
        EXPECT_EQ(system.attempts, 2);  // one retry, never more
    }
}
