#include "platform/dispatcher.h"

namespace kestavo::platform {

MainDispatcher::MainDispatcher(std::function<void()> wake)
    : wake_(std::move(wake)), mainId_(std::this_thread::get_id()) {}

void MainDispatcher::setMainThread(std::thread::id id) {
    std::lock_guard lock(mutex_);
    mainId_ = id;
}

bool MainDispatcher::onMainThread() const noexcept {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == mainId_;
}

bool MainDispatcher::post(std::function<void()> fn) {
    if (onMainThread()) {
        // Calls queued before this one keep their order.
        drain();
        fn();
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(std::make_shared<Call>(Call{std::move(fn)}));
    }
    if (wake_) wake_();
    return true;
}

bool MainDispatcher::invoke(std::function<void()> fn, std::stop_token stop) {
    if (onMainThread()) {
        drain();
        fn();
        return true;
    }
    auto call = std::make_shared<Call>(Call{std::move(fn)});
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(call);
    }
    if (wake_) wake_();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, stop, [&] { return call->state == State::Done || closed_; });
    if (call->state == State::Queued) {
        call->state = State::Abandoned;
        return false;
    }
    changed_.wait(lock, [&] { return call->state == State::Done; });  // running: main will finish it
    return true;
}

std::size_t MainDispatcher::drain() {
    std::size_t ran = 0;
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard lock(mutex_);
            while (!queue_.empty() && !call) {
                call = std::move(queue_.front());
                queue_.pop_front();
                if (call->state != State::Queued) call.reset();  // abandoned by its worker
            }
            if (!call) return ran;
            call->state = State::Running;
        }
        try {
            call->fn();
        } catch (...) {
            // A call from a worker must not take the main loop down; its effect is simply lost.
        }
        {
            std::lock_guard lock(mutex_);
            call->state = State::Done;
        }
        changed_.notify_all();
        ++ran;
    }
}

void MainDispatcher::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        queue_.clear();
    }
    changed_.notify_all();
}

}  // namespace kestavo::platform
