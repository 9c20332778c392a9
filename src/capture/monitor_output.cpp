#include "capture/monitor_output.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/thread_name.h"

namespace kestavo::capture {

namespace {

// Little-endian 16-bit sample at `p`.
std::int16_t load16(const std::byte* p) noexcept {
    return std::int16_t(std::uint16_t(std::to_integer<unsigned>(p[0]) | (std::to_integer<unsigned>(p[1]) << 8)));
}
void store16(std::byte* p, std::int16_t v) noexcept {
    const auto u = std::uint16_t(v);
    p[0] = std::byte(u & 0xFF);
    p[1] = std::byte(u >> 8);
}

}  // namespace

std::unique_ptr<Tin_out> Tin_out::Open(platform::SoundOutputSystem& system, const InOutParams& params,
                                       const MessageSink& showMessage, std::shared_ptr<SpectrumInversion> inversion,
                                       std::chrono::milliseconds retryDelay) {
    const auto format = platform::WaveFormat::pcm(params.channels, params.sampleRate, params.bits);
    std::error_code error;
    auto output = system.open(params.outputDevice, format, error);
    if (!output) {
        // A device held by another program is often free again a moment later.
        std::this_thread::sleep_for(retryDelay);
        output = system.open(params.outputDevice, format, error);
    }
    if (!output) {
        if (showMessage) showMessage(kDeviceBusy);
        return nullptr;
    }
    if (!inversion) inversion = std::make_shared<SpectrumInversion>();
    return std::unique_ptr<Tin_out>(new Tin_out(std::move(output), params, std::move(inversion)));
}

Tin_out::Tin_out(std::unique_ptr<platform::SoundOutput> output, const InOutParams& params,
                 std::shared_ptr<SpectrumInversion> inversion)
    : params_(params), headerBytes_(std::uint32_t(params.samplesPerBlock) * std::uint32_t(params.bits / 8)),
      inversion_(std::move(inversion)), output_(std::move(output)), headerMemory_(std::size_t(kHeaders) * headerBytes_),
      headers_(kHeaders), inverter_(params.samplesPerBlock, params.bits),
      queue_(kQueueSlots, std::size_t(params.samplesPerBlock) * 2) {
    bool prepared = true;
    for (std::size_t i = 0; i < headers_.size(); ++i) {
        headers_[i].data = headerMemory_.data() + i * headerBytes_;
        headers_[i].bufferLength = headerBytes_;
        if (output_->prepare(headers_[i])) prepared = false;
    }
    // A device that will not take our buffers plays nothing; the monitor then only ignores blocks.
    if (!prepared) markLost();
    thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

Tin_out::~Tin_out() {
    Close();
    // Errors while releasing are of no consequence: the device is given up either way.
    output_->reset();
    for (auto& header : headers_) output_->unprepare(header);
    output_->close();
}

void Tin_out::Close() noexcept {
    (void)queue_.close();  // blocks still queued are not played
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void Tin_out::PutBlock(const std::byte* block, std::uint32_t length, int bitsPerSample) {
    if (block == nullptr || (bitsPerSample != 8 && bitsPerSample != 16)) return;
    (void)queue_.put(block, length, bitsPerSample);  // a closed monitor ignores it; a full queue counts it
}

void Tin_out::run(std::stop_token stop) {
    platform::nameThisThread("monitor");
    // The device waits watch an event, not the token: stopping sets it.
    std::stop_callback wakeDevice(stop, [this] { stopEvent_.set(); });
    while (const auto block = queue_.waitOldest(stop)) {
        // The block stays queued, so untouched by PutBlock, until copied out.
        if (!headerFree(index_, stop)) return;
        fillHeader(index_, *block);
        queue_.pop();

        platform::WaveHeader& header = headers_[index_];
        if (inversion_->on.load(std::memory_order_relaxed)) {
            inverter_.SetInversionFrequency(inversion_->hertz.load(std::memory_order_relaxed));
            inverter_.SetInversion(true);
            inverter_.ProcessBlock(std::span<std::byte>(header.data, header.bufferLength));
        }
        if (output_->write(header)) {
            markLost();
            return;
        }
        index_ = (index_ + 1) % headers_.size();
        played_.fetch_add(1, std::memory_order_release);
    }
}

bool Tin_out::headerFree(std::size_t index, const std::stop_token& stop) {
    const platform::WaveHeader& header = headers_[index];
    // Buffers finish in the order written, and this one is the oldest written: each wait that
    // reports a finished buffer brings it closer.
    while (header.queued) {
        if (stop.stop_requested()) return false;
        switch (output_->wait(stopEvent_, kDeviceWait)) {
            case platform::WaitResult::BufferDone:
            case platform::WaitResult::TimedOut: break;
            case platform::WaitResult::Stopped: return false;
            case platform::WaitResult::DeviceLost: markLost(); return false;
        }
    }
    return true;
}

void Tin_out::fillHeader(std::size_t index, const BlockQueue::Block& block) {
    std::byte* const out = headers_[index].data;
    const std::byte* const in = block.data;
    const int bits = block.tag;  // the block's sample width
    const std::size_t samples = params_.samplesPerBlock;
    std::size_t filled = 0;      // samples written
    if (bits == params_.bits) {  // whole samples only; half a sample left over is dropped
        const std::size_t width = std::size_t(params_.bits / 8);
        filled = std::min<std::size_t>(block.length / width, samples);
        std::memcpy(out, in, filled * width);
    } else if (bits == 8) {  // 8-bit unsigned into 16-bit signed: (b - 128) x 256
        filled = std::min<std::size_t>(block.length, samples);
        for (std::size_t i = 0; i < filled; ++i)
            store16(out + 2 * i, std::int16_t((std::to_integer<int>(in[i]) - 128) * 256));
    } else {  // 16-bit signed into 8-bit unsigned: the high byte, offset by 128
        filled = std::min<std::size_t>(block.length / 2, samples);
        for (std::size_t i = 0; i < filled; ++i) out[i] = std::byte(std::uint8_t((load16(in + 2 * i) >> 8) + 128));
    }
    // The whole buffer is played: the rest of a short block is silence, not the previous sound.
    if (params_.bits == 16)
        std::memset(out + 2 * filled, 0, (samples - filled) * 2);
    else
        std::memset(out + filled, 0x80, samples - filled);
}

void Tin_out::markLost() noexcept {
    deviceLost_.store(true, std::memory_order_relaxed);
    (void)queue_.close();
}

}  // namespace kestavo::capture
