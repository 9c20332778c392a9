// Calls handed to the main thread: order, abandonment on stop, and release at close.
#include "platform/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <semaphore>
#include <vector>

namespace kestavo::platform {
namespace {

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

// Workers post runs of six calls, invoke with a token already stopped, and invoke with one that
// never stops, while the main thread drains: every call runs on the main thread in its worker's order, a call that
// reports success runs exactly once, and a call that reports abandonment never runs.
TEST(MainDispatcher, CallsRunOnTheMainThreadInOrderAndEachInvokeExactlyOnceOrNeverUnderRacingStops) {
    constexpr int kWorkers = 4, kCalls = 2400;
    MainDispatcher dispatcher;
    const auto mainId = std::this_thread::get_id();
    std::vector<std::vector<int>> ran(kWorkers), reported(kWorkers);  // calls that ran, calls reported as taken
    bool offMain = false;
    std::atomic<int> finished{0};
    {
        std::vector<std::jthread> workers;
        for (int w = 0; w < kWorkers; ++w)
            workers.emplace_back([&, w] {
                for (int i = 0; i < kCalls; ++i) {
                    const auto call = [&, w, i] {
                        offMain |= std::this_thread::get_id() != mainId;
                        ran[w].push_back(i);
                    };
                    std::stop_source source;
                    if (i % 8 == 6) source.request_stop();
                    if (i % 8 < 6 ? dispatcher.post(call) : dispatcher.invoke(call, source.get_token()))
                        reported[w].push_back(i);
                    else
                        EXPECT_EQ(i % 8, 6) << "only a stopped call may be refused";
                }
                ++finished;
            });
        while (finished.load() < kWorkers) dispatcher.drain();
    }
    dispatcher.drain();  // abandoned calls left in the queue must not run now either
    EXPECT_FALSE(offMain);
    for (int w = 0; w < kWorkers; ++w) EXPECT_EQ(ran[w], reported[w]) << "worker " << w;
}

}  // namespace
}  // namespace kestavo::platform
