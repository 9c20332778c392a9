#pragma once
// FakeCapture: what a test of a capture thread needs around it: a fake sound input system, the
// shared stop event, a Collector for each side's blocks and the operator's messages.
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

// Collects what a sink receives (on the capture thread); a test waits for a number of blocks.
struct Collector {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::vector<std::byte>> blocks;
    capture::BlockSink sink() {
        return [this](const std::byte* b, std::uint32_t n) {
            std::lock_guard lock(mutex);
            blocks.emplace_back(b, b + n);
            cv.notify_all();
        };
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return blocks.size() >= count; });
    }
};

// `n` bytes that differ from their neighbours and do not repeat with any short period.
inline std::vector<std::byte> numberedBytes(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::byte(i * 7 + i / 251);
    return v;
}

// A fake system, the shared stop event, both sides' sinks and the operator's messages.
struct FakeCapture {
    FakeSoundInputSystem sys;
    platform::Event stop;
    Collector left, right;
    platform::CollectingMessageSink messages;
    capture::SoundInParams params() {
        capture::SoundInParams p;
        p.leftSink = left.sink();
        p.rightSink = right.sink();
        return p;
    }
    std::function<void(const std::string&)> show() {
        return [this](const std::string& m) { messages.show(m); };
    }
};

}  // namespace kestavo::test
