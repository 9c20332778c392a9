#pragma once
// FakeSoundInputSystem: an in-memory sound input system for tests. Each device plays a fixed byte
// sequence into the queued buffers as fast as they are queued, then falls silent. Opening can fail a
// number of times, and a device can vanish after some buffers. Closing a device sets `closed`, and
// `requeued` counts the buffers queued again after start(), so a test waits on conditions, not time.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/event.h"
#include "platform/sound_input.h"

namespace kestavo::test {

// A count that threads raise and a test waits on.
class WatchedCount {
public:
    void raise() {
        std::lock_guard lock(mutex_);
        ++count_, changed_.notify_all();
    }
    // True once the count reaches `atLeast`; false when `timeout` passes first.
    [[nodiscard]] bool waitFor(std::uint64_t atLeast, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_ >= atLeast; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
};

struct FakeDevice {
    platform::InputDeviceInfo info;
    std::vector<std::byte> data;            // interleaved frames as the device records them
    std::vector<std::uint32_t> bufferFill;  // optional: bytes recorded per buffer, in order (else full buffers)
    int failOpens = 0;                      // opens that fail before one succeeds
    int loseAfterBuffers = -1;              // DeviceLost after this many buffers (-1: never)
};

class FakeInput final : public platform::SoundInput {
public:
    FakeInput(FakeDevice& d, platform::Event& closed, WatchedCount& requeued)
        : dev_(d), closed_(closed), requeued_(requeued) {}
    std::error_code prepare(platform::WaveHeader& h) override { return h.prepared = true, std::error_code{}; }
    std::error_code addBuffer(platform::WaveHeader& h) override {
        h.queued = true, h.done = false;
        queue_.push_back(&h);
        if (started_) requeued_.raise();
        return {};
    }
    std::error_code start() override { return started_ = true, std::error_code{}; }
    platform::WaitResult wait(const platform::Event& stop, std::chrono::milliseconds timeout) override {
        using platform::WaitResult;
        if (stop.isSet()) return WaitResult::Stopped;
        if (dev_.loseAfterBuffers >= 0 && delivered_ >= dev_.loseAfterBuffers) return WaitResult::DeviceLost;
        const bool more = index_ < dev_.bufferFill.size() || (dev_.bufferFill.empty() && pos_ < dev_.data.size());
        if (queue_.empty() || !more) return stop.wait(timeout) ? WaitResult::Stopped : WaitResult::TimedOut;
        platform::WaveHeader* h = queue_.front();
        queue_.pop_front();
        std::uint32_t n = h->bufferLength;
        if (!dev_.bufferFill.empty()) n = std::min(n, dev_.bufferFill[index_++]);
        n = std::uint32_t(std::min<std::size_t>(n, dev_.data.size() - std::min(pos_, dev_.data.size())));
        if (n > 0) std::memcpy(h->data, dev_.data.data() + pos_, n);
        pos_ += n, ++delivered_;
        h->bytesRecorded = n, h->done = true, h->queued = false;
        return WaitResult::BufferDone;
    }
    void reset() noexcept override {
        for (auto* h : queue_) h->done = true, h->queued = false;
        queue_.clear();
    }
    void stop() noexcept override {}
    void unprepare(platform::WaveHeader& h) noexcept override { h.prepared = false; }
    void close() noexcept override { closed_.set(); }

private:
    FakeDevice& dev_;
    platform::Event& closed_;
    WatchedCount& requeued_;
    std::deque<platform::WaveHeader*> queue_;
    std::size_t pos_ = 0, index_ = 0;
    int delivered_ = 0;
    bool started_ = false;
};

class FakeSoundInputSystem final : public platform::SoundInputSystem {
public:
    std::vector<FakeDevice> devices;
    std::atomic<int> opens{0};
    platform::WaveFormat lastFormat{};
    platform::Event closed;  // set when a device is closed: its capture thread has let it go
    WatchedCount requeued;   // buffers queued again after start(), over every device opened

    std::vector<platform::InputDeviceInfo> inputDevices() override {
        std::vector<platform::InputDeviceInfo> out;
        for (const auto& d : devices) out.push_back(d.info);
        return out;
    }
    std::unique_ptr<platform::SoundInput> open(int id, const platform::WaveFormat& format,
                                               std::error_code& error) override {
        ++opens;
        lastFormat = format;
        const bool known = id >= 0 && std::size_t(id) < devices.size();
        if (known && devices[std::size_t(id)].failOpens-- <= 0)
            return std::make_unique<FakeInput>(devices[std::size_t(id)], closed, requeued);
        error = make_error_code(known ? std::errc::device_or_resource_busy : std::errc::no_such_device);
        return nullptr;
    }
};

}  // namespace kestavo::test
