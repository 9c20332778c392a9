#pragma once
// FakeCapture: what a test of a capture thread needs around it: a fake sound input system, the
// shared stop event, each side's blocks as its sink received them, and the operator's messages.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_thread.h"
#include "platform/messages.h"
#include "support/fake_sound.h"

namespace kestavo::test {

struct FakeCapture {
    FakeSoundInputSystem sys;
    platform::Event stop;
    platform::CollectingMessageSink messages;
    std::function<void(const std::string&)> show = [this](const std::string& m) { messages.show(m); };
    std::mutex mutex;  // guards `blocks` (the sinks run on the capture thread)
    std::condition_variable cv;
    std::vector<std::vector<std::byte>> blocks[2];  // what each side's sink received, left first

    capture::SoundInParams params() {
        capture::SoundInParams p;
        for (int side : {0, 1})
            (side ? p.rightSink : p.leftSink) = [this, side](const std::byte* b, std::uint32_t n) {
                std::lock_guard lock(mutex);
                blocks[side].emplace_back(b, b + n);
                cv.notify_all();
            };
        return p;
    }
    // Waits until a side has received `count` blocks.
    bool waitFor(int side, std::size_t count) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return blocks[side].size() >= count; });
    }
};

}  // namespace kestavo::test
