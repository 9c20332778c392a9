#include "platform/file/file_output.h"
#include "platform/output_queue.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <deque>

namespace kestavo::platform {

struct FileSoundOutputSystem::Record {
    mutable std::mutex mutex;
    std::vector<std::vector<std::byte>> blocks;  // every written buffer, in order
    std::optional<WaveFormat> format;            // of the latest open
    int opens = 0;
};

namespace {

using Steady = std::chrono::steady_clock;

void put16(unsigned char* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

// The canonical 44-byte PCM WAV header for `dataBytes` bytes of sound.
std::array<unsigned char, 44> wavHeader(const WaveFormat& f, std::uint32_t dataBytes) {
    std::array<unsigned char, 44> h{};
    std::copy_n("RIFF", 4, h.begin());
    put32(&h[4], 36 + dataBytes);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    put32(&h[16], 16);
    put16(&h[20], 1);
    put16(&h[22], f.channels);
    put32(&h[24], f.samplesPerSec);
    put32(&h[28], f.samplesPerSec * f.blockAlign);
    put16(&h[32], f.blockAlign);
    put16(&h[34], f.bitsPerSample);
    std::copy_n("data", 4, h.begin() + 36);
    put32(&h[40], dataBytes);
    return h;
}

class FileSoundOutput final : public SoundOutput {
public:
    FileSoundOutput(std::shared_ptr<FileSoundOutputSystem::Record> record, OutputPace pace, const WaveFormat& format,
                    std::FILE* wav)
        : record_(std::move(record)), pace_(pace), format_(format), wav_(wav) {
        if (wav_ != nullptr) {
            const auto h = wavHeader(format_, 0);
            if (std::fwrite(h.data(), 1, h.size(), wav_) != h.size()) {
                // The file is a convenience for looking at the sound; memory keeps the record anyway.
                std::fclose(wav_);
                wav_ = nullptr;
            }
        }
    }
    ~FileSoundOutput() override { close(); }

    std::error_code prepare(WaveHeader& header) override {
        if (header.data == nullptr || header.bufferLength < format_.blockAlign)
            return std::make_error_code(std::errc::invalid_argument);
        header.prepared = true;
        header.done = false;
        return {};
    }

    std::error_code write(WaveHeader& header) override {
        if (closed_) return std::make_error_code(std::errc::no_such_device);
        if (!header.prepared) return std::make_error_code(std::errc::invalid_argument);
        const auto now = Steady::now();
        const auto played = [now](const Entry& e) { return e.due <= now; };
        if (header.queued && !queue_.takePlayedUpTo(header, played))
            return std::make_error_code(std::errc::device_or_resource_busy);
        {
            std::lock_guard lock(record_->mutex);
            record_->blocks.emplace_back(header.data, header.data + header.bufferLength);
        }
        if (wav_ != nullptr && std::fwrite(header.data, 1, header.bufferLength, wav_) == header.bufferLength)
            wavBytes_ += header.bufferLength;
        const auto seconds =
            std::chrono::duration<double>(double(header.bufferLength) / format_.blockAlign / format_.samplesPerSec);
        const auto begins = queue_.empty() ? now : std::max(now, queue_.back().due);
        const auto due =
            pace_ == OutputPace::Immediate ? now : begins + std::chrono::duration_cast<Steady::duration>(seconds);
        header.done = false;
        header.queued = true;
        queue_.push(Entry{&header, due});
        return {};
    }

    WaitResult wait(const Event& stop, std::chrono::milliseconds timeout) override {
        const auto deadline = Steady::now() + timeout;
        for (;;) {
            if (stop.isSet()) return WaitResult::Stopped;
            if (closed_) return WaitResult::DeviceLost;
            const auto now = Steady::now();
            if (!queue_.empty() && queue_.front().due <= now) {
                queue_.popFront();
                return WaitResult::BufferDone;
            }
            if (now >= deadline) return WaitResult::TimedOut;
            const auto until = queue_.empty() ? deadline : std::min(deadline, queue_.front().due);
            if (stop.wait(std::chrono::ceil<std::chrono::milliseconds>(until - now))) return WaitResult::Stopped;
        }
    }

    void reset() noexcept override { queue_.clear(); }

    void unprepare(WaveHeader& header) noexcept override {
        if (!header.queued) header.prepared = false;
    }

    void close() noexcept override {
        if (closed_) return;
        reset();
        closed_ = true;
        if (wav_ != nullptr) {
            // Errors ignored: the WAV file is a convenience; the memory record is what tests read.
            const auto h = wavHeader(format_, wavBytes_);
            if (std::fseek(wav_, 0, SEEK_SET) == 0) (void)std::fwrite(h.data(), 1, h.size(), wav_);
            std::fclose(wav_);
            wav_ = nullptr;
        }
    }

private:
    struct Entry {
        WaveHeader* header;
        Steady::time_point due;  // when its sound has been played
    };

    std::shared_ptr<FileSoundOutputSystem::Record> record_;
    OutputPace pace_;
    WaveFormat format_;
    std::FILE* wav_;              // the WAV file being written, or null
    std::uint32_t wavBytes_ = 0;  // sound bytes in the WAV file
    OutputQueue<Entry> queue_;    // written buffers, oldest first
    bool closed_ = false;
};

}  // namespace

FileSoundOutputSystem::FileSoundOutputSystem(OutputPace pace, std::filesystem::path wavPath, std::string deviceName)
    : pace_(pace), wavPath_(std::move(wavPath)), deviceName_(std::move(deviceName)),
      record_(std::make_shared<Record>()) {}

FileSoundOutputSystem::~FileSoundOutputSystem() = default;

std::vector<OutputDeviceInfo> FileSoundOutputSystem::outputDevices() { return {OutputDeviceInfo{deviceName_}}; }

std::unique_ptr<SoundOutput> FileSoundOutputSystem::open(int deviceId, const WaveFormat& format,
                                                         std::error_code& error) {
    if (deviceId != kWaveMapper && deviceId != 0) {
        error = std::make_error_code(std::errc::no_such_device);
        return nullptr;
    }
    if (format.formatTag != kWaveFormatPcm || (format.bitsPerSample != 8 && format.bitsPerSample != 16) ||
        format.channels < 1 || format.samplesPerSec == 0 ||
        format.blockAlign != format.bitsPerSample / 8 * format.channels) {
        error = std::make_error_code(std::errc::invalid_argument);
        return nullptr;
    }
    std::FILE* wav = nullptr;
    if (!wavPath_.empty() && (wav = std::fopen(wavPath_.c_str(), "wb")) == nullptr) {
        error = std::error_code(errno, std::generic_category());
        return nullptr;
    }
    {
        std::lock_guard lock(record_->mutex);
        record_->format = format;
        ++record_->opens;
    }
    error.clear();
    return std::make_unique<FileSoundOutput>(record_, pace_, format, wav);
}

std::vector<std::vector<std::byte>> FileSoundOutputSystem::writtenBlocks() const {
    std::lock_guard lock(record_->mutex);
    return record_->blocks;
}

std::optional<WaveFormat> FileSoundOutputSystem::lastFormat() const {
    std::lock_guard lock(record_->mutex);
    return record_->format;
}

int FileSoundOutputSystem::openCount() const {
    std::lock_guard lock(record_->mutex);
    return record_->opens;
}

}  // namespace kestavo::platform
