#include "support/wav_io.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace kestavo::test {

namespace {
void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
        std::uint32_t(b[at + 3]) << 24;
}
std::uint16_t get16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint16_t(b[at] | b[at + 1] << 8);
}
}  // namespace

std::vector<std::int16_t> WavData::samples16() const {
    std::vector<std::int16_t> s;
    if (bits != 16) return s;
    s.resize(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

void writeWav16(const std::filesystem::path& path, int channels, const std::vector<std::int16_t>& interleaved,
                int sampleRate) {
    std::vector<std::uint8_t> h;
    const std::uint32_t data = std::uint32_t(interleaved.size() * 2);
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(h, data + 36);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(h, 16);
    put16(h, 1);
    put16(h, std::uint16_t(channels));
    put32(h, std::uint32_t(sampleRate));
    put32(h, std::uint32_t(sampleRate * channels * 2));
    put16(h, std::uint16_t(channels * 2));
    put16(h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(h, data);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
    out.write(reinterpret_cast<const char*>(interleaved.data()), std::streamsize(data));
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::byte> leBytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::byte> b;
    b.reserve(samples.size() * 2);
    for (const std::int16_t s : samples) {
        b.push_back(std::byte(std::uint16_t(s) & 0xFF));
        b.push_back(std::byte(std::uint16_t(s) >> 8));
    }
    return b;
}

std::optional<WavData> readWav(const std::filesystem::path& path) {
    if (!std::filesystem::exists(path)) return std::nullopt;
    const std::vector<std::uint8_t> b = readBytes(path);
    if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(b.data() + 8, "WAVE", 4) != 0 ||
        std::memcmp(b.data() + 36, "data", 4) != 0)
        return std::nullopt;
    WavData w;
    w.riffSize = get32(b, 4);
    w.channels = get16(b, 22);
    w.sampleRate = int(get32(b, 24));
    w.bits = get16(b, 34);
    w.dataSize = get32(b, 40);
    w.bytes.assign(b.begin() + 44, b.end());
    return w;
}

}  // namespace kestavo::test
