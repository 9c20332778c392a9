#include "app/fast_pace.h"

#include <thread>

namespace kestavo::app {

namespace {
constexpr std::chrono::milliseconds kStopCheck{10};  // a waiting sink looks at the stop event this often
}

FastPace::FastPace(platform::FakeClock& lines, platform::PendingWork& pending, std::function<void()> wake)
    : lines_(lines), pending_(pending), wake_(std::move(wake)), clock_(lines.now(), lines.tickMs()) {
    nextTick_ = lines.elapsed() + kTick;
}

capture::BlockSink FastPace::wrap(capture::BlockSink inner, const platform::Event& stop) {
    return [this, inner = std::move(inner), &stop](const std::byte* block, std::uint32_t length) {
        // The lines' clock already reads the end of this block.
        const auto due = lines_.elapsed();
        {
            std::unique_lock lock(mutex_);
            if (closed_) return;
            ++owed_;
            pending_.add();
        }
        if (wake_) wake_();
        {
            std::unique_lock lock(mutex_);
            while (!closed_ && !stop.isSet() && clock_.elapsed() < due) reached_.wait_for(lock, kStopCheck);
        }
        if (inner) inner(block, length);
        {
            std::lock_guard lock(mutex_);
            ++handed_;
        }
        if (wake_) wake_();
    };
}

bool FastPace::pump(platform::MainDispatcher& dispatcher, const std::function<void()>& tick,
                    std::chrono::milliseconds budget) {
    const auto deadline = std::chrono::steady_clock::now() + budget;
    for (;;) {
        // Reports of the blocks already done come first: they happened before any later tick.
        dispatcher.drain();
        std::unique_lock lock(mutex_);
        if (closed_ || owed_ == 0) return false;
        if (handed_ == owed_) {
            // Every announced block is with its channel: the lines may deliver once it is done.
            pending_.done(owed_);
            owed_ = handed_ = 0;
            return false;
        }
        const auto due = lines_.elapsed();
        if (clock_.elapsed() >= due) {
            lock.unlock();
            if (std::chrono::steady_clock::now() >= deadline) return true;
            std::this_thread::yield();  // a sink is on its way to hand its block on
            continue;
        }
        while (nextTick_ <= due) {
            lock.unlock();
            clock_.advanceTo(nextTick_);
            dispatcher.drain();
            tick();
            lock.lock();
            ++ticks_;
            nextTick_ += kTick;
            if (std::chrono::steady_clock::now() >= deadline) return true;
        }
        clock_.advanceTo(due);
        reached_.notify_all();
    }
}

void FastPace::close() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        closed_ = true;
        if (owed_ > 0) pending_.done(owed_);
        owed_ = handed_ = 0;
    }
    reached_.notify_all();
}

}  // namespace kestavo::app
