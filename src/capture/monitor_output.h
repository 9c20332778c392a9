#pragma once
// Tin_out: the monitoring playback. An operator listens to one channel through a sound output,
// optionally with its spectrum inverted about a chosen frequency ("Инверсия спектра").
//
// How it works. The monitored channel hands every processed block to PutBlock. The block is
// copied into a small queue of preallocated slots and the playback thread is woken. The playback
// thread takes the oldest slot, copies it into the data area of the next of eight output buffers,
// inverts its spectrum about the pivot when inversion is on (dsp::tfft), writes the buffer to the
// device and moves on to the next buffer (after the eighth comes the first). Eight buffers of
// 16384 samples (1.49 s each at 11025 Hz) are queued on the device in turn, so playback runs about
// a block behind the channel and rides out several seconds of scheduling delay. A buffer is
// refilled only once the device has played it.
//
// States. Opening (Open: the device is opened, and once more after the retry delay if that fails;
// a second failure shows "Устройство занято" and gives no monitor) → playing (the thread waits
// for blocks) → closed (Close: no block is accepted any more, the thread ends) → released (the
// destructor: device reset, buffers unprepared, device closed; errors there are ignored). A lost
// device closes the monitor by itself; blocks are then ignored.
//
// Hand-over. A BlockQueue of kQueueSlots slots: PutBlock copies into a free slot (the block's
// width travels beside it); the playback thread copies the oldest slot out and frees it only
// afterwards, so a block is never changed while in work, and no wake-up is lost. A block that
// finds every slot taken is dropped and counted (Dropped()); PutBlock never waits for the
// playback thread.
//
// Threads. The playback thread is named "monitor". PutBlock: the monitored channel's thread (any
// thread; several at once are safe, as while the monitor moves from one channel to another).
// Open, the setters, Close and the destructor: the main thread. The device belongs to the
// playback thread between Open and Close. The playback thread never waits for another thread:
// its queue wait ends on the stop token and its device waits end on the stop event or after
// kDeviceWait, so Close can always join it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/block_queue.h"
#include "capture/monitor_sink.h"
#include "dsp/frequency_inverter.h"
#include "platform/event.h"
#include "platform/line_rate.h"
#include "platform/sound_output.h"

namespace kestavo::capture {

// Creation parameters of the monitoring playback.
struct InOutParams {
    int samplesPerBlock = 16384;  // samples in one output buffer (a power of two, at most 16384)
    int bits = 16;                // 16 (signed) or 8 (unsigned, offset 128)
    int channels = 1;             // mono
    int outputDevice = platform::SoundOutputSystem::kWaveMapper;  // OUT/Device; -1 the default output
    int sampleRate = kLineRate;                                   // samples per second
};

// The operator's spectrum settings: the "Инверсия спектра" check box and the inv_bar position. The
// main window writes them at any time; the playback thread reads them before each block. Shared so
// that the settings outlive a monitor that is closed and opened again.
struct SpectrumInversion {
    std::atomic<bool> on{false};
    std::atomic<int> hertz{1888};  // pivot in Hz, 1 ... 5000 (DirCh/Inv_Point)
};

class Tin_out final : public MonitorSink {
public:
    static constexpr int kHeaders = 8;     // output buffers queued on the device in turn
    static constexpr int kQueueSlots = 4;  // blocks that may wait for the playback thread (about 6 s)
    static constexpr std::chrono::milliseconds kRetryDelay{500};  // before the second open attempt
    static constexpr std::chrono::milliseconds kDeviceWait{200};  // longest device wait between stop checks
    static constexpr const char* kDeviceBusy = "Устройство занято";

    using MessageSink = std::function<void(const std::string&)>;

    // Main thread. Opens `params.outputDevice` (mono PCM at the block's rate and width), prepares
    // the eight buffers and starts the playback thread. When the device cannot be opened, waits
    // `retryDelay` and tries once more; when that fails too, shows kDeviceBusy through
    // `showMessage` and returns null. `inversion` null: the monitor keeps settings of its own.
    // Throws std::invalid_argument for a block length or width tfft does not take.
    [[nodiscard]] static std::unique_ptr<Tin_out> Open(platform::SoundOutputSystem& system, const InOutParams& params,
                                                       const MessageSink& showMessage,
                                                       std::shared_ptr<SpectrumInversion> inversion = nullptr,
                                                       std::chrono::milliseconds retryDelay = kRetryDelay);

    // Main thread: Close(), then the device is reset, its buffers unprepared and it is closed.
    // No channel may still call PutBlock (detach it first: Tchannel::SetMonitor(false)).
    ~Tin_out() override;
    Tin_out(const Tin_out&) = delete;
    Tin_out& operator=(const Tin_out&) = delete;

    // Channel thread, after each processed block: copies `length` bytes of `bitsPerSample`-bit
    // samples (8 or 16) and returns. Samples of the other width are converted; a short block is
    // played followed by silence, a long one cut to the buffer. Ignored once closed; dropped and
    // counted when the queue is full.
    void PutBlock(const std::byte* block, std::uint32_t length, int bitsPerSample) override;

    // Main thread, at any time; they take effect from the next block played.
    void SetInversion(bool on) noexcept { inversion_->on.store(on, std::memory_order_relaxed); }
    void SetInversionFrequency(int hertz) noexcept { inversion_->hertz.store(hertz, std::memory_order_relaxed); }

    // Main thread: no more blocks are accepted; the playback thread ends (blocks still queued are
    // not played). Idempotent.
    void Close() noexcept;

    // Any thread: blocks written to the device, blocks dropped because the queue was full, and
    // whether the device was lost (or refused a buffer) so that nothing more is played.
    [[nodiscard]] std::uint64_t Played() const noexcept { return played_.load(std::memory_order_acquire); }
    [[nodiscard]] std::uint64_t Dropped() const noexcept { return queue_.dropped(); }
    [[nodiscard]] bool DeviceLost() const noexcept { return deviceLost_.load(std::memory_order_relaxed); }
    [[nodiscard]] const InOutParams& Params() const noexcept { return params_; }

private:
    Tin_out(std::unique_ptr<platform::SoundOutput> output, const InOutParams& params,
            std::shared_ptr<SpectrumInversion> inversion);

    void run(std::stop_token stop);
    // Playback thread: waits until header `index` may be filled again; false on stop or loss.
    bool headerFree(std::size_t index, const std::stop_token& stop);
    // Playback thread: `block` into the data area of header `index`, in the output's width.
    void fillHeader(std::size_t index, const BlockQueue::Block& block);
    void markLost() noexcept;

    const InOutParams params_;
    const std::uint32_t headerBytes_;  // samples per block x bits / 8
    std::shared_ptr<SpectrumInversion> inversion_;

    // The device and what only the playback thread touches while it runs.
    std::unique_ptr<platform::SoundOutput> output_;
    std::vector<std::byte> headerMemory_;        // kHeaders data areas of headerBytes_ each
    std::vector<platform::WaveHeader> headers_;  // kHeaders, each over its data area
    std::size_t index_ = 0;                      // header that receives the next block (0 ... 7)
    dsp::tfft inverter_;                         // the spectrum inverter
    platform::Event stopEvent_;                  // set on stop; ends the device waits

    // The hand-over; its slots hold samplesPerBlock x 2 bytes, room for a block of either width.
    BlockQueue queue_;

    std::atomic<std::uint64_t> played_{0};
    std::atomic<bool> deviceLost_{false};

    std::jthread thread_;  // last: started when everything above is ready, joined first
};

}  // namespace kestavo::capture
