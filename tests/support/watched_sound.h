#pragma once
// Sound systems that tell a waiting test how far the threads using them have come: WatchedInput
// counts the buffers a capture thread hands back for refilling (each one was delivered to its
// channels before), WatchedOutput the buffers a playback thread writes. Both wrap another system
// and notify a condition variable on every count, so a test waits on the count, never on time.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/sound_input.h"
#include "platform/sound_output.h"

namespace kestavo::test {

// A count that threads raise and a test waits on.
class WatchedCount {
public:
    void raise() {
        {
            std::lock_guard lock(mutex_);
            ++count_;
        }
        changed_.notify_all();
    }
    [[nodiscard]] std::uint64_t value() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    // True once the count reaches `atLeast`; false when `timeout` passes first.
    [[nodiscard]] bool waitFor(std::uint64_t atLeast, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return count_ >= atLeast; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
};

class WatchedInput final : public platform::SoundInputSystem {
public:
    explicit WatchedInput(platform::SoundInputSystem& inner) : inner_(inner) {}
    WatchedCount requeued;  // buffers queued again after start(), over every device opened

    std::vector<platform::InputDeviceInfo> inputDevices() override { return inner_.inputDevices(); }
    std::unique_ptr<platform::SoundInput> open(int id, const platform::WaveFormat& format,
                                               std::error_code& error) override {
        auto device = inner_.open(id, format, error);
        return device ? std::make_unique<Device>(std::move(device), requeued) : nullptr;
    }

private:
    class Device final : public platform::SoundInput {
    public:
        Device(std::unique_ptr<platform::SoundInput> d, WatchedCount& c) : d_(std::move(d)), count_(c) {}
        std::error_code prepare(platform::WaveHeader& h) override { return d_->prepare(h); }
        std::error_code addBuffer(platform::WaveHeader& h) override {
            const auto e = d_->addBuffer(h);
            if (started_) count_.raise();
            return e;
        }
        std::error_code start() override {
            started_ = true;
            return d_->start();
        }
        platform::WaitResult wait(const platform::Event& s, std::chrono::milliseconds t) override {
            return d_->wait(s, t);
        }
        void reset() noexcept override { d_->reset(); }
        void stop() noexcept override { d_->stop(); }
        void unprepare(platform::WaveHeader& h) noexcept override { d_->unprepare(h); }
        void close() noexcept override { d_->close(); }

    private:
        std::unique_ptr<platform::SoundInput> d_;
        WatchedCount& count_;
        bool started_ = false;
    };
    platform::SoundInputSystem& inner_;
};

class WatchedOutput final : public platform::SoundOutputSystem {
public:
    explicit WatchedOutput(platform::SoundOutputSystem& inner) : inner_(inner) {}
    WatchedCount written;  // buffers written without error, over every device opened

    std::vector<platform::OutputDeviceInfo> outputDevices() override { return inner_.outputDevices(); }
    std::unique_ptr<platform::SoundOutput> open(int id, const platform::WaveFormat& format,
                                                std::error_code& error) override {
        auto device = inner_.open(id, format, error);
        return device ? std::make_unique<Device>(std::move(device), written) : nullptr;
    }

private:
    class Device final : public platform::SoundOutput {
    public:
        Device(std::unique_ptr<platform::SoundOutput> d, WatchedCount& c) : d_(std::move(d)), count_(c) {}
        std::error_code prepare(platform::WaveHeader& h) override { return d_->prepare(h); }
        std::error_code write(platform::WaveHeader& h) override {
            const auto e = d_->write(h);
            if (!e) count_.raise();
            return e;
        }
        platform::WaitResult wait(const platform::Event& s, std::chrono::milliseconds t) override {
            return d_->wait(s, t);
        }
        void reset() noexcept override { d_->reset(); }
        void unprepare(platform::WaveHeader& h) noexcept override { d_->unprepare(h); }
        void close() noexcept override { d_->close(); }

    private:
        std::unique_ptr<platform::SoundOutput> d_;
        WatchedCount& count_;
    };
    platform::SoundOutputSystem& inner_;
};

}  // namespace kestavo::test
