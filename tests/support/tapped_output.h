#pragma once
// TappedOutputSystem: a file-backed sound output system with a tap. It notes the data area of
// each buffer written, refuses a number of opens, holds writes at a gate while `hold` is set, and
// lets a test wait until a number of buffers have been written.
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/file/file_output.h"

namespace kestavo::test {

class TappedOutputSystem final : public platform::SoundOutputSystem {
public:
    explicit TappedOutputSystem(platform::OutputPace pace = platform::OutputPace::Immediate) : file(pace) {}
    platform::FileSoundOutputSystem file;
    int failOpens = 0, attempts = 0;
    std::mutex mutex;  // guards the fields below
    std::condition_variable changed;
    std::vector<const std::byte*> areas;  // data area of every buffer written, in order
    bool hold = false;
    int held = 0;  // writes waiting at the gate

    std::vector<platform::OutputDeviceInfo> outputDevices() override { return file.outputDevices(); }
    std::unique_ptr<platform::SoundOutput> open(int id, const platform::WaveFormat& f, std::error_code& e) override {
        if (++attempts, failOpens-- > 0) return e = std::make_error_code(std::errc::device_or_resource_busy), nullptr;
        auto inner = file.open(id, f, e);
        return inner ? std::make_unique<Output>(std::move(inner), *this) : nullptr;
    }
    void release() {
        std::lock_guard lock(mutex);
        hold = false;
        changed.notify_all();
    }
    // Waits until `n` buffers have been written; until a write waits at the gate.
    void waitWritten(std::size_t n) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return areas.size() >= n; });
    }
    void waitAtGate() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return held > 0; });
    }

private:
    struct Output final : platform::SoundOutput {
        Output(std::unique_ptr<platform::SoundOutput> i, TappedOutputSystem& s) : inner(std::move(i)), sys(s) {}
        std::error_code prepare(platform::WaveHeader& h) override { return inner->prepare(h); }
        std::error_code write(platform::WaveHeader& h) override {
            {
                std::unique_lock lock(sys.mutex);
                ++sys.held, sys.changed.notify_all();
                sys.changed.wait(lock, [&] { return !sys.hold; });
                --sys.held;
            }
            const auto error = inner->write(h);
            std::lock_guard lock(sys.mutex);
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
