#pragma once
// Twav_writer: writes a channel's sound as a mono PCM WAV file with the 44-byte header below,
// 16 bits per sample as handed in or converted to 8 bits (unsigned, 128 = silence).
//
//   0 "RIFF" | 4 data bytes + 36 | 8 "WAVE" | 12 "fmt " | 16 16 | 20 1 (PCM) | 22 1 (mono)
//   24 sample rate | 28 bytes per second | 32 bytes per sample | 34 bits | 36 "data" | 40 data bytes
//
// A file must survive a crash or a power cut: after every block the two size fields are brought
// up to date, so every byte already written plays back. (A file left by an older crash can still
// hold 34 and 0 there; recording/wav_repair.h mends those at start-up.)
//
// Sample data is written at explicit offsets: after a failed write (full disk) the count stays at
// the last whole sample that reached the disk, and the sound that waits follows it exactly.
//
// Threads: as Tsound_writer — called with the channel's lock held; no lock of its own.
#include <array>
#include <cstdint>
#include <memory>

#include "recording/sound_writer.h"

namespace kestavo::recording {

class Twav_writer final : public Tsound_writer {
public:
    static constexpr std::size_t kHeaderBytes = 44;
    static constexpr std::size_t kConversionSamples = 16384;  // one block of samples

    explicit Twav_writer(const WriterParams& params);
    ~Twav_writer() override;

    // Creates base path + ".wav" (or the next free name), writes the header and then the
    // pre-recorded sound, converted to the file bits. Does nothing when a file is open.
    [[nodiscard]] std::error_code Open(const std::string& basePath) override;
    std::string Close(std::string_view eventText) override;
    [[nodiscard]] std::size_t MemoryBytes() const noexcept override;

    // One 16-bit sample as an unsigned 8-bit sample: s / 256 + 128, rounded half to even, 0..255.
    [[nodiscard]] static std::uint8_t To8Bit(std::int16_t s) noexcept;

protected:
    void FileWrite(std::span<const std::byte> block) override;
    [[nodiscard]] std::span<const std::byte> FileHead() const noexcept override { return header_; }
    void AfterFileGrew() override;
    [[nodiscard]] double BytesPerSecond() const noexcept override;

private:
    // Appends sample data at the end of the data; converts when the file has 8 bits per sample.
    void AppendData(std::span<const std::byte> block);
    // Brings the size fields at offsets 4 and 40 up to date.
    void WriteSizes();

    std::uint32_t dataBytes_ = 0;     // whole samples' bytes in the file
    std::uint64_t dataHandedIn_ = 0;  // sample bytes of the recording, written or waiting
    int openBits_ = 16;               // bits per sample in the open file's header
    std::array<std::byte, kHeaderBytes> header_{};
    std::unique_ptr<std::uint8_t[]> conversion_;  // kConversionSamples bytes, for 8-bit output
};

}  // namespace kestavo::recording
