#pragma once
// PendingWork: a count of work handed on and not yet finished.
//
// Counts work handed on and not yet finished: blocks given to channel threads and not yet
// processed, clock steps not yet seen by the main loop. Fast-paced file-backed lines wait until
// it is idle before they deliver the next block, so that a batch run gives exactly what real
// time would give and never drops a block. In real time nothing waits on it. Thread-safe.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>

namespace kestavo::platform {

class PendingWork {
public:
    void add(std::int64_t n = 1) noexcept {
        std::lock_guard lock(mutex_);
        count_ += n;
    }
    void done(std::int64_t n = 1) noexcept {
        {
            std::lock_guard lock(mutex_);
            count_ -= n;
        }
        idle_.notify_all();
    }
    [[nodiscard]] std::int64_t count() const noexcept {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // Waits until nothing is pending, the token asks to stop or the timeout passes; true when idle.
    [[nodiscard]] bool waitIdle(std::stop_token stop, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return idle_.wait_for(lock, stop, timeout, [&] { return count_ <= 0; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any idle_;
    std::int64_t count_ = 0;
};

}  // namespace kestavo::platform
