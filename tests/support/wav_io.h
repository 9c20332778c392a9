#pragma once
// Plain WAV reading and writing for tests, kept apart from the product's writer so that a test
// reads a recording the way any other program would; and the byte views of files and samples
// the tests compare.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/line_rate.h"
#include "support/file_text.h"

namespace kestavo::test {

static_assert(std::endian::native == std::endian::little, "headers and samples are laid out in memory order");

// The canonical 44-byte header of a PCM WAV file, field by field.
struct WavHeader {
    char riff[4] = {'R', 'I', 'F', 'F'};
    std::uint32_t riffSize = 36;
    char waveFmt[8] = {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    std::uint32_t fmtSize = 16;
    std::uint16_t format = 1, channels = 1;
    std::uint32_t sampleRate = kLineRate, byteRate = 2 * kLineRate;
    std::uint16_t blockAlign = 2, bits = 16;
    char data[4] = {'d', 'a', 't', 'a'};
    std::uint32_t dataSize = 0;
};
static_assert(sizeof(WavHeader) == 44);

// A WAV file as read: its header and the sample data actually present after it.
struct WavData : WavHeader {
    std::vector<std::uint8_t> bytes;
    // 16-bit samples, interleaved (empty for 8-bit files)
    [[nodiscard]] std::vector<std::int16_t> samples16() const {
        std::vector<std::int16_t> s(bits == 16 ? bytes.size() / 2 : 0);
        if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
        return s;
    }
};

// Every byte of a file as it is on disk (empty when it cannot be read), and the reverse.
[[nodiscard]] inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}
inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    writeText(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

// 16-bit samples as the little-endian bytes a WAV file or a sound device holds.
[[nodiscard]] inline std::vector<std::byte> leBytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::byte> b(samples.size() * 2);
    if (!b.empty()) std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

// `samples` samples of block k: k x 1000 + position mod 997, so order and wholeness show.
[[nodiscard]] inline std::vector<std::int16_t> numberedSamples(int k, std::size_t samples) {
    std::vector<std::int16_t> s(samples);
    for (std::size_t i = 0; i < samples; ++i) s[i] = std::int16_t(k * 1000 + int(i % 997));
    return s;
}

// Writes a canonical 44-byte-header PCM WAV file with interleaved 16-bit samples.
inline void writeWav16(const std::filesystem::path& path, int channels, const std::vector<std::int16_t>& interleaved,
                       int sampleRate = kLineRate) {
    const auto size = std::uint32_t(interleaved.size() * 2);
    const WavHeader h{.riffSize = size + 36,
                      .channels = std::uint16_t(channels),
                      .sampleRate = std::uint32_t(sampleRate),
                      .byteRate = std::uint32_t(sampleRate * channels * 2),
                      .blockAlign = std::uint16_t(channels * 2),
                      .dataSize = size};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&h), sizeof h);
    out.write(reinterpret_cast<const char*>(interleaved.data()), std::streamsize(size));
}

// Reads a 44-byte-header PCM WAV file; nullopt when it is not one.
[[nodiscard]] inline std::optional<WavData> readWav(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> b = readBytes(path);
    WavHeader h;
    if (b.size() < sizeof h) return std::nullopt;
    std::memcpy(&h, b.data(), sizeof h);
    if (std::memcmp(h.riff, "RIFF", 4) || std::memcmp(h.waveFmt, "WAVE", 4) || std::memcmp(h.data, "data", 4))
        return std::nullopt;
    return WavData{h, {b.begin() + sizeof h, b.end()}};
}

}  // namespace kestavo::test
