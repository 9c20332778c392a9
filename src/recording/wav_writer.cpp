#include "recording/wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestavo::recording {

namespace {

void Put32(std::byte* at, std::uint32_t v) noexcept {
    for (int i = 0; i < 4; ++i) at[i] = std::byte(v >> (8 * i));
}
void Put16(std::byte* at, std::uint16_t v) noexcept {
    at[0] = std::byte(v);
    at[1] = std::byte(v >> 8);
}
void PutTag(std::byte* at, const char (&tag)[5]) noexcept { std::memcpy(at, tag, 4); }

// The RIFF size field covers the 36 header bytes after it besides the data.
constexpr std::uint32_t kRiffOverhead = 36;
// Most sample bytes a WAV file can describe in its 32-bit size fields.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFull - kRiffOverhead;

}  // namespace

Twav_writer::Twav_writer(const WriterParams& params)
    : Tsound_writer(params), conversion_(std::make_unique_for_overwrite<std::uint8_t[]>(kConversionSamples)) {}

Twav_writer::~Twav_writer() { (void)Close({}); }

std::uint8_t Twav_writer::To8Bit(std::int16_t s) noexcept {
    // s × (1/32768) × 128 + 128 = (s + 32768) / 256, done in integers: quotient and remainder,
    // a remainder of exactly half rounds to the even quotient.
    const unsigned q = unsigned(int(s) + 32768);
    unsigned v = q >> 8;
    const unsigned rem = q & 0xFF;
    if (rem > 128 || (rem == 128 && (v & 1) != 0)) ++v;
    return std::uint8_t(std::min(v, 255u));
}

std::error_code Twav_writer::Open(const std::string& basePath) {
    if (open_) return {};
    openBits_ = fileBits_;
    const std::uint16_t bytesPerSample = std::uint16_t(openBits_ / 8);
    std::byte* h = header_.data();
    PutTag(h + 0, "RIFF");
    Put32(h + 4, 34);  // a file never completed says 34 and 0 (see wav_repair.h)
    PutTag(h + 8, "WAVE");
    PutTag(h + 12, "fmt ");
    Put32(h + 16, 16);
    Put16(h + 20, 1);  // PCM
    Put16(h + 22, 1);  // mono
    Put32(h + 24, std::uint32_t(params_.sampleRate));
    Put32(h + 28, std::uint32_t(params_.sampleRate) * bytesPerSample);
    Put16(h + 32, bytesPerSample);
    Put16(h + 34, std::uint16_t(openBits_));
    PutTag(h + 36, "data");
    Put32(h + 40, 0);

    dataBytes_ = 0;
    dataHandedIn_ = 0;
    const std::error_code ec = BeginFile(basePath, ".wav");
    AppendData(delayLine_.Take());
    return ec;
}

std::string Twav_writer::Close(std::string_view eventText) {
    if (!open_) return fileName_;
    return EndFile(eventText);
}

void Twav_writer::FileWrite(std::span<const std::byte> block) { AppendData(block); }

void Twav_writer::AppendData(std::span<const std::byte> block) {
    if (block.empty()) return;
    if (openBits_ == 16) {
        const std::size_t n = std::min(block.size(), std::size_t(kMaxDataBytes - dataHandedIn_)) & ~std::size_t(1);
        dataHandedIn_ += n;
        Append(block.first(n));
    } else {
        const std::size_t samples = block.size() / 2;
        for (std::size_t at = 0; at < samples;) {
            const std::size_t n =
                std::min({samples - at, kConversionSamples, std::size_t(kMaxDataBytes - dataHandedIn_)});
            if (n == 0) break;
            for (std::size_t i = 0; i < n; ++i) {
                std::int16_t s;
                std::memcpy(&s, block.data() + 2 * (at + i), 2);  // little-endian host
                conversion_[i] = To8Bit(s);
            }
            dataHandedIn_ += n;
            Append(std::as_bytes(std::span(conversion_.get(), n)));
            at += n;
        }
    }
}

void Twav_writer::AfterFileGrew() {
    // The header tells only whole samples that are on the disk.
    const std::uint64_t onDisk = FileBytes() > kHeaderBytes ? FileBytes() - kHeaderBytes : 0;
    dataBytes_ = std::uint32_t(onDisk - onDisk % std::uint64_t(openBits_ / 8));
    WriteSizes();
}

double Twav_writer::BytesPerSecond() const noexcept { return double(params_.sampleRate) * (openBits_ / 8); }

void Twav_writer::WriteSizes() {
    std::byte field[4];
    Put32(field, dataBytes_ + kRiffOverhead);
    Put32(header_.data() + 4, dataBytes_ + kRiffOverhead);
    // A failure here leaves the older sizes; the next block (or the start-up repair) mends them.
    (void)WriteAt(4, field);
    Put32(field, dataBytes_);
    Put32(header_.data() + 40, dataBytes_);
    (void)WriteAt(40, field);
}

std::size_t Twav_writer::MemoryBytes() const noexcept { return Tsound_writer::MemoryBytes() + kConversionSamples; }

}  // namespace kestavo::recording
