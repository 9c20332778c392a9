#pragma once
// TappedOutputSystem: a file-backed sound output system with a tap. It notes the data area of
// each buffer written, refuses a number of opens, holds writes while its gate is reset, and lets
// a test wait for what it has seen.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/event.h"
#include "platform/file/file_output.h"

namespace kestavo::test {

class TappedOutputSystem final : public platform::SoundOutputSystem {
public:
    platform::FileSoundOutputSystem file;
    int failOpens = 0, attempts = 0;
    std::mutex mutex;  // guards the fields below
    std::condition_variable changed;
    std::vector<const std::byte*> areas;  // data area of every buffer written, in order
    std::size_t started = 0;              // writes begun (those not in `areas` wait at the gate)
    platform::Event gate{true};           // writes pass while it is set

    std::vector<platform::OutputDeviceInfo> outputDevices() override { return file.outputDevices(); }
    std::unique_ptr<platform::SoundOutput> open(int id, const platform::WaveFormat& f, std::error_code& e) override {
        if (++attempts, failOpens-- > 0) return e = std::make_error_code(std::errc::device_or_resource_busy), nullptr;
        auto inner = file.open(id, f, e);
        return inner ? std::make_unique<Output>(std::move(inner), *this) : nullptr;
    }
    // True once `n` buffers have been written (n = 0: once a write waits at the gate); false after 20 s.
    bool waitWritten(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return n ? areas.size() >= n : started > areas.size(); });
    }

private:
    struct Output final : platform::SoundOutput {
        Output(std::unique_ptr<platform::SoundOutput> i, TappedOutputSystem& s) : inner(std::move(i)), sys(s) {}
        std::error_code prepare(platform::WaveHeader& h) override { return inner->prepare(h); }
        std::error_code write(platform::WaveHeader& h) override {
            std::unique_lock lock(sys.mutex);
            ++sys.started, sys.changed.notify_all();
            lock.unlock();
            (void)sys.gate.wait(std::chrono::seconds(30));
            const auto error = inner->write(h);
            lock.lock();
            sys.areas.push_back(h.data), sys.changed.notify_all();
            return error;
        }
        platform::WaitResult wait(const platform::Event& s, std::chrono::milliseconds t) override {
            return inner->wait(s, t);
        }
        void reset() noexcept override { inner->reset(); }
        void unprepare(platform::WaveHeader& h) noexcept override { inner->unprepare(h); }
        void close() noexcept override { inner->close(); }
        std::unique_ptr<platform::SoundOutput> inner;
        TappedOutputSystem& sys;
    };
};

}  // namespace kestavo::test
