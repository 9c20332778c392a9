#include "support/signal_gen.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace kestavo::test {

namespace {
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Two-pole resonator at `hz` with bandwidth `bw`, unity gain at its centre (roughly).
struct Resonator {
    double y1 = 0.0, y2 = 0.0;
    double step(double x, double hz, double bw) {
        const double r = std::exp(-std::numbers::pi * bw / kLineRate);
        const double a1 = 2.0 * r * std::cos(kTwoPi * hz / kLineRate);
        const double a2 = -r * r;
        const double y = (1.0 - r) * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};
}  // namespace

std::size_t samplesOf(double ms) { return std::size_t(std::lround(ms * kLineRate / 1000.0)); }

double amplitudeOf(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

Signal silence(std::size_t samples) { return Signal(samples, 0.0); }

Signal tone(double hz, double amplitude, std::size_t samples, double phase) {
    Signal s(samples);
    for (std::size_t n = 0; n < samples; ++n) s[n] = amplitude * std::sin(kTwoPi * hz * double(n) / kLineRate + phase);
    return s;
}

Signal noise(double rms, std::size_t samples, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> g(0.0, rms);
    Signal s(samples);
    for (double& v : s) v = g(rng);
    return s;
}

void append(Signal& a, const Signal& b) { a.insert(a.end(), b.begin(), b.end()); }

void mixInto(Signal& a, const Signal& b, std::size_t at) {
    if (a.size() < at + b.size()) a.resize(at + b.size(), 0.0);
    for (std::size_t i = 0; i < b.size(); ++i) a[at + i] += b[i];
}

Signal dtmfNumber(std::string_view keys, double dbfs, double toneMs, double pauseMs) {
    static constexpr std::string_view kKeys = "123A456B789C*0#D";  // row by row
    static constexpr double kRows[4] = {697, 770, 852, 941}, kColumns[4] = {1209, 1336, 1477, 1633};
    Signal s;
    for (char k : keys) {
        const std::size_t i = kKeys.find(k);
        if (i == std::string_view::npos) throw std::invalid_argument("not a DTMF key");
        Signal pair = tone(kRows[i / 4], amplitudeOf(dbfs) / 2.0, samplesOf(toneMs));
        mixInto(pair, tone(kColumns[i % 4], amplitudeOf(dbfs) / 2.0, samplesOf(toneMs), 0.7));
        append(s, pair);
        append(s, silence(samplesOf(pauseMs)));
    }
    return s;
}

Signal aonSymbols(std::string_view symbols, double amplitude, double symbolMs) {
    // Symbol -> its two frequencies (indices into kHz); phase-continuous oscillators per frequency,
    // as an exchange's sender produces them.
    static constexpr std::string_view kSymbols = "1234567890HP";
    static constexpr int kLow[12] = {0, 0, 1, 0, 1, 2, 0, 1, 2, 3, 2, 3},
                         kHigh[12] = {1, 2, 2, 3, 3, 3, 4, 4, 4, 4, 5, 5};
    static constexpr double kHz[6] = {700, 900, 1100, 1300, 1500, 1700};
    Signal s;
    const std::size_t len = samplesOf(symbolMs);
    for (char c : symbols) {
        const std::size_t i = kSymbols.find(c);  // npos for ' ', a pause
        if (i == std::string_view::npos && c != ' ') throw std::invalid_argument("not an AON symbol");
        for (std::size_t n = s.size(), end = n + len; n < end; ++n) {
            const double t = double(n) / kLineRate;
            s.push_back(i == std::string_view::npos
                            ? 0.0
                            : amplitude * (std::sin(kTwoPi * kHz[kLow[i]] * t) + std::sin(kTwoPi * kHz[kHigh[i]] * t)));
        }
    }
    return s;
}

Signal click(double amplitude) {
    // The relay contact of the line rings briefly: a decaying 4 kHz burst over about 3.6 ms.
    Signal s(40);
    for (std::size_t n = 0; n < s.size(); ++n)
        s[n] = amplitude * std::exp(-double(n) / 6.0) * std::cos(kTwoPi * 4000.0 * double(n) / kLineRate);
    return s;
}

Signal pulseTrain(int pulses, double breakMs, double makeMs, double clickAmplitude) {
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

Signal speechLike(double seconds, double peak, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
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
        const double a2 = 900 + 1300 * u(rng), b2 = 900 + 1300 * u(rng);
        const double a3 = 2300 + 600 * u(rng);
        for (std::size_t i = 0; i < len && n < total; ++i, ++n) {
            const double t = double(n) / kLineRate;
            const double x = double(i) / double(len);
            // Intonation between about 100 and 240 Hz with a little vibrato.
            const double f0 =
                170.0 + 55.0 * std::sin(kTwoPi * 0.9 * t + pitchPhase) + 15.0 * std::sin(kTwoPi * 4.3 * t);
            phase += f0 / kLineRate;
            double excitation = 0.0;
            if (phase >= 1.0) {
                phase -= 1.0;
                excitation = 1.0;
            }
            const double y = f1.step(excitation, a1 + (b1 - a1) * x, 80.0) +
                f2.step(excitation, a2 + (b2 - a2) * x, 104.0) + f3.step(excitation, a3, 160.0);
            s[n] = std::sin(std::numbers::pi * x) * y;
        }
        n += samplesOf(30.0 + 80.0 * u(rng));  // pause between syllables
    }
    double maxAbs = 0.0;
    for (double v : s) maxAbs = std::max(maxAbs, std::abs(v));
    if (maxAbs > 0.0)
        for (double& v : s) v *= peak / maxAbs;
    return s;
}

}  // namespace kestavo::test
