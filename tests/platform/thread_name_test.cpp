#include "platform/thread_name.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <thread>

using kestavo::platform::nameThisThread;

namespace {
std::string nameOf(std::string_view requested) {
    std::string got;
    std::jthread([&] {
        nameThisThread(requested);
        char buffer[64] = {};
        if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) == 0) got = buffer;
    }).join();
    return got;
}
}  // namespace

TEST(ThreadName, TheSystemShowsTheNameCutToFifteenBytesAndNeverInsideACharacter) {
    EXPECT_EQ(nameOf("channel 3"), "channel 3");
    EXPECT_EQ(nameOf("capture hw:CARD=PCH,DEV=0"), "capture hw:CARD");  // the first 15 bytes
    // "1 каналам" is 16 bytes, its 15th byte the first half of "м": the name ends before it.
    EXPECT_EQ(nameOf("1 каналам"), "1 канала");
    EXPECT_EQ(nameOf("канал мо"), "канал мо");  // exactly 15 bytes stay whole
}
