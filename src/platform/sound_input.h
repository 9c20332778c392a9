#pragma once
// SoundInput, SoundInputSystem: the sound input devices the capture threads drive.
//
// Sound input devices. The capture thread (tsoundin) drives one opened device through the same
// steps a wave-input device takes: prepare its buffers, queue them, start, wait for the oldest
// queued buffer to be filled, re-queue it, and at the end reset, stop, unprepare and close.
//
// A device fills queued buffers strictly in queue order. wait() is the "buffer done" event: it
// returns BufferDone when the oldest queued buffer is full (its header's bytesRecorded says how
// much was recorded and `done` is set); the caller takes that buffer out of the queue by handling
// it and queueing it again. The shared stop event is watched by the same wait, so a stop never
// waits out a buffer.
//
// Threads: enumeration from any thread; an opened SoundInput belongs to one capture thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/event.h"
#include "platform/line_rate.h"
#include "platform/memory_mixer.h"
#include "platform/sound_mixer.h"

namespace kestavo::platform {

// The format tag of plain PCM in a wave format record (and in a WAV file's "fmt " chunk).
inline constexpr std::uint16_t kWaveFormatPcm = 1;

// The PCM format description handed to a device (the fields of a wave format record).
struct WaveFormat {
    std::uint16_t formatTag = kWaveFormatPcm;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = kLineRate;
    std::uint32_t avgBytesPerSec = 44100;  // blockAlign * samplesPerSec
    std::uint16_t blockAlign = 4;          // bits / 8 * channels
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraSize = 0;

    [[nodiscard]] static WaveFormat pcm(int channels, int samplesPerSec, int bits) noexcept {
        WaveFormat f;
        f.channels = std::uint16_t(channels);
        f.samplesPerSec = std::uint32_t(samplesPerSec);
        f.bitsPerSample = std::uint16_t(bits);
        f.blockAlign = std::uint16_t(bits / 8 * channels);
        f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
        return f;
    }
};

// One device buffer: the data area is owned by the caller; the device writes bytesRecorded.
struct WaveHeader {
    std::byte* data = nullptr;
    std::uint32_t bufferLength = 0;   // bytes
    std::uint32_t bytesRecorded = 0;  // bytes the device recorded into it
    bool prepared = false;
    bool queued = false;
    bool done = false;
};

struct InputDeviceInfo {
    std::string productName;  // the card name, or the file name of a file-backed line
    bool mono = false;        // accepts 11025 Hz, 16-bit, 1 channel
    bool stereo = false;      // accepts 11025 Hz, 16-bit, 2 channels
};

enum class WaitResult {
    BufferDone,  // the oldest queued buffer is full (or was cut short by reset)
    Stopped,     // the stop event is set
    TimedOut,    // nothing within the timeout; not an error
    DeviceLost,  // the device vanished or cannot recover; capture of this device ends
};

class SoundInput {
public:
    virtual ~SoundInput() = default;
    [[nodiscard]] virtual std::error_code prepare(WaveHeader& header) = 0;
    [[nodiscard]] virtual std::error_code addBuffer(WaveHeader& header) = 0;
    [[nodiscard]] virtual std::error_code start() = 0;
    // Waits for the oldest queued buffer to be filled, for `stop`, or for `timeout`.
    [[nodiscard]] virtual WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) = 0;
    // Marks every queued buffer done with what it holds and empties the queue.
    virtual void reset() noexcept = 0;
    virtual void stop() noexcept = 0;
    virtual void unprepare(WaveHeader& header) noexcept = 0;
    virtual void close() noexcept = 0;
    // Overruns recovered so far (sound lost because the buffers were not re-queued in time).
    [[nodiscard]] virtual std::uint64_t overruns() const noexcept { return 0; }
    // Why wait() answered DeviceLost, as the system's error (for example no_such_device, or
    // timed_out for a stream that stopped delivering); empty while the device is not lost.
    [[nodiscard]] virtual std::error_code lostReason() const noexcept { return {}; }
};

class SoundInputSystem {
public:
    virtual ~SoundInputSystem() = default;
    // Device identifiers are positions in this list.
    [[nodiscard]] virtual std::vector<InputDeviceInfo> inputDevices() = 0;
    // Opens device `deviceId` in `format`; on failure returns null and sets `error`.
    [[nodiscard]] virtual std::unique_ptr<SoundInput> open(int deviceId, const WaveFormat& format,
                                                           std::error_code& error) = 0;
    // The mixer of the sound card device `deviceId` belongs to (main thread). A device without a
    // card has a mixer without lines and no error; null with `error` set when the card's mixer
    // cannot be opened.
    [[nodiscard]] virtual std::unique_ptr<SoundMixer> openMixer(int deviceId, std::error_code& error) {
        (void)deviceId;
        error.clear();
        return std::make_unique<MemoryMixer>();
    }
};

}  // namespace kestavo::platform
