#include "sound_file_input.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>

#include "platform/line_rate.h"

namespace kestavo::tools {

namespace {

// The whole of standard input as a seekable file for libsndfile's virtual I/O.
struct MemoryFile {
    std::string bytes;
    sf_count_t at = 0;
};

sf_count_t memLength(void* user) { return sf_count_t(static_cast<MemoryFile*>(user)->bytes.size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t size = sf_count_t(m->bytes.size());
    sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? m->at + offset : size + offset;
    m->at = std::clamp<sf_count_t>(to, 0, size);
    return m->at;
}
sf_count_t memRead(void* out, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t n = std::min<sf_count_t>(count, sf_count_t(m->bytes.size()) - m->at);
    if (n <= 0) return 0;
    std::memcpy(out, m->bytes.data() + m->at, std::size_t(n));
    m->at += n;
    return n;
}
sf_count_t memWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->at; }

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;

// The frames of one side, by libsndfile's conversion to T.
template <typename T, typename ReadFrames>
std::vector<T> readSide(SNDFILE* f, const SF_INFO& info, int side, ReadFrames readFrames) {
    std::vector<T> out;
    std::vector<T> chunk(std::size_t(4096) * std::size_t(info.channels));
    for (sf_count_t got; (got = readFrames(f, chunk.data(), 4096)) > 0;)
        for (sf_count_t i = 0; i < got; ++i) out.push_back(chunk[std::size_t(i * info.channels + side)]);
    return out;
}

}  // namespace

std::optional<LineSound> ReadLineSound(const std::string& path, int side, std::string& error) {
    const std::string name = path == "-" ? "standard input" : path;
    SF_INFO info{};
    MemoryFile input;
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    Sndfile file;
    if (path == "-") {
        input.bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        file.reset(sf_open_virtual(&io, SFM_READ, &info, &input));
    } else {
        file.reset(sf_open(path.c_str(), SFM_READ, &info));
    }
    if (!file) {
        error = name + " is not a sound file libsndfile reads (" + sf_strerror(nullptr) + ")";
        return std::nullopt;
    }
    if (side >= info.channels) {
        error = name + " has no side " + std::to_string(side + 1) + " (it has " + std::to_string(info.channels) +
            " channel" + (info.channels == 1 ? ")" : "s)");
        return std::nullopt;
    }
    LineSound sound;
    sound.sourceRate = info.samplerate;
    sound.sourceChannels = info.channels;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool eightBit = subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_S8;

    if (info.samplerate == kLineRate) {
        // Already at the line rate: the samples as they are, 16-bit values exact.
        const auto s = readSide<short>(file.get(), info, side, sf_readf_short);
        if (eightBit) {
            sound.bits = 8;
            for (const short v : s) sound.bytes.push_back(std::uint8_t((v >> 8) + 128));
        } else {
            for (const short v : s) {
                sound.bytes.push_back(std::uint8_t(std::uint16_t(v) & 0xFF));
                sound.bytes.push_back(std::uint8_t(std::uint16_t(v) >> 8));
            }
        }
        return sound;
    }

    const auto in = readSide<float>(file.get(), info, side, sf_readf_float);
    const double ratio = double(kLineRate) / double(info.samplerate);
    std::vector<float> out(std::size_t(std::ceil(double(in.size()) * ratio)) + 16);
    std::size_t done = 0;
    const soxr_io_spec_t ioSpec = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    if (const soxr_error_t e = soxr_oneshot(info.samplerate, kLineRate, 1, in.data(), in.size(), nullptr, out.data(),
                                            out.size(), &done, &ioSpec, &quality, nullptr)) {
        error = name + ": resampling failed (" + e + ")";
        return std::nullopt;
    }
    out.resize(done);
    for (const float v : out) {
        const auto s = std::int16_t(std::clamp(std::lround(double(v) * 32768.0), -32768L, 32767L));
        sound.bytes.push_back(std::uint8_t(std::uint16_t(s) & 0xFF));
        sound.bytes.push_back(std::uint8_t(std::uint16_t(s) >> 8));
    }
    return sound;
}

}  // namespace kestavo::tools
