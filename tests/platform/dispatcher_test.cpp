// Calls handed to the main thread: order, abandonment on stop, and release at close.
#include "platform/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <semaphore>
#include <vector>

namespace kestavo::platform {
namespace {

TEST(MainDispatcher, PostedCallsRunOnTheMainThreadInTheOrderEachWorkerPostedThem) {
    constexpr int kWorkers = 4, kPosts = 3000;
    MainDispatcher dispatcher;
    const auto mainId = std::this_thread::get_id();
    std::vector<std::vector<int>> seen(kWorkers);  // touched on the main thread only
    int received = 0;
    bool offMain = false;
    {
        std::vector<std::jthread> workers;
        for (int w = 0; w < kWorkers; ++w)
            workers.emplace_back([&, w] {
                for (int i = 0; i < kPosts; ++i)
                    ASSERT_TRUE(dispatcher.post([&, w, i] {
                        offMain |= std::this_thread::get_id() != mainId;
                        seen[w].push_back(i);
                        ++received;
                    }));
            });
        while (received < kWorkers * kPosts) {
            dispatcher.drain();
            std::this_thread::yield();
        }
    }
    EXPECT_FALSE(offMain);
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), std::size_t(kPosts));
        for (int i = 0; i < kPosts; ++i) ASSERT_EQ(s[std::size_t(i)], i);
    }
}

TEST(MainDispatcher, AWaitingInvokeEndsOnStopOrCloseAndItsCallNeverRunsLater) {
    for (const bool byClose : {false, true}) {
        std::binary_semaphore queued{0};
        MainDispatcher dispatcher([&] { queued.release(); });
        bool ran = false, result = true;
        std::jthread worker([&](std::stop_token stop) {  // without a token only close frees the wait
            result = dispatcher.invoke([&] { ran = true; }, byClose ? std::stop_token{} : stop);
        });
        queued.acquire();  // the call waits in the queue; the main thread has not drained
        if (byClose)
            dispatcher.close();
        else
            worker.request_stop();
        worker.join();
        EXPECT_FALSE(result) << byClose;
        bool posted = true;  // after close nothing more is taken
        if (byClose) std::jthread([&] { posted = dispatcher.post([&] { ran = true; }); }).join();
        EXPECT_EQ(posted, !byClose);
        EXPECT_EQ(dispatcher.drain(), 0u);
        EXPECT_FALSE(ran) << byClose;
    }
}

// Workers invoke with tokens that are already stopped or never stop while the main thread drains:
// a call that reports success ran exactly once, and a call that reports abandonment never runs.
TEST(MainDispatcher, EveryInvokeRunsExactlyOnceOrNeverUnderRacingStops) {
    constexpr int kWorkers = 4, kCalls = 1500;
    MainDispatcher dispatcher;
    std::vector<std::atomic<int>> runs(kWorkers * kCalls);
    std::vector<char> reported(kWorkers * kCalls, 0);
    std::atomic<int> finished{0};
    {
        std::vector<std::jthread> workers;
        for (int w = 0; w < kWorkers; ++w)
            workers.emplace_back([&, w] {
                for (int i = 0; i < kCalls; ++i) {
                    const int id = w * kCalls + i;
                    std::stop_source source;
                    if (i % 2 == 0) source.request_stop();
                    reported[std::size_t(id)] =
                        dispatcher.invoke([&, id] { runs[std::size_t(id)].fetch_add(1); }, source.get_token());
                }
                ++finished;
            });
        while (finished.load() < kWorkers) dispatcher.drain();
    }
    dispatcher.drain();  // abandoned calls left in the queue must not run now either
    int succeeded = 0;
    for (std::size_t id = 0; id < runs.size(); ++id) {
        ASSERT_EQ(runs[id].load(), reported[id] ? 1 : 0) << id;
        succeeded += reported[id];
    }
    EXPECT_GE(succeeded, kWorkers * kCalls / 2);  // every call without a stop runs
}

}  // namespace
}  // namespace kestavo::platform
