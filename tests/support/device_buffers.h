#pragma once
// DeviceBuffers: the ring of buffers a capture thread keeps queued on a sound input, prepared and
// queued in order at construction and handed back oldest first as the device fills them.
// Owned by the one thread that drives the input; declare it after the input it serves.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/sound_input.h"

namespace kestavo::test {

class DeviceBuffers {
public:
    DeviceBuffers(platform::SoundInput& in, std::size_t count, std::uint32_t bytes)
        : in_(in), data_(count, std::vector<std::byte>(bytes, std::byte{0xEE})), headers_(count) {
        for (std::size_t i = 0; i < count; ++i) {
            headers_[i] = platform::WaveHeader{data_[i].data(), bytes};
            EXPECT_FALSE(in.prepare(headers_[i]));
            EXPECT_FALSE(in.addBuffer(headers_[i]));
        }
    }
    // The input is closed before its buffers go: closing marks the queued ones done.
    ~DeviceBuffers() { in_.close(); }
    DeviceBuffers(const DeviceBuffers&) = delete;
    DeviceBuffers& operator=(const DeviceBuffers&) = delete;

    // After BufferDone: the recorded bytes of the buffer due next, which goes back to the device.
    std::vector<std::byte> take() {
        const platform::WaveHeader& h = headers_[next_];
        EXPECT_TRUE(h.done);
        std::vector<std::byte> got(data_[next_].begin(), data_[next_].begin() + h.bytesRecorded);
        EXPECT_FALSE(in_.addBuffer(headers_[next_]));
        next_ = (next_ + 1) % headers_.size();
        return got;
    }
    // Waits up to 5 s for the next buffer and takes it; empty when the wait ends otherwise.
    std::vector<std::byte> next(const platform::Event& stop) {
        const platform::WaitResult r = in_.wait(stop, std::chrono::seconds(5));
        EXPECT_EQ(r, platform::WaitResult::BufferDone);
        return r == platform::WaitResult::BufferDone ? take() : std::vector<std::byte>{};
    }
    // The end of capture: reset (every buffer comes back done and not queued), stop, unprepare, close.
    void finish() {
        in_.reset();
        for (const auto& h : headers_) EXPECT_TRUE(h.done && !h.queued);
        in_.stop();
        for (auto& h : headers_) in_.unprepare(h);
        in_.close();
    }

private:
    platform::SoundInput& in_;
    std::vector<std::vector<std::byte>> data_;
    std::vector<platform::WaveHeader> headers_;
    std::size_t next_ = 0;  // the buffer due next
};

}  // namespace kestavo::test
