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

Signal tonePair(double hz1, double hz2, double amplitude, std::size_t samples) {
    Signal s = tone(hz1, amplitude, samples);
    mixInto(s, tone(hz2, amplitude, samples, 0.7));
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

Signal dtmfKey(char key, double dbfs, double toneMs) {
    static constexpr char kKeys[4][5] = {"123A", "456B", "789C", "*0#D"};
    static constexpr double kRows[4] = {697, 770, 852, 941};
    static constexpr double kColumns[4] = {1209, 1336, 1477, 1633};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (kKeys[r][c] == key) return tonePair(kRows[r], kColumns[c], amplitudeOf(dbfs) / 2.0, samplesOf(toneMs));
    throw std::invalid_argument("not a DTMF key");
}

Signal dtmfNumber(std::string_view keys, double dbfs, double toneMs, double pauseMs) {
    Signal s;
    for (char k : keys) {
        append(s, dtmfKey(k, dbfs, toneMs));
        append(s, silence(samplesOf(pauseMs)));
    }
    return s;
}

FreqPair aonPair(char symbol) {
    static constexpr double kHz[7] = {0, 700, 900, 1100, 1300, 1500, 1700};
    static constexpr struct {
        char symbol;
        int a, b;
    } kTable[] = {{'1', 1, 2}, {'2', 1, 3}, {'3', 2, 3}, {'4', 1, 4}, {'5', 2, 4}, {'6', 3, 4},
                  {'7', 1, 5}, {'8', 2, 5}, {'9', 3, 5}, {'0', 4, 5}, {'H', 3, 6}, {'P', 4, 6}};
    for (const auto& e : kTable)
        if (e.symbol == symbol) return {kHz[e.a], kHz[e.b]};
    throw std::invalid_argument("not an AON symbol");
}

Signal aonSymbols(std::string_view symbols, double amplitude, double symbolMs) {
    // Phase-continuous oscillators per frequency, as an exchange's sender produces them.
    Signal s;
    const std::size_t len = samplesOf(symbolMs);
    std::size_t n0 = 0;
    for (char c : symbols) {
        const FreqPair p = aonPair(c);
        for (std::size_t i = 0; i < len; ++i) {
            const double t = double(n0 + i) / kLineRate;
            s.push_back(amplitude * (std::sin(kTwoPi * p.lowHz * t) + std::sin(kTwoPi * p.highHz * t)));
        }
        n0 += len;
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

Signal mixedLineSound(double seconds, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::size_t total = std::size_t(seconds * kLineRate);
    Signal s = noise(amplitudeOf(-50.0), total, seed);
    std::size_t at = 0;
    int kind = 0;
    while (at < total) {
        Signal part;
        switch (kind++ % 6) {
            case 0:
                part = dtmfNumber("4957031", -3.0 - 25.0 * u(rng), 50.0 + 60.0 * u(rng), 60.0 + 40.0 * u(rng));
                break;
            case 1: part = aonSymbols("H1P234569H1P234569H1", 0.05 + 0.2 * u(rng), 40.0); break;
            case 2: {
                part = pulseTrain(1 + int(10.0 * u(rng)), 57.0 + 16.0 * u(rng), 40.0, 0.3 + 0.4 * u(rng));
                append(part, silence(samplesOf(300.0)));
                append(part, pulseTrain(1 + int(10.0 * u(rng)), 60.0, 40.0, 0.5));
                append(part, silence(samplesOf(4000.0)));  // room for the number to be handed over
                break;
            }
            case 3: part = speechLike(1.0 + 2.0 * u(rng), 0.1 + 0.6 * u(rng), seed + std::uint32_t(at)); break;
            case 4:
                part = tone(300.0 + 3000.0 * u(rng), 0.05 + 0.5 * u(rng), samplesOf(200.0 + 1000.0 * u(rng)));
                break;
            default: part = silence(samplesOf(500.0 + 5000.0 * u(rng))); break;
        }
        mixInto(s, part, at);
        at += part.size() + samplesOf(100.0 * u(rng));
    }
    s.resize(total);
    for (double& v : s) v = std::clamp(v, -1.0, 1.0);
    return s;
}

}  // namespace kestavo::test
