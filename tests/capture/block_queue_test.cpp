// BlockQueue under a producer that never waits: blocks arrive whole and in order, a block is
// dropped (and counted) only when every slot is taken, and close or stop ends the consumer's wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "capture/block_queue.h"

using kestavo::capture::BlockQueue;
using Put = BlockQueue::PutResult;

namespace {
constexpr std::size_t kSlots = 4;
constexpr std::size_t kWords = 256;  // a block: kWords copies of its number
const std::byte kSmall[8] = {};
}  // namespace

TEST(BlockQueue, ManyBlocksArriveWholeInOrderAndEachDropIsCountedOnlyWhenFull) {
    constexpr std::uint32_t kBlocks = 20000;
    BlockQueue q(kSlots, kWords * 4);
    std::uint64_t queued = 0, dropped = 0;
    std::jthread producer([&] {
        for (std::uint32_t n = 1; n <= kBlocks; ++n) {
            const std::vector<std::uint32_t> block(kWords, n);
            Put r;
            do {  // the last block is retried until a slot is free, as a caller that must not lose it would
                r = q.put(reinterpret_cast<const std::byte*>(block.data()), kWords * 4, int(n % 7));
                (r == Put::Queued ? queued : dropped) += 1;
            } while (n == kBlocks && r != Put::Queued);
        }
    });
    std::uint32_t last = 0;
    std::uint64_t taken = 0;
    for (; last != kBlocks; ++taken, q.pop()) {
        const auto block = q.waitOldest({});
        ASSERT_TRUE(block);
        ASSERT_EQ(block->length, kWords * 4);
        if (taken % 64 == 0) std::this_thread::yield();  // a slow consumer now and then fills the queue
        std::vector<std::uint32_t> words(kWords);
        std::memcpy(words.data(), block->data, block->length);
        ASSERT_EQ(std::count(words.begin(), words.end(), words[0]), std::ptrdiff_t(kWords)) << "a torn block";
        ASSERT_EQ(block->tag, int(words[0] % 7));
        ASSERT_GT(words[0], last) << "out of order or twice";
        last = words[0];
    }
    producer.join();
    EXPECT_EQ(taken, queued);
    EXPECT_EQ(q.dropped(), dropped);
}

TEST(BlockQueue, OnlyAFullQueueDropsATakenBlockHoldsItsSlotCloseRefusesUncountedAndALongBlockIsCut) {
    BlockQueue q(kSlots, 8);
    for (std::size_t i = 0; i < kSlots; ++i) EXPECT_EQ(q.put(kSmall, 8), Put::Queued);
    EXPECT_EQ(q.put(kSmall, 8), Put::Dropped);
    ASSERT_TRUE(q.waitOldest({}));  // taking a block does not free its slot ...
    EXPECT_EQ(q.put(kSmall, 8), Put::Dropped);
    EXPECT_EQ(q.dropped(), 2u);
    q.pop();  // ... freeing it does
    EXPECT_EQ(q.put(kSmall, 8), Put::Queued);
    EXPECT_EQ(q.close(), kSlots);  // blocks that will never be taken
    EXPECT_EQ(q.put(kSmall, 8), Put::Closed);
    EXPECT_EQ(q.dropped(), 2u);
    EXPECT_FALSE(q.waitOldest({}));
    const std::byte longBlock[20] = {};
    BlockQueue one(1, 8);
    ASSERT_EQ(one.put(longBlock, 20), Put::Queued);
    EXPECT_EQ(one.waitOldest({})->length, 8u);
}

TEST(BlockQueue, CloseAndStopEndAWaitingConsumer) {
    for (const bool byStop : {false, true}) {
        BlockQueue q(kSlots, 8);
        std::stop_source stop;
        std::jthread consumer([&] { EXPECT_FALSE(q.waitOldest(stop.get_token())); });
        byStop ? (void)stop.request_stop() : (void)q.close();
        consumer.join();  // a lost wake-up hangs here and fails by the test timeout
    }
}
