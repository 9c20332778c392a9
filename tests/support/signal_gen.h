#pragma once
// Synthetic line sound for the tests: tones, DTMF keys, АОН two-of-six symbols, dial clicks, a speech-like
// voice and white noise, as normalised samples (full scale 1.0) at the line rate of 11025 Hz (tones, keys
// and symbols also at any other rate, for recordings made elsewhere). Deterministic
// (noise takes an explicit seed), so a failing test replays exactly. And the DFT that measures it and the numbers a detector hands over.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/line_rate.h"

namespace kestavo::test {

inline constexpr double kLineRate = kestavo::kLineRate;  // samples per second
inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
using Signal = std::vector<double>;

// Samples in `ms` milliseconds at 11025 Hz, rounded to the nearest sample.
inline std::size_t samplesOf(double ms, double rate = kLineRate) {
    return std::size_t(std::lround(ms * rate / 1000.0));
}
// Amplitude of a level in dB relative to full scale: 10^(dbfs / 20).
inline double amplitudeOf(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

inline Signal silence(std::size_t samples) { return Signal(samples, 0.0); }
inline Signal tone(double hz, double amplitude, std::size_t samples, double phase = 0.0, double rate = kLineRate) {
    Signal s(samples);
    for (std::size_t n = 0; n < samples; ++n) s[n] = amplitude * std::sin(kTwoPi * hz * double(n) / rate + phase);
    return s;
}
// Gaussian white noise with the given RMS value.
inline Signal noise(double rms, std::size_t samples, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms);
    Signal s(samples);
    for (double& v : s) v = g(rng);
    return s;
}

// Appends b to a; adds b into a from position `at` on (growing a when needed).
inline void append(Signal& a, const Signal& b) { a.insert(a.end(), b.begin(), b.end()); }
inline void mixInto(Signal& a, const Signal& b, std::size_t at = 0) {
    if (a.size() < at + b.size()) a.resize(at + b.size(), 0.0);
    for (std::size_t i = 0; i < b.size(); ++i) a[at + i] += b[i];
}

// DTMF keys "0"-"9", "*", "#", "A"-"D" of the standard keypad (697/770/852/941 Hz rows, 1209/1336/
// 1477/1633 Hz columns), each key a tone pair of peak 10^(dbfs/20) (each tone half of it) lasting
// toneMs, followed by pauseMs of silence.
inline Signal dtmfNumber(std::string_view keys, double dbfs, double toneMs, double pauseMs = 0.0,
                         double rate = kLineRate) {
    static constexpr std::string_view kKeys = "123A456B789C*0#D";  // row by row
    static constexpr double kRows[4] = {697, 770, 852, 941}, kColumns[4] = {1209, 1336, 1477, 1633};
    Signal s;
    for (char k : keys) {
        const std::size_t i = kKeys.find(k);
        if (i == std::string_view::npos) throw std::invalid_argument("not a DTMF key");
        Signal pair = tone(kRows[i / 4], amplitudeOf(dbfs) / 2.0, samplesOf(toneMs, rate), 0.0, rate);
        mixInto(pair, tone(kColumns[i % 4], amplitudeOf(dbfs) / 2.0, samplesOf(toneMs, rate), 0.7, rate));
        append(s, pair);
        append(s, silence(samplesOf(pauseMs, rate)));
    }
    return s;
}

// АОН two-of-six symbols (700, 900, 1100, 1300, 1500, 1700 Hz) sent back to back, each symbolMs long,
// each tone of the pair at `amplitude`: '0'-'9', 'H' for the start symbol "Н" (1100 + 1700 Hz) and
// 'P' for the repeat symbol "П" (1300 + 1700 Hz); ' ' is a symbol's length of silence.
inline Signal aonSymbols(std::string_view symbols, double amplitude, double symbolMs, double rate = kLineRate) {
    // Each symbol's pair as indices into kHz; phase-continuous, as an exchange's sender makes them.
    static constexpr std::string_view kSymbols = "1234567890HP";
    static constexpr int kLow[12] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3, 2, 3},
                         kHigh[12] = {1, 2, 2, 3, 3, 3, 4, 4, 4, 4, 5, 5};
    static constexpr double kHz[6] = {700, 900, 1100, 1300, 1500, 1700};
    Signal s;
    const std::size_t len = samplesOf(symbolMs, rate);
    for (char c : symbols) {
        const std::size_t i = kSymbols.find(c);  // npos for ' ', a pause
        if (i == std::string_view::npos && c != ' ') throw std::invalid_argument("not an AON symbol");
        for (std::size_t n = s.size(), end = n + len; n < end; ++n) {
            const double t = double(n) / rate;
            s.push_back(i == std::string_view::npos
                            ? 0.0
                            : amplitude * (std::sin(kTwoPi * kHz[kLow[i]] * t) + std::sin(kTwoPi * kHz[kHigh[i]] * t)));
        }
    }
    return s;
}

// A line relay's click: its contact rings briefly, a decaying 4 kHz burst of 40 samples (3.6 ms)
// and peak `amplitude`.
inline Signal click(double amplitude) {
    Signal s(40);
    for (std::size_t n = 0; n < s.size(); ++n)
        s[n] = amplitude * std::exp(-double(n) / 6.0) * std::cos(kTwoPi * 4000.0 * double(n) / kLineRate);
    return s;
}
// Loop-disconnect dialling as the line records it: a click at the start of each break and at each
// make; `pulses` breaks of breakMs separated by makes of makeMs, ending with the last make click.
inline Signal pulseTrain(int pulses, double breakMs, double makeMs, double clickAmplitude) {
    Signal s;
    const Signal c = click(clickAmplitude);
    std::size_t at = 0;
    for (int p = 0; p < pulses; ++p) {
        mixInto(s, c, at);  // break
        at += samplesOf(breakMs);
        mixInto(s, c, at);  // make
        if (p + 1 < pulses) at += samplesOf(makeMs);
    }
    return s;
}

