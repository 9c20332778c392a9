#pragma once
// SoundOutput, SoundOutputSystem: the sound output devices a channel is monitored on.
//
// Sound output devices, for monitoring a channel. The monitoring thread (Tin_out) drives one
// opened device the way it drives a wave-output device: prepare its buffers once, write() a
// buffer to play it, and at the end reset, unprepare each buffer and close.
//
// write() queues the whole buffer (bufferLength bytes) behind those already written; the device
// plays them in order and returns each one done once it has taken all of its sound, after which
// the caller may fill it again. wait() is the "buffer done" event: it returns BufferDone when the
// oldest written buffer has been played (its header's `done` is set and it leaves the queue); the
// shared stop event is watched by the same wait. A caller that never waits may still write a
// header again once it has been played (it and the played buffers before it then leave the queue
// unreported); a header still playing is refused (device_or_resource_busy), never overwritten.
// Header flags change only inside these calls, on the caller's thread; a queued buffer's data must
// not be touched until it is done.
//
// Threads: enumeration from any thread; an opened SoundOutput belongs to one thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/event.h"
#include "platform/sound_input.h"  // WaveFormat, WaveHeader, WaitResult

namespace kestavo::platform {

struct OutputDeviceInfo {
    std::string productName;  // the card name, or the backend's name for its device
};

class SoundOutput {
public:
    virtual ~SoundOutput() = default;
    [[nodiscard]] virtual std::error_code prepare(WaveHeader& header) = 0;
    // Queues the whole buffer for playing. Errors: invalid_argument when not prepared,
    // device_or_resource_busy when the buffer is still queued, no_such_device once the device is lost.
    [[nodiscard]] virtual std::error_code write(WaveHeader& header) = 0;
    // Waits for the oldest written buffer to be played, for `stop`, or for `timeout`.
    [[nodiscard]] virtual WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) = 0;
    // Stops playing at once: every queued buffer is done and the queue is empty.
    virtual void reset() noexcept = 0;
    virtual void unprepare(WaveHeader& header) noexcept = 0;
    virtual void close() noexcept = 0;
    // Underruns so far (the device ran out of sound because buffers came late).
    [[nodiscard]] virtual std::uint64_t underruns() const noexcept { return 0; }
};

class SoundOutputSystem {
public:
    static constexpr int kWaveMapper = -1;  // the system's default output ("WAVE_MAPPER")

    virtual ~SoundOutputSystem() = default;
    // Device identifiers 0, 1, ... are positions in this list; kWaveMapper is not listed.
    [[nodiscard]] virtual std::vector<OutputDeviceInfo> outputDevices() = 0;
    // Opens device `deviceId` (or kWaveMapper) in `format`; on failure returns null and sets `error`.
    [[nodiscard]] virtual std::unique_ptr<SoundOutput> open(int deviceId, const WaveFormat& format,
                                                            std::error_code& error) = 0;
};

}  // namespace kestavo::platform
