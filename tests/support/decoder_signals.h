#pragma once
// Line sound for the decoder plug-ins' tests: FSK caller-ID messages (Bell 202 and V.23 framing of
// the single and multiple data message formats), DTMF pairs with chosen frequencies and levels,
// and the sounds a decoder must stay silent on — voices of several pitches, music (chords and
// melodies of harmonic notes), pink noise, mains hum with harmonics and the usual line tones.
// All deterministic, normalised (full scale 1.0) at 11025 Hz, built on support/signal_gen.h.
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/signal_gen.h"

namespace kestavo::test {

// ---- FSK caller ID ----------------------------------------------------------------------------

struct FskStandard {
    double markHz, spaceHz;
};
inline constexpr FskStandard kBell202{1200.0, 2200.0};
inline constexpr FskStandard kV23{1300.0, 2100.0};

// A message as sent: type, length, body, and the checksum byte that makes the sum of all bytes
// 0 modulo 256 (the two's complement of the sum of the others).
inline std::vector<std::uint8_t> withChecksum(std::uint8_t type, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> m;
    m.reserve(body.size() + 3);
    m.push_back(type);
    m.push_back(std::uint8_t(body.size()));
    for (const auto b : body) m.push_back(b);
    unsigned sum = 0;
    for (const auto b : m) sum += b;
    m.push_back(std::uint8_t((256 - sum % 256) % 256));
    return m;
}
// Single data message format: date and time "MMDDHHMM", then the number or "O"/"P".
inline std::vector<std::uint8_t> sdmf(std::string_view dateTime, std::string_view number) {
    std::vector<std::uint8_t> body(dateTime.begin(), dateTime.end());
    body.insert(body.end(), number.begin(), number.end());
    return withChecksum(0x04, body);
}
// Multiple data message format from (parameter type, value) pairs in the order given.
inline std::vector<std::uint8_t> mdmf(const std::vector<std::pair<std::uint8_t, std::string_view>>& params) {
    std::vector<std::uint8_t> body;
    for (const auto& [type, value] : params) {
        body.push_back(type);
        body.push_back(std::uint8_t(value.size()));
        body.insert(body.end(), value.begin(), value.end());
    }
    return withChecksum(0x80, body);
}

// The bits on the line: `seizureBits` of alternating 0 and 1 (channel seizure), `markBits` of 1,
// then each byte as a 0 start bit, eight data bits lowest first and a 1 stop bit, then 10 marks.
inline std::vector<int> callerIdBits(const std::vector<std::uint8_t>& message, int seizureBits = 300,
                                     int markBits = 180) {
    std::vector<int> bits;
    for (int i = 0; i < seizureBits; ++i) bits.push_back(i % 2);
    bits.insert(bits.end(), std::size_t(markBits), 1);
    for (const auto b : message) {
        bits.push_back(0);
        for (int i = 0; i < 8; ++i) bits.push_back((b >> i) & 1);
        bits.push_back(1);
    }
    bits.insert(bits.end(), 10, 1);
    return bits;
}
// Phase-continuous FSK of the bits at `baud` (a mark is 1), amplitude `amplitude`.
inline Signal fsk(const std::vector<int>& bits, FskStandard standard, double amplitude, double baud = 1200.0,
                  double phase = 0.3) {
    const double samplesPerBit = kLineRate / baud;
    Signal s(std::size_t(double(bits.size()) * samplesPerBit));
    for (std::size_t n = 0; n < s.size(); ++n) {
        const int bit = bits[std::min(bits.size() - 1, std::size_t(double(n) / samplesPerBit))];
        phase += kTwoPi * (bit ? standard.markHz : standard.spaceHz) / kLineRate;
        s[n] = amplitude * std::sin(phase);
    }
    return s;
}

// ---- DTMF -------------------------------------------------------------------------------------

// One tone pair: the low tone at lowDbfs and the high tone at highDbfs (amplitudes 10^(dB/20)),
// for toneMs, then pauseMs of silence.
inline Signal tonePair(double lowHz, double lowDbfs, double highHz, double highDbfs, double toneMs, double pauseMs) {
    Signal s = tone(lowHz, amplitudeOf(lowDbfs), samplesOf(toneMs));
    mixInto(s, tone(highHz, amplitudeOf(highDbfs), samplesOf(toneMs), 0.7));
    append(s, silence(samplesOf(pauseMs)));
    return s;
}

// White noise whose power is `snrDb` below the mean power of `s`, added to it.
inline Signal withNoise(Signal s, double snrDb, std::uint32_t seed) {
    double power = 0.0;
    for (const double v : s) power += v * v;
    power /= double(s.size());
    mixInto(s, noise(std::sqrt(power) * std::pow(10.0, -snrDb / 20.0), s.size(), seed));
    return s;
}
// The same noise, but measured against the power of the parts of `s` that are not silent.
inline Signal withNoiseUnderSignal(Signal s, double snrDb, std::uint32_t seed) {
    double power = 0.0;
    std::size_t loud = 0;
    for (const double v : s) {
        power += v * v;
        loud += v != 0.0;
    }
    power /= double(std::max<std::size_t>(loud, 1));
    mixInto(s, noise(std::sqrt(power) * std::pow(10.0, -snrDb / 20.0), s.size(), seed));
    return s;
}

// ---- sounds that carry no code ----------------------------------------------------------------

// A voice of another size: speechLike() resampled by `pitchFactor` (above 1: higher pitch and
// formants, a smaller speaker), `seconds` long.
inline Signal voice(double seconds, double peak, std::uint32_t seed, double pitchFactor) {
    const Signal base = speechLike(seconds * pitchFactor + 0.1, peak, seed);
    Signal s(std::size_t(seconds * kLineRate));
    for (std::size_t n = 0; n < s.size(); ++n) {
        const double at = double(n) * pitchFactor;
        const std::size_t i = std::size_t(at);
        const double f = at - double(i);
        s[n] = i + 1 < base.size() ? base[i] * (1.0 - f) + base[i + 1] * f : 0.0;
    }
    return s;
}

// Pink noise (power falling 3 dB per octave, Kellet's filter of white noise) with RMS `rms`.
inline Signal pinkNoise(double rms, std::size_t samples, std::uint32_t seed) {
    const Signal white = noise(1.0, samples, seed);
    Signal s(samples);
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0, power = 0;
    for (std::size_t n = 0; n < samples; ++n) {
        const double w = white[n];
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        s[n] = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
        power += s[n] * s[n];
    }
    const double scale = rms / std::sqrt(power / double(samples));
    for (double& v : s) v *= scale;
    return s;
}

// Mains hum: the fundamental (50 or 60 Hz) at `amplitude` and harmonics 2-9 at amplitude / k,
// with a slow wander of the fundamental (+-0.2 Hz) as a real grid has.
inline Signal mainsHum(double mainsHz, double amplitude, std::size_t samples) {
    Signal s(samples);
    double phase = 0.0;
    for (std::size_t n = 0; n < samples; ++n) {
        phase += kTwoPi * (mainsHz + 0.2 * std::sin(kTwoPi * 0.05 * double(n) / kLineRate)) / kLineRate;
        double v = 0.0;
        for (int k = 1; k <= 9; ++k) v += std::sin(double(k) * phase + 0.4 * k) / k;
        s[n] = amplitude * v;
    }
    return s;
}

// A line tone: the sum of the given frequencies (each at `amplitude`), on for onMs and off for
// offMs in turn (offMs 0: continuous), `seconds` long.
inline Signal lineTone(std::vector<double> hz, double amplitude, double onMs, double offMs, double seconds) {
    Signal s(std::size_t(seconds * kLineRate), 0.0);
    const std::size_t on = samplesOf(onMs), cycle = on + samplesOf(offMs);
    for (std::size_t n = 0; n < s.size(); ++n) {
        if (offMs > 0 && n % cycle >= on) continue;
        for (const double f : hz) s[n] += amplitude * std::sin(kTwoPi * f * double(n) / kLineRate);
    }
    return s;
}

// Music: notes of the equal-tempered scale (A4 = 440 Hz) with six harmonics at 1/k amplitude, an
// attack of 10 ms and an exponential decay, in one of three textures:
//   0 - chords of three or four notes from C3 up, with a bass note an octave below the root,
//   1 - a melody between C4 and C6 whose notes last 120-500 ms,
//   2 - both together.
inline Signal music(double seconds, double peak, int texture, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Signal s(std::size_t(seconds * kLineRate), 0.0);
    auto note = [&](int semitoneFromA4, std::size_t at, std::size_t length, double amplitude) {
        const double hz = 440.0 * std::pow(2.0, semitoneFromA4 / 12.0);
        const double decay = 1.5 + 2.0 * u(rng);  // per second
        for (std::size_t i = 0; i < length && at + i < s.size(); ++i) {
            const double t = double(i) / kLineRate;
            const double envelope = std::min(1.0, t / 0.010) * std::exp(-decay * t);
            double v = 0.0;
            for (int k = 1; k <= 6; ++k)
                if (hz * k < kLineRate / 2) v += std::sin(kTwoPi * hz * k * t) / k;
            s[at + i] += amplitude * envelope * v;
        }
    };
    static constexpr int kMajor[7] = {0, 2, 4, 5, 7, 9, 11};
    if (texture != 1) {  // chords, a new one every 0.5-1.5 s
        for (std::size_t at = 0; at < s.size();) {
            const std::size_t length = samplesOf(500.0 + 1000.0 * u(rng));
            const int root = -21 + kMajor[int(u(rng) * 7)];  // C3 (-21) upwards
            note(root - 12, at, length, 0.3);
            for (const int step : {0, 4, 7, 11})
                if (step != 11 || u(rng) < 0.5) note(root + step, at, length, 0.25);
            at += length;
        }
    }
    if (texture != 0) {  // a melody, one note after another
        for (std::size_t at = 0; at < s.size();) {
            const std::size_t length = samplesOf(120.0 + 380.0 * u(rng));
            const int octave = int(u(rng) * 2);
            note(-9 + 12 * octave + kMajor[int(u(rng) * 7)], at, length, 0.4);  // C4 (-9) to B5
            at += length;
        }
    }
    double maxAbs = 1e-12;
    for (const double v : s) maxAbs = std::max(maxAbs, std::abs(v));
    for (double& v : s) v *= peak / maxAbs;
    return s;
}

// ---- running a decoder ------------------------------------------------------------------------

// What a decoder plug-in reported, and on which sample.
struct Report {
    std::size_t sample;
    std::string identifier, extra;
    int action;
};
// Runs any of our decoders (Process(double) -> bool, Result() with Identifier/Extra/action) over s.
template <typename Decoder>
std::vector<Report> reports(Decoder& d, const Signal& s) {
    std::vector<Report> out;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (d.Process(s[n]))
            out.push_back(
                {n, std::string(d.Result().Identifier()), std::string(d.Result().Extra()), d.Result().action});
    return out;
}

}  // namespace kestavo::test
