#pragma once
// Plain WAV reading and writing for tests, kept apart from the product's writer so that a test
// reads a recording the way any other program would; and the byte views of files and samples
// the tests compare.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace kestavo::test {

struct WavData {
    int channels = 1;
    int sampleRate = 11025;
    int bits = 16;
    std::uint32_t riffSize = 0;       // the header's field at offset 4
    std::uint32_t dataSize = 0;       // the header's field at offset 40
    std::vector<std::uint8_t> bytes;  // the sample data actually present after the header
    // 16-bit samples, interleaved (empty for 8-bit files)
    [[nodiscard]] std::vector<std::int16_t> samples16() const;
};

// Writes a canonical 44-byte-header PCM WAV file with interleaved 16-bit samples.
void writeWav16(const std::filesystem::path& path, int channels, const std::vector<std::int16_t>& interleaved,
                int sampleRate = 11025);
// Reads a 44-byte-header PCM WAV file; nullopt when it is not one.
[[nodiscard]] std::optional<WavData> readWav(const std::filesystem::path& path);

// Every byte of a file as it is on disk (empty when it cannot be read), and the reverse.
[[nodiscard]] std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// 16-bit samples as the little-endian bytes a WAV file or a sound device holds.
[[nodiscard]] std::vector<std::byte> leBytes(const std::vector<std::int16_t>& samples);

}  // namespace kestavo::test
