// Tdelay_line against a deque that keeps the newest bytes the obvious way.
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
    // 110250 bytes: five seconds of 16-bit sound, more than three 32768-byte blocks and less than four.
    // One line is resized from capacity to capacity: a resize must drop what it held.
    Tdelay_line line(5);
    line.Put(ramp(5));
    for (std::size_t capacity : {0u, 1u, 4096u, 110250u, 7u}) {
        line.resize(capacity);
        std::deque<std::byte> model;  // the last `capacity` bytes
        std::mt19937 rng{static_cast<unsigned>(capacity)};
        std::size_t counter = 0;
        for (int round = 0; round < 200; ++round) {
            if (round % 7 == 0) {  // first right after the resize: nothing held
                ASSERT_TRUE(std::ranges::equal(line.Take(), model)) << "capacity " << capacity << " round " << round;
                model.clear();
                ASSERT_TRUE(line.Take().empty());
            }
            const auto block = ramp(std::uniform_int_distribution<std::size_t>(0, 2 * capacity + 3)(rng), counter);
            counter += block.size();
            line.Put(block);
            model.insert(model.end(), block.begin(), block.end());
            while (model.size() > capacity) model.pop_front();
        }
    }
}

}  // namespace
}  // namespace kestavo::recording