// Pulse dialling as a line carries it: 200 ms of quiet, then per digit a train of `count` breaks
// (60 ms break, 40 ms make) and 600 ms of quiet, then 4 s of quiet.
inline Signal pulseDialLine(const std::vector<int>& counts) {
    Signal s = silence(samplesOf(200.0));
    for (int c : counts) {
        append(s, pulseTrain(c, 60.0, 40.0, 0.5));
        append(s, silence(samplesOf(600.0)));
    }
    append(s, silence(samplesOf(4000.0)));
    return s;
}

// A voice-like signal: a glottal pulse train whose pitch glides between 100 and 240 Hz, shaped by
// three formant resonators whose frequencies wander like vowels changing, in syllables of 150-300 ms
// separated by short pauses. Peak level `peak`; `seconds` above 0.
inline Signal speechLike(double seconds, double peak, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct Resonator {  // two-pole resonator at `hz` with bandwidth `bw`, unity gain at its centre (roughly)
        double y1 = 0.0, y2 = 0.0;
        double step(double x, double hz, double bw) {
            const double r = std::exp(-std::numbers::pi * bw / kLineRate);
            const double y = (1.0 - r) * x + 2.0 * r * std::cos(kTwoPi * hz / kLineRate) * y1 - r * r * y2;
            y2 = y1;
            return y1 = y;
        }
    };
    const std::size_t total = std::size_t(seconds * kLineRate);
    Signal s(total, 0.0);
    Resonator f1, f2, f3;
    double phase = 0.0;
    const double pitchPhase = u(rng) * kTwoPi;
    std::size_t n = 0;
    while (n < total) {
        // One syllable: a vowel gliding from one formant target to another, in parallel formants
        // (F1 350-800 Hz, F2 900-2200 Hz, F3 2300-2900 Hz) excited by one glottal pulse per period.
        const std::size_t len = samplesOf(150.0 + 150.0 * u(rng));
        const double a1 = 350 + 450 * u(rng), b1 = 350 + 450 * u(rng);
        const double a2 = 900 + 1300 * u(rng), b2 = 900 + 1300 * u(rng), a3 = 2300 + 600 * u(rng);
        for (std::size_t i = 0; i < len && n < total; ++i, ++n) {
            const double t = double(n) / kLineRate;
            const double x = double(i) / double(len);
            // Intonation between about 100 and 240 Hz with a little vibrato.
            const double f0 =
                170.0 + 55.0 * std::sin(kTwoPi * 0.9 * t + pitchPhase) + 15.0 * std::sin(kTwoPi * 4.3 * t);
            phase += f0 / kLineRate;
            const double excitation = phase >= 1.0 ? 1.0 : 0.0;  // one glottal pulse per period
            if (phase >= 1.0) phase -= 1.0;
            const double y = f1.step(excitation, a1 + (b1 - a1) * x, 80.0) +
                f2.step(excitation, a2 + (b2 - a2) * x, 104.0) + f3.step(excitation, a3, 160.0);
            s[n] = std::sin(std::numbers::pi * x) * y;
        }
        n += samplesOf(30.0 + 80.0 * u(rng));  // pause between syllables
    }
    const double maxAbs =
        std::abs(*std::max_element(s.begin(), s.end(), [](double a, double b) { return std::abs(a) < std::abs(b); }));
    for (double& v : s) v *= peak / maxAbs;
    return s;
}

// dftAt, dftMagnitude, energyShare: values of the discrete Fourier transform by its definition,
// the yardstick the tests measure spectra, filters and detectors against.
// X(f) = sum over n of x[n] e^(-i 2 pi f n), f in cycles per sample (bin k of N samples: f = k / N).
// A cosine of amplitude A on bin k of an N-sample block gives |X| = A N / 2.
template <typename Samples>
[[nodiscard]] std::complex<double> dftAt(const Samples& x, double cyclesPerSample) {
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < std::size(x); ++n)
        sum += double(x[n]) * std::polar(1.0, -2.0 * std::numbers::pi * cyclesPerSample * double(n));
    return sum;
}

// |X[k]| of a block of 16-bit samples.
inline double dftMagnitude(const std::vector<std::int16_t>& x, int k) {
    return std::abs(dftAt(x, double(k) / double(x.size())));
}

// The share of the block's energy in bins k and N - k (Parseval).
inline double energyShare(const std::vector<std::int16_t>& x, int k) {
    double total = 0.0;
    for (auto v : x) total += double(v) * v;
    return 2.0 * std::pow(dftMagnitude(x, k), 2) / double(x.size()) / total;
}

// handovers, numbers: run a number detector (T_DTMF, t_aon, TPulse_detector: anything whose
// Process(double) returns a string_view that is empty unless a number came out) over a signal.
struct Handover {
    std::size_t sample;  // index of the sample on which the number came out
    std::string text;
};
template <typename Detector>
std::vector<Handover> handovers(Detector& d, const Signal& s) {
    std::vector<Handover> out;
    for (std::size_t n = 0; n < s.size(); ++n)
        if (const auto t = d.Process(s[n]); !t.empty()) out.push_back({n, std::string(t)});
    return out;
}
// Only the texts, in order.
template <typename Detector>
std::vector<std::string> numbers(Detector& d, const Signal& s) {
    std::vector<std::string> out;
    for (const Handover& h : handovers(d, s)) out.push_back(h.text);
    return out;
}

}  // namespace kestavo::test
