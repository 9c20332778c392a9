#include "app/demo_line.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <string_view>

namespace kestavo::app {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
using Side = std::vector<double>;

std::size_t at(double seconds) { return std::size_t(std::lround(seconds * kDemoRate)); }

void addTone(Side& s, double from, double ms, double hz1, double hz2, double amplitude) {
    const std::size_t start = at(from), n = std::size_t(std::lround(ms * kDemoRate / 1000.0));
    for (std::size_t i = 0; i < n && start + i < s.size(); ++i) {
        const double t = double(i) / kDemoRate;
        double v = amplitude * std::sin(kTwoPi * hz1 * t);
        if (hz2 > 0) v += amplitude * std::sin(kTwoPi * hz2 * t);
        s[start + i] += v;
    }
}

// Two-of-six code of the caller-ID: 'H' start symbol, digits, each symbol 40 ms.
std::pair<double, double> mfPair(char symbol) {
    switch (symbol) {
        case '1': return {700, 900};
        case '2': return {700, 1100};
        case '3': return {900, 1100};
        case '4': return {700, 1300};
        case '5': return {900, 1300};
        case '6': return {1100, 1300};
        case '7': return {700, 1500};
        case '8': return {900, 1500};
        case '9': return {1100, 1500};
        case '0': return {1300, 1500};
        case 'P': return {1300, 1700};  // repeat symbol
        default: return {1100, 1700};   // 'H', the start symbol
    }
}

double callerId(Side& s, double from, std::string_view symbols) {
    double t = from;
    for (char c : symbols) {
        const auto [lo, hi] = mfPair(c);
        addTone(s, t, 40.0, lo, hi, 0.2);
        t += 0.040;
    }
    return t;
}

std::pair<double, double> dtmfPair(char key) {
    static constexpr std::string_view keys = "123A456B789C*0#D";
    static constexpr std::array<double, 4> rows{697, 770, 852, 941};
    static constexpr std::array<double, 4> cols{1209, 1336, 1477, 1633};
    const auto i = keys.find(key);
    const std::size_t k = i == std::string_view::npos ? 13 : i;
    return {rows[k / 4], cols[k % 4]};
}

double dtmf(Side& s, double from, std::string_view digits) {
    double t = from;
    for (char d : digits) {
        const auto [lo, hi] = dtmfPair(d);
        addTone(s, t, 80.0, lo, hi, 0.15);
        t += 0.160;
    }
    return t;
}

// Speech-like sound: syllables of a glottal pulse train through three formant resonators.
double speech(Side& s, double from, double seconds, double basePitch, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::size_t start = at(from), end = std::min(s.size(), at(from + seconds));
    std::size_t i = start;
    double phase = 0.0;
    std::array<double, 3> y1{}, y2{};
    while (i < end) {
        const std::size_t syllable = at(0.15 + 0.15 * u(rng));
        const std::size_t pause = at(0.05 + 0.10 * u(rng));
        const std::array<double, 3> formants{300 + 500 * u(rng), 900 + 1300 * u(rng), 2300 + 700 * u(rng)};
        const double pitchFrom = basePitch * (0.9 + 0.3 * u(rng)), pitchTo = basePitch * (0.8 + 0.4 * u(rng));
        for (std::size_t k = 0; k < syllable && i < end; ++k, ++i) {
            const double x = double(k) / double(syllable);
            const double pitch = pitchFrom + (pitchTo - pitchFrom) * x;
            phase += pitch / kDemoRate;
            double source = 0.0;
            if (phase >= 1.0) {
                phase -= 1.0;
                source = 1.0;  // one glottal pulse
            }
            double v = 0.0;
            for (std::size_t f = 0; f < 3; ++f) {
                const double r = 0.97, w = kTwoPi * formants[f] / kDemoRate;
                const double y = source + 2.0 * r * std::cos(w) * y1[f] - r * r * y2[f];
                y2[f] = y1[f];
                y1[f] = y;
                v += y * (f == 0 ? 1.0 : 0.5);
            }
            const double envelope = std::sin(std::numbers::pi * x);  // rise and fall of the syllable
            s[i] += 0.04 * envelope * v;
        }
        i += pause;
    }
    return from + seconds;
}

// One call: caller-ID, ring-back, conversation with dialled digits in it, and the line's clear.
void call(Side& s, double from, double talkSeconds, std::string_view number, std::string_view digits, double pitch,
          std::uint32_t seed) {
    double t = callerId(s, from, std::string("H") + std::string(number) + "P") + 0.5;
    for (int ring = 0; ring < 2; ++ring, t += 4.0) addTone(s, t, 1000.0, 425.0, 0.0, 0.1);
    t = speech(s, t, talkSeconds * 0.5, pitch, seed) + 0.4;
    t = dtmf(s, t, digits) + 0.4;
    speech(s, t, talkSeconds * 0.5, pitch * 1.4, seed + 1);
}

}  // namespace

std::vector<std::int16_t> MakeDemoExchange(double seconds) {
    const std::size_t n = at(seconds);
    Side left(n), right(n);
    call(left, 3.0, 30.0, "4957310", "2580#", 120.0, 11);
    call(left, 95.0, 40.0, "8126644", "1#", 190.0, 12);
    call(right, 20.0, 25.0, "3302211", "*55#", 160.0, 21);
    call(right, 120.0, 35.0, "7777001", "911", 110.0, 22);
    std::mt19937 rng(5);
    std::normal_distribution<double> hiss(0.0, 0.0005);  // about -66 dBFS of line noise
    std::vector<std::int16_t> out(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const double l = std::clamp(left[i] + hiss(rng), -1.0, 1.0), r = std::clamp(right[i] + hiss(rng), -1.0, 1.0);
        out[2 * i] = std::int16_t(std::lround(l * 32767.0));
        out[2 * i + 1] = std::int16_t(std::lround(r * 32767.0));
    }
    return out;
}

std::error_code WriteDemoLine(const std::filesystem::path& file, double seconds) {
    const auto samples = MakeDemoExchange(seconds);
    const std::uint32_t dataBytes = std::uint32_t(samples.size() * 2);
    auto le32 = [](std::uint32_t v) {
        return std::array<char, 4>{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto le16 = [](std::uint16_t v) { return std::array<char, 2>{char(v), char(v >> 8)}; };
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) return ec;
    const auto temporary = std::filesystem::path(file).concat(".part");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return std::make_error_code(std::errc::io_error);
        auto put = [&](auto bytes) { out.write(bytes.data(), std::streamsize(bytes.size())); };
        out.write("RIFF", 4);
        put(le32(dataBytes + 36));
        out.write("WAVEfmt ", 8);
        put(le32(16));
        put(le16(1));  // PCM
        put(le16(2));  // stereo
        put(le32(kDemoRate));
        put(le32(kDemoRate * 4));  // bytes per second
        put(le16(4));              // bytes per frame
        put(le16(16));             // bits per sample
        out.write("data", 4);
        put(le32(dataBytes));
        for (std::int16_t v : samples) put(le16(std::uint16_t(v)));
        if (!out) return std::make_error_code(std::errc::io_error);
    }
    std::filesystem::rename(temporary, file, ec);
    return ec;
}

}  // namespace kestavo::app
