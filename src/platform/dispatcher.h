#pragma once
// MainDispatcher: hands calls from worker threads to the main thread.
//
// Runs calls on the main thread. Worker threads hand calls over; the front end (the Qt event loop
// or the headless loop) calls drain() on the main thread whenever the wake function fires and at
// least on every timer tick.
//
// post() queues a call and returns at once: calls run in the order they were posted. invoke()
// waits for its call to have run, but its wait also ends on the caller's stop token, and a call
// that the main thread has not started yet is then abandoned, never run later on a finished
// worker's data. After close() nothing is queued any more and queued calls are dropped, so a
// worker can never wait for a main thread that is joining it.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kestavo::platform {

class MainDispatcher {
public:
    // `wake` is called from any thread after a call is queued; it must only schedule drain().
    explicit MainDispatcher(std::function<void()> wake = {});
    MainDispatcher(const MainDispatcher&) = delete;
    MainDispatcher& operator=(const MainDispatcher&) = delete;

    // The thread that constructed the dispatcher is the main thread unless told otherwise.
    void setMainThread(std::thread::id id);
    [[nodiscard]] bool onMainThread() const noexcept;

    // Any thread. On the main thread the call runs at once. False when closed.
    bool post(std::function<void()> fn);
    // Any thread; waits until the call ran. False when abandoned (stop requested first, or closed).
    bool invoke(std::function<void()> fn, std::stop_token stop = {});
    // Main thread: runs every queued call. Returns how many ran.
    std::size_t drain();
    // Main thread, at shutdown: drops queued calls and refuses new ones.
    void close();

private:
    enum class State { Queued, Running, Done, Abandoned };
    struct Call {
        std::function<void()> fn;
        State state = State::Queued;
    };

    std::function<void()> wake_;
    std::thread::id mainId_;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::shared_ptr<Call>> queue_;
    bool closed_ = false;
};

}  // namespace kestavo::platform
