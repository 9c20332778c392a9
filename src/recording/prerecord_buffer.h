#pragma once
// Tdelay_line: the pre-record buffer. A byte buffer that always holds the most recent bytes put into
// it, up to its capacity, so that a recording can begin with the sound from before its trigger.
//
// How it works: the valid data always sits at the end of the storage, bytes
// [capacity - filled, capacity), oldest first. Put moves the valid bytes that survive towards the
// start by the size of the new block and copies the block into the last places; Take hands out the
// valid bytes as one contiguous span and marks the line empty (the storage itself is not cleared).
// A block is one move of at most the kept bytes and one copy; nothing is allocated after resize.
//
// Threads: a plain object without a lock, used only through its writer, whose callers hold the
// channel's lock.
#include <cstddef>
#include <memory>
#include <span>

namespace kestavo::recording {

class Tdelay_line {
public:
    explicit Tdelay_line(std::size_t capacityBytes = 0) { resize(capacityBytes); }

    // Releases the old storage and allocates `capacityBytes`; the content is discarded.
    void resize(std::size_t capacityBytes);
    // Appends `bytes` as the newest data; the oldest bytes beyond the capacity drop out.
    void Put(std::span<const std::byte> bytes) noexcept;
    // The valid data, oldest first; the line is empty afterwards. The span stays valid until the
    // next Put or resize.
    [[nodiscard]] std::span<const std::byte> Take() noexcept;

    [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
    [[nodiscard]] std::size_t filled() const noexcept { return filled_; }

private:
    std::unique_ptr<std::byte[]> storage_;  // capacity_ bytes
    std::size_t capacity_ = 0;              // bytes, fixed until the next resize
    std::size_t filled_ = 0;                // bytes of valid data at the end of the storage
};

}  // namespace kestavo::recording
