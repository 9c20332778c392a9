#include "recording/prerecord_buffer.h"

#include <algorithm>
#include <cstring>

namespace kestavo::recording {

void Tdelay_line::resize(std::size_t capacityBytes) {
    storage_.reset();
    filled_ = 0;
    capacity_ = capacityBytes;
    if (capacityBytes > 0) storage_ = std::make_unique_for_overwrite<std::byte[]>(capacityBytes);
}

void Tdelay_line::Put(std::span<const std::byte> bytes) noexcept {
    const std::size_t n = bytes.size();
    if (n == 0 || capacity_ == 0) return;
    if (n >= capacity_) {
        std::memcpy(storage_.get(), bytes.data() + (n - capacity_), capacity_);
        filled_ = capacity_;
        return;
    }
    // Only the valid bytes that stay need to move: the newest capacity - n of them at most.
    const std::size_t keep = std::min(filled_, capacity_ - n);
    std::byte* const end = storage_.get() + capacity_;
    std::memmove(end - n - keep, end - keep, keep);
    std::memcpy(end - n, bytes.data(), n);
    filled_ = keep + n;
}

std::span<const std::byte> Tdelay_line::Take() noexcept {
    const std::size_t length = filled_;
    filled_ = 0;
    if (length == 0) return {};
    return {storage_.get() + (capacity_ - length), length};
}

}  // namespace kestavo::recording
