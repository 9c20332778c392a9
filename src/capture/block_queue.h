#pragma once
// BlockQueue: the hand-over of sound blocks from a thread that must never wait to one that works
// on them (capture thread → channel thread, channel thread → monitoring playback).
//
// How it works. A fixed number of slots of a fixed byte size are allocated once. Put copies a
// block into the next free slot under the mutex and wakes the consumer; when every slot is taken
// the block is dropped and counted, so the producer waits only for the mutex, which nobody holds
// longer than one block copy. The consumer waits under the same mutex on a predicate that
// includes stop and close, so no wake-up is lost and a stop always ends the wait. It then works
// on the oldest slot in place, without the mutex, and frees it (pop) only when done: Put writes
// only into free slots, so a block is never changed while in work.
//
// Threads. Put: any number of producer threads. waitOldest and pop: one consumer thread. close:
// any thread; after it, Put refuses every block and waitOldest returns nothing.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

namespace kestavo::capture {

class BlockQueue {
public:
    enum class PutResult { Queued, Dropped, Closed };

    // The oldest block, held for the consumer until pop().
    struct Block {
        std::byte* data;       // slotBytes() bytes of room, `length` of them the block
        std::uint32_t length;  // bytes
        int tag;               // what the producer put beside the block (e.g. its sample width)
    };

    BlockQueue(std::size_t slotCount, std::size_t slotBytes)
        : slotBytes_(slotBytes), memory_(slotCount * slotBytes), lengths_(slotCount), tags_(slotCount) {}
    BlockQueue(const BlockQueue&) = delete;
    BlockQueue& operator=(const BlockQueue&) = delete;

    // Producer: copies the first min(length, slotBytes()) bytes; never waits for the consumer.
    PutResult put(const std::byte* block, std::uint32_t length, int tag = 0) {
        {
            std::lock_guard lock(mutex_);
            if (closed_) return PutResult::Closed;
            if (count_ == lengths_.size()) {
                dropped_.fetch_add(1, std::memory_order_relaxed);
                return PutResult::Dropped;
            }
            const std::size_t slot = (head_ + count_) % lengths_.size();
            const auto bytes = std::uint32_t(std::min<std::size_t>(length, slotBytes_));
            std::copy_n(block, bytes, memory_.data() + slot * slotBytes_);
            lengths_[slot] = bytes;
            tags_[slot] = tag;
            ++count_;
        }
        ready_.notify_one();
        return PutResult::Queued;
    }

    // Consumer: waits for a block; nothing once `stop` is requested or the queue is closed. The
    // block stays taken, and its bytes the consumer's, until pop().
    [[nodiscard]] std::optional<Block> waitOldest(const std::stop_token& stop) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, stop, [&] { return count_ > 0 || closed_; });
        if (closed_ || stop.stop_requested()) return std::nullopt;
        return Block{memory_.data() + head_ * slotBytes_, lengths_[head_], tags_[head_]};
    }

    // Consumer: frees the oldest slot once its block is done.
    void pop() {
        std::lock_guard lock(mutex_);
        if (count_ == 0) return;
        head_ = (head_ + 1) % lengths_.size();
        --count_;
    }

    // Refuses blocks from now on and wakes the consumer; returns how many queued blocks will never
    // be taken. Idempotent (later calls return 0).
    std::size_t close() {
        std::size_t discarded = 0;
        {
            std::lock_guard lock(mutex_);
            if (!closed_) discarded = count_;
            closed_ = true;
            count_ = 0;
        }
        ready_.notify_all();
        return discarded;
    }

    // Blocks put and not yet popped, the one in work included (any thread).
    [[nodiscard]] std::size_t waiting() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // Blocks dropped because every slot was taken (closed refusals are not counted).
    [[nodiscard]] std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    [[nodiscard]] std::size_t slotBytes() const noexcept { return slotBytes_; }
    [[nodiscard]] std::size_t memoryBytes() const noexcept { return memory_.capacity(); }

private:
    const std::size_t slotBytes_;
    mutable std::mutex mutex_;
    std::condition_variable_any ready_;   // count_ > 0 or closed_
    std::vector<std::byte> memory_;       // the slots, one after another
    std::vector<std::uint32_t> lengths_;  // bytes held per slot
    std::vector<int> tags_;               // the producer's tag per slot
    std::size_t head_ = 0;                // oldest slot, the one in work when taken
    std::size_t count_ = 0;               // queued slots, including the one in work
    bool closed_ = false;
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace kestavo::capture
