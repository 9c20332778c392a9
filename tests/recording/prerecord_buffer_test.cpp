#include "recording/prerecord_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace kestavo::recording {
namespace {

// n bytes counting up from `first`, wrapping at 251 (a prime, so blocks never line up with it).
std::vector<std::byte> ramp(std::size_t n, std::size_t first = 0) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::byte((first + i) % 251);
    return v;
}

TEST(Tdelay_line, KeepsExactlyTheNewestBytesForAnyMixOfBlockSizes) {
    for (std::size_t capacity : {0u, 1u, 4096u, 110250u}) {
        Tdelay_line line(capacity);
        std::deque<std::byte> model;  // the last `capacity` bytes, kept the obvious way
        std::mt19937 rng{static_cast<unsigned>(capacity)};
        std::size_t counter = 0;
        for (int round = 0; round < 200; ++round) {
            const auto block = ramp(std::uniform_int_distribution<std::size_t>(0, 2 * capacity + 3)(rng), counter);
            counter += block.size();
            line.Put(block);
            model.insert(model.end(), block.begin(), block.end());
            while (model.size() > capacity) model.pop_front();
            if (round % 7 == 6) {
                ASSERT_TRUE(std::ranges::equal(line.Take(), model)) << "capacity " << capacity << " round " << round;
                model.clear();
                ASSERT_TRUE(line.Take().empty());
            }
        }
    }
}

TEST(Tdelay_line, FiveSecondsHoldThreeBlocksWholeAndTheNewestBytesOfFour) {
    constexpr std::size_t kBlock = 32768;
    Tdelay_line line(110250);  // 5 s at 11025 Hz, 16 bits
    const auto all = ramp(4 * kBlock);
    for (int b = 0; b < 3; ++b) line.Put(std::span(all).subspan(b * kBlock, kBlock));
    EXPECT_EQ(line.filled(), 98304u);
    line.Put(std::span(all).subspan(3 * kBlock, kBlock));
    EXPECT_EQ(line.filled(), 110250u);
    const auto data = line.Take();
    ASSERT_EQ(data.size(), 110250u);
    EXPECT_TRUE(std::ranges::equal(data, std::span(all).last(110250)));
    EXPECT_TRUE(line.Take().empty());  // a second take in a row finds nothing
}

TEST(Tdelay_line, CapacityZeroKeepsNothing) {
    Tdelay_line line(0);
    line.Put(ramp(32768));
    EXPECT_TRUE(line.Take().empty());
}

TEST(Tdelay_line, ResizeDropsTheDataHeld) {
    Tdelay_line line(1000);
    line.Put(ramp(600));
    line.resize(2000);
    EXPECT_EQ(line.capacity(), 2000u);
    EXPECT_TRUE(line.Take().empty());
    line.Put(ramp(10, 3));
    EXPECT_TRUE(std::ranges::equal(line.Take(), ramp(10, 3)));
}

}  // namespace
}  // namespace kestavo::recording
