// Event: the manual-reset event, seen through its waits and its descriptor.
#include "platform/event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

bool readable(const Event& e) {
    pollfd p{e.fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

TEST(ManualResetEvent, StaysSetForEveryWaiterUntilReset) {
    Event e;
    EXPECT_FALSE(e.isSet() || readable(e) || e.wait(1ms));
    e.set();
    e.set();  // a second set changes nothing
    EXPECT_TRUE(e.wait(0ms) && e.wait(0ms) && readable(e));
    e.reset();  // one reset undoes any number of sets
    EXPECT_FALSE(e.isSet() || readable(e));
    e.reset();  // a reset of a clear event neither blocks nor sets it
    EXPECT_FALSE(e.isSet());
    EXPECT_TRUE(Event(true).isSet());
}

TEST(ManualResetEvent, SetFromAnotherThreadWakesEveryWaiter) {
    Event e;
    std::atomic<int> woken{0};
    {
        std::vector<std::jthread> waiters;
        for (int i = 0; i < 4; ++i)
            waiters.emplace_back([&] { woken += e.wait(60s) ? 1 : 0; });  // a lost wake-up hangs
        e.set();
    }
    EXPECT_EQ(woken.load(), 4);
}

}  // namespace
}  // namespace kestavo::platform
