#pragma once
// FastPace: keeps the 50 ms timer in step with fast-paced file-backed lines, so that a batch run
// makes the same decisions, at the same clock readings, as a run in real time.
//
// In real time two things happen on one time line: the timer ticks every 50 ms, and a block of
// sound reaches the channels when its last sample has been recorded. Fast-paced lines deliver
// blocks as fast as the channels take them and move their clock (the lines' clock L) to the end
// of each block. FastPace gives the program a clock of its own (P) and replays the time line:
//
//   capture thread (a block ending at L arrives)   main thread (pump)
//   ------------------------------------------     -------------------------------------------
//   holds one unit of PendingWork, wakes main      runs every tick due before L, each with P
//   waits until P has reached L                    set to the tick's time, then sets P to L
//   hands the block to the channel                 waits until the channel has done the block,
//                                                  runs its posted reports, gives the unit back
//
// The lines deliver the next block only when PendingWork is idle, so nothing runs ahead: a tick
// sees exactly the recordings real time would show it, a schedule or Max_Time stop made by a tick
// cuts the file where real time would, and file names read P, which is the moment real time would
// give. The channels must use clock() and the same PendingWork.
//
// Threads: wrap()'s sinks run on capture threads; pump() on the main thread only.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "capture/capture_thread.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/event.h"
#include "platform/pending_work.h"

namespace kestavo::app {

class FastPace {
public:
    static constexpr std::chrono::milliseconds kTick{50};

    // `lines`: the lines' clock; `wake` schedules pump() on the main thread (any thread may call it).
    FastPace(platform::FakeClock& lines, platform::PendingWork& pending, std::function<void()> wake);

    // The program's clock: starts where the lines' clock starts and moves only in pump().
    [[nodiscard]] platform::FakeClock& clock() noexcept { return clock_; }

    // A sink that waits for the main thread to reach the block's time, then calls `inner`. The
    // wait also ends when `stop` is set or close() was called.
    [[nodiscard]] capture::BlockSink wrap(capture::BlockSink inner, const platform::Event& stop);

    // Main thread: runs the ticks that are due and lets the waiting blocks through; `tick` is the
    // timer's work. Never waits; returns true when it stopped at `budget` with work left, so the
    // caller should call again at once rather than wait for the next wake.
    bool pump(platform::MainDispatcher& dispatcher, const std::function<void()>& tick,
              std::chrono::milliseconds budget = std::chrono::milliseconds(20));

    // Every waiting sink goes on (shutdown). Any thread.
    void close();

    // Ticks run so far.
    [[nodiscard]] std::uint64_t ticks() const noexcept { return ticks_; }

private:
    platform::FakeClock& lines_;
    platform::PendingWork& pending_;
    std::function<void()> wake_;
    platform::FakeClock clock_;
    std::chrono::milliseconds nextTick_{kTick};  // time of the next tick since the start

    mutable std::mutex mutex_;
    std::condition_variable reached_;  // P moved, or closed
    std::int64_t owed_ = 0;            // blocks announced by sinks and not yet released
    std::int64_t handed_ = 0;          // of those, blocks already handed to their channel
    bool closed_ = false;
    std::uint64_t ticks_ = 0;
};

}  // namespace kestavo::app
