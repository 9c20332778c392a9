// BlockQueue under a producer that never waits: every block taken arrives whole and in order, a
// block is dropped only when every slot is taken and then counted, the last one is never lost,
// and close ends the consumer's wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "capture/block_queue.h"

using kestavo::capture::BlockQueue;

namespace {
constexpr std::size_t kSlots = 4;
constexpr std::size_t kWords = 256;  // a block: kWords copies of its number

void putNumbered(BlockQueue& q, std::uint32_t number, BlockQueue::PutResult& result) {
    std::vector<std::uint32_t> block(kWords, number);
    result = q.put(reinterpret_cast<const std::byte*>(block.data()), kWords * 4, int(number % 7));
}
}  // namespace

TEST(BlockQueue, ManyBlocksArriveWholeInOrderAndEachDropIsCountedOnlyWhenFull) {
    constexpr std::uint32_t kBlocks = 20000;
    BlockQueue q(kSlots, kWords * 4);
    std::uint64_t queued = 0, dropped = 0;
    std::jthread producer([&] {
        BlockQueue::PutResult r{};
        const auto put = [&](std::uint32_t n) {
            putNumbered(q, n, r);
            (r == BlockQueue::PutResult::Queued ? queued : dropped) += 1;
        };
        for (std::uint32_t n = 1; n < kBlocks; ++n) put(n);
        // The last block is retried until a slot is free, as a caller that must not lose it would.
        do put(kBlocks);
        while (r != BlockQueue::PutResult::Queued);
    });
    std::vector<std::uint32_t> seen;
    std::stop_source stop;
    while (seen.empty() || seen.back() != kBlocks) {
        const auto block = q.waitOldest(stop.get_token());
        ASSERT_TRUE(block);
        ASSERT_EQ(block->length, kWords * 4);
        std::vector<std::uint32_t> words(kWords);
        std::memcpy(words.data(), block->data, block->length);
        if (seen.size() % 64 == 0) std::this_thread::yield();  // a slow consumer now and then fills the queue
        std::vector<std::uint32_t> again(kWords);  // still the same after the work: never written while taken
        std::memcpy(again.data(), block->data, block->length);
        ASSERT_EQ(words, again);
        ASSERT_EQ(std::count(words.begin(), words.end(), words[0]), std::ptrdiff_t(kWords)) << "a torn block";
        ASSERT_EQ(block->tag, int(words[0] % 7));
        ASSERT_TRUE(seen.empty() || words[0] > seen.back()) << "out of order or twice";
        seen.push_back(words[0]);
        q.pop();
    }
    producer.join();
    EXPECT_EQ(seen.size(), queued);
    EXPECT_EQ(q.dropped(), dropped);
}

TEST(BlockQueue, APutFindingFreeSlotsNeverDropsAndAFullQueueCountsEachRefusal) {
    BlockQueue q(kSlots, 8);
    const std::byte block[8] = {};
    for (std::size_t i = 0; i < kSlots; ++i) EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Queued);
    EXPECT_EQ(q.dropped(), 0u);
    EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Dropped);
    EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Dropped);
    EXPECT_EQ(q.dropped(), 2u);
    ASSERT_TRUE(q.waitOldest({}));  // taking a block does not free its slot ...
    EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Dropped);
    q.pop();  // ... freeing it does
    EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Queued);
    // A long block is cut to the slot.
    const std::byte longBlock[20] = {};
    BlockQueue one(1, 8);
    ASSERT_EQ(one.put(longBlock, 20), BlockQueue::PutResult::Queued);
    EXPECT_EQ(one.waitOldest({})->length, 8u);
}

TEST(BlockQueue, CloseAndStopEndAWaitingConsumerAndCloseRefusesBlocksUncounted) {
    for (const bool byStop : {false, true}) {
        BlockQueue q(kSlots, 8);
        std::stop_source stop;
        std::jthread consumer([&] { EXPECT_FALSE(q.waitOldest(stop.get_token())); });
        const std::byte block[8] = {};
        if (byStop) {
            stop.request_stop();
        } else {
            EXPECT_EQ(q.close(), 0u);
            EXPECT_EQ(q.put(block, 8), BlockQueue::PutResult::Closed);
            EXPECT_EQ(q.dropped(), 0u);
        }
        consumer.join();  // a lost wake-up hangs here and fails by the test timeout
    }
    BlockQueue q(kSlots, 8);
    const std::byte block[8] = {};
    (void)q.put(block, 8), (void)q.put(block, 8);
    EXPECT_EQ(q.close(), 2u);  // blocks that will never be taken
    EXPECT_FALSE(q.waitOldest({}));
}
