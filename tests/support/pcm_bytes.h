#pragma once
// Byte views of 16-bit PCM for tests that hand blocks over as bytes (little-endian memory order),
// and numbered blocks whose every sample tells its block and position, so order and wholeness show.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestavo::test {

static_assert(std::endian::native == std::endian::little, "blocks are built in memory order");

inline std::vector<std::byte> bytesOf(const std::vector<std::int16_t>& s) {
    std::vector<std::byte> b(s.size() * 2);
    std::memcpy(b.data(), s.data(), b.size());
    return b;
}
inline std::vector<std::int16_t> samplesOf(const std::vector<std::byte>& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}
inline const std::byte* bytePtr(const std::vector<std::int16_t>& s, std::size_t at = 0) {
    return reinterpret_cast<const std::byte*>(s.data() + at);
}
// `samples` samples of block k: k x 1000 + position mod 997.
inline std::vector<std::int16_t> numberedSamples(int k, std::size_t samples) {
    std::vector<std::int16_t> s(samples);
    for (std::size_t i = 0; i < samples; ++i) s[i] = std::int16_t(k * 1000 + int(i % 997));
    return s;
}

}  // namespace kestavo::test
