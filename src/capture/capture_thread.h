#pragma once
// tsoundin: the capture thread of one sound input device ("capture <device>" in `top -H`). It
// opens the device at 11025 samples per second, 16 bits (or 8), stereo or mono, keeps six
// device buffers in circulation, and for every buffer the device fills it splits stereo frames
// into a left and a right block and hands each block to the channel that listens to that side
// (normally the channel's PutData). It does no analysis of its own, so the device is never
// starved while channels work.
//
// The thread waits on the device and the shared stop event together, so setting the stop event
// ends every capture thread at once. Buffers are delivered strictly in order 0, 1, …, 5, 0, …,
// one per completion. A device that cannot be opened after one retry stays failed, with no
// thread; a device that vanishes or stops delivering while capturing ends its thread: Lost() turns
// true and LostReason() says why. The thread then shows a message, unless its owner watches for
// lost devices itself (ownerWatchesLoss), which lets go of the ended thread and opens the device
// again when it returns.
//
// Threads: constructed and destroyed on the main thread; Rebind from the main thread while the
// capture thread runs; sinks are called on the capture thread and must return quickly.
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/line_rate.h"
#include "platform/sound_input.h"

namespace kestavo::capture {

// A side's sink: (block, length in bytes).
using BlockSink = std::function<void(const std::byte* block, std::uint32_t length)>;

struct SoundInParams {
    int bitsPerSample = 16;
    int channelCount = 2;  // 2 stereo, 1 mono
    int deviceId = 0;
    int sampleRate = kLineRate;
    int samplesPerBlock = 16384;  // 8192 for 8-bit
    int leftChannel = 0;          // channel numbers fed by each side; right is -1 for a mono device
    int rightChannel = -1;
    BlockSink leftSink;
    BlockSink rightSink;
    bool ownerWatchesLoss = false;  // true: a lost device is reported by the owner, not by a message
};

class tsoundin {
public:
    static constexpr int kBuffers = 6;
    static constexpr std::chrono::milliseconds kRetryDelay{1500};

    // Opens and starts the device and the thread. `stop` is the event shared by all capture
    // threads; `showMessage` shows an operator message (may be called from the capture thread).
    tsoundin(platform::SoundInputSystem& system, SoundInParams params, const platform::Event& stop,
             std::function<void(const std::string&)> showMessage, std::chrono::milliseconds retryDelay = kRetryDelay);
    // Ends the thread (if the stop event has not already) and releases the device.
    ~tsoundin();
    tsoundin(const tsoundin&) = delete;
    tsoundin& operator=(const tsoundin&) = delete;

    // New channel numbers and sinks (channel assignment). Main thread.
    void Rebind(int leftChannel, int rightChannel, BlockSink left, BlockSink right);

    [[nodiscard]] bool Failed() const noexcept { return failed_; }
    [[nodiscard]] bool Running() const noexcept { return running_.load(std::memory_order_acquire); }
    [[nodiscard]] int ChannelCount() const noexcept { return params_.channelCount; }
    [[nodiscard]] int DeviceId() const noexcept { return params_.deviceId; }
    [[nodiscard]] int LeftChannel() const;
    [[nodiscard]] int RightChannel() const;
    // Wait time-out: samples per block * 1000 / rate, truncated, + 10000 ms (11486 ms by default).
    [[nodiscard]] std::chrono::milliseconds Timeout() const noexcept { return timeout_; }
    [[nodiscard]] std::uint64_t BuffersDelivered() const noexcept { return delivered_.load(std::memory_order_relaxed); }
    // True once the thread ended because its device was lost (any thread).
    [[nodiscard]] bool Lost() const noexcept { return lost_.load(std::memory_order_acquire); }
    // Why the device was lost (the device's reason, else no_such_device); read once Lost() is true.
    [[nodiscard]] std::error_code LostReason() const noexcept { return lostReason_; }

private:
    void run(std::stop_token stop);
    void deliver(const platform::WaveHeader& header, const std::stop_token& stop);
    void release() noexcept;

    platform::SoundInputSystem& system_;
    SoundInParams params_;
    const platform::Event& stopEvent_;
    std::function<void(const std::string&)> showMessage_;
    std::chrono::milliseconds timeout_;
    platform::WaveFormat format_;
    std::unique_ptr<platform::SoundInput> device_;
    std::array<platform::WaveHeader, kBuffers> headers_{};
    std::vector<std::byte> bufferMemory_;  // the six data areas, one after another
    std::vector<std::byte> left_, right_;  // block areas per side
    int next_ = 0;                         // index of the buffer expected next
    bool failed_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> lost_{false};  // set after lostReason_, which is written once, on the capture thread
    std::error_code lostReason_;
    std::atomic<std::uint64_t> delivered_{0};
    mutable std::mutex bindMutex_;  // guards the sinks and channel numbers against Rebind
    std::jthread thread_;
};

}  // namespace kestavo::capture
