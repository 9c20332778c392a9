#pragma once
// Straightforward versions of the detectors, written step by step in the order of their algorithm
// descriptions with no regard for speed: scalar Goertzel chains with states s0 s1 s2, a shifting FIR
// delay line, a complex FFT over one twiddle table with explicit bit-reversal swaps. The product
// classes keep the same arithmetic in the same order but arrange it for the compiler (chains side by
// side, contiguous twiddles per stage, a ring buffer); test_bit_identity checks that both give the
// same outputs on a long stretch of line sound.
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

namespace kestavo::dsp::reference {

inline constexpr double kPi = std::numbers::pi;
inline constexpr double kInvRate = 9.070294784580499e-05;

class Dtmf {
public:
    Dtmf() {
        const double hz[16] = {697,  770,  852,  941,  1209, 1336, 1477, 1633,
                               1394, 1540, 1704, 1882, 2418, 2672, 2954, 3266};
        for (int k = 0; k < 16; ++k) coefs[k] = 2.0 * std::cos(2.0 * kPi * hz[k] * kInvRate);
    }
    std::string Process(double x) {
        std::string digits;
        window[213 + newSamples] = x;
        if (++newSamples == 71) {
            double s0[16] = {}, s1[16] = {}, s2[16] = {};
            for (int i = 0; i <= 283; ++i) {
                const double v = window[i] * (0.54 - 0.46 * std::cos(2.0 * kPi * i * 0.0035335689045936395));
                for (int k = 0; k < 16; ++k) {
                    s2[k] = s1[k];
                    s1[k] = s0[k];
                    s0[k] = coefs[k] * s1[k] - s2[k] + v;
                }
            }
            for (int k = 0; k < 16; ++k) {
                const double p = s0[k] * s0[k] + s1[k] * s1[k] - coefs[k] * s0[k] * s1[k];
                mags[k] = (last[k] + p) * 0.5;
                last[k] = p;
            }
            decide(digits);
            for (int i = 0; i < 213; ++i) window[i] = window[i + 71];
            newSamples = 0;
        }
        return digits;
    }

private:
    void decide(std::string& digits) {
        int lo = 0, hi = 4;
        for (int k = 0; k < 4; ++k)
            if (mags[k] > mags[lo]) lo = k;
        for (int k = 4; k < 8; ++k)
            if (mags[k] > mags[hi]) hi = k;
        bool valid = false;
        if (mags[lo] > 0.0001 && mags[hi] > 0.0001) {
            double others = 0.0;
            for (int k = 0; k < 16; ++k)
                if (k != lo && k != hi) others += mags[k];
            others *= 0.07142857142857142;
            if (others < 1e-9) others = 1e-13;
            const double pair = (mags[lo] + mags[hi]) * 0.5;
            double hl = mags[lo + 8], hh = mags[hi + 8];
            if (hl < 1e-9) hl = 1e-9;
            if (hh < 1e-9) hh = 1e-9;
            const double twist = std::max(mags[lo], mags[hi]) / std::min(mags[lo], mags[hi]);
            valid = pair / others > 100.0 && mags[lo] / hl >= 40.0 && mags[hi] / hh >= 40.0 && twist < 5.0;
        }
        if (valid) {
            ++counts[lo];
            ++counts[hi];
        }
        if (gap > 1000) gap = 1000;
        if (gap >= 1000 && !pending.empty()) {
            digits = pending;
            pending.clear();
        }
        if (valid) {
            gap = 0;
            return;
        }
        if (++gap < 4) return;
        int br = 0, bc = 4;
        for (int k = 0; k < 4; ++k)
            if (counts[k] >= counts[br]) br = k;
        for (int k = 4; k < 8; ++k)
            if (counts[k] >= counts[bc]) bc = k;
        const bool ok = counts[br] >= 4 && counts[br] <= 120 && counts[bc] >= 4 && counts[bc] <= 120;
        counts.fill(0);
        if (ok) {
            static constexpr const char* kKeys[4] = {"123", "456", "789", " 0 "};
            const char d = bc - 4 < 3 ? kKeys[br][bc - 4] : ' ';
            if (d != ' ') pending += d;
        }
    }

    double coefs[16];
    double window[284] = {};
    int newSamples = 0;
    double mags[16] = {}, last[16] = {};
    std::array<int, 8> counts{};
    int gap = 0;
    std::string pending;
};

class Aon {
public:
    Aon() {
        const double hz[6] = {700, 900, 1100, 1300, 1500, 1700};
        for (int k = 0; k < 6; ++k) coefs[k] = 2.0 * std::cos(2.0 * kPi * hz[k] * kInvRate);
    }
    std::string Process(double x) {
        std::string number;
        const double a = std::fabs(x);
        const double coef = a >= env ? 0.15 : 0.999;
        env = (1.0 - coef) * a + coef * env;
        window[120 + newSamples] = x;
        if (++newSamples == 30) {
            double s0[6] = {}, s1[6] = {}, s2[6] = {};
            for (int i = 0; i <= 149; ++i) {
                const double v = window[i] * (0.54 - 0.46 * std::cos(2.0 * kPi * i * 0.006711409395973154));
                for (int k = 0; k < 6; ++k) {
                    s2[k] = s1[k];
                    s1[k] = s0[k];
                    s0[k] = coefs[k] * s1[k] - s2[k] + v;
                }
            }
            for (int k = 0; k < 6; ++k) {
                const double p = s0[k] * s0[k] + s1[k] * s1[k] - coefs[k] * s0[k] * s1[k];
                mags[k] = (last[k] + p) * 0.5;
                last[k] = p;
            }
            decide(number);
            for (int i = 0; i < 120; ++i) window[i] = window[i + 30];
            newSamples = 0;
        }
        return number;
    }

private:
    void decide(std::string& number) {
        if (env == 0.0) return;
        int first = 0;
        for (int k = 0; k < 6; ++k)
            if (mags[k] > mags[first]) first = k;
        int second = -1;
        for (int k = 0; k < 6; ++k)
            if (k != first && (second < 0 || mags[k] > mags[second])) second = k;
        const bool present = mags[second] / env > 0.9 && mags[first] / env > 0.9;
        bool gapBlock = true;
        const std::pair<int, int> pr{first + 1, second + 1};
        if (present &&
            ((pr.first == held.first && pr.second == held.second) ||
             (pr.first == held.second && pr.second == held.first))) {
            ++repeats;
            gap = 0;
            gapBlock = false;
        } else if (present) {
            if (repeats >= 9 && repeats <= 25) {
                const int lo = std::min(held.first, held.second), hi = std::max(held.first, held.second);
                static const std::pair<std::pair<int, int>, std::string> kTable[] = {
                    {{1, 2}, "1"}, {{1, 3}, "2"}, {{2, 3}, "3"}, {{1, 4}, "4"}, {{2, 4}, "5"}, {{3, 4}, "6"},
                    {{1, 5}, "7"}, {{2, 5}, "8"}, {{3, 5}, "9"}, {{4, 5}, "0"}, {{3, 6}, "Н"}, {{4, 6}, "П"}};
                for (const auto& e : kTable)
                    if (e.first == std::pair{lo, hi}) code.push_back(e.second);
            }
            repeats = 0;
            held = pr;
        }
        if (code.size() >= 10 && std::count(code.begin(), code.end(), "Н") >= 2) {
            auto it = std::find(code.begin(), code.end(), "Н");
            std::vector<std::string> field(it + 1, std::find(it + 1, code.end(), std::string("Н")));
            std::vector<std::string> result;
            for (int i = int(field.size()) - 2; i >= 1; --i)
                result.push_back(field[i] == "П" ? field[i + 1] : field[i]);
            if (result.size() == 6)
                for (const auto& c : result) number += c;
            code.clear();
        }
        if (gapBlock && ++gap > 10) {
            gap = 10;
            code.clear();
        }
    }

    double coefs[6];
    double window[150] = {};
    int newSamples = 0;
    double mags[6] = {}, last[6] = {};
    double env = 0.0;
    std::pair<int, int> held{0, 0};
    int repeats = 0, gap = 0;
    std::vector<std::string> code;
};

class Pulse {
public:
    explicit Pulse(double threshold) : threshold(threshold) {
        const double e1 = 3400.0 / 5512.5 * 0.5, e2 = 3450.0 / 5512.5 * 0.5;
        double h[8];
        h[0] = 1.0 - (e1 + e2);
        for (int n = 1; n <= 7; ++n)
            h[n] = -(std::cos(2.0 * kPi * n * e1) - std::cos(2.0 * kPi * n * e2)) /
                (kPi * kPi * (double(n) * n) * (e2 - e1)) * 0.5;
        for (int i = 0; i <= 7; ++i) c[7 + i] = c[7 - i] = h[i];
    }
    std::string Process(double x) {
        std::string number;
        for (int j = 14; j > 0; --j) delay[j] = delay[j - 1];
        delay[0] = x;
        double y = 0.0;
        for (int j = 0; j < 15; ++j) y += delay[j] * c[j];
        const float a = std::fabs(static_cast<float>(y));
        const float coef = a >= env ? 0.15f : 0.99f;
        env = (1.0f - coef) * a + coef * env;
        if (++count < 10) return number;
        count = 0;
        previous = current;
        current = env;
        if (current - previous > threshold) {
            if (since >= 60 && since <= 75) {
                ++pulses;
                idle = 0;
            }
            since = 0;
        } else if (++since > 100) {
            if (pulses > 0) digits += pulses == 10 ? std::string("0") : std::to_string(pulses);
            pulses = 0;
            since = 100;
        }
        if (++idle > 4000 && !digits.empty()) {
            if (digits.size() >= 2) number = digits;
            digits.clear();
            idle = 0;
        }
        return number;
    }

private:
    double c[15];
    double delay[15] = {};
    float env = 0.0f;
    int count = 0;
    double current = 0.0, previous = 0.0, threshold;
    int since = 100, pulses = 0;
    long long idle = 0;
    std::string digits;
};

class Vox {
public:
    explicit Vox(double stopSeconds) : limit(int(std::nearbyint(stopSeconds * 43.06640625 * 10.0))) {
        for (int k = 0; k < 256; ++k) tw[k] = {std::cos(k * (2.0 * kPi / 256.0)), std::sin(k * (2.0 * kPi / 256.0))};
    }
    int Process(double x) {
        history[192 + fill] = x;
        if (++fill < 64) return -1;
        const double w = 0.54 - 0.46 * std::cos(2.0 * kPi * 64 / 255.0);
        for (int n = 0; n < 256; ++n) bins[n] = {history[n] * w, 0.0};
        fft();
        for (int n = 0; n < 192; ++n) history[n] = history[n + 64];
        fill = 0;
        double power[128];
        for (int b = 0; b < 128; ++b) {
            const double re = bins[b].real(), im = bins[b].imag();
            power[b] = std::fabs(re) < 1e-8 || std::fabs(im) < 1e-8 ? 1e-9 : re * re + im * im;
        }
        if (group(power) == 1) {
            if (++positive >= 2) {
                positive = 0;
                active = true;
                ++speech;
                return 1;
            }
            return -1;
        }
        if (active && ++hang >= limit) {
            hang = 0;
            if (speech == 0) {
                active = false;
                return 0;
            }
        }
        if (++idle > 512) idle = positive = speech = 0;
        return -1;
    }

private:
    void fft() {
        for (int span = 128, step = 1; span >= 1; span /= 2, step *= 2)
            for (int start = 0; start < 256; start += 2 * span)
                for (int j = 0; j < span; ++j) {
                    const std::complex<double> a = bins[start + j], b = bins[start + j + span];
                    const double dr = a.real() - b.real(), di = a.imag() - b.imag();
                    const double c = tw[j * step].real(), s = tw[j * step].imag();
                    bins[start + j] = {a.real() + b.real(), a.imag() + b.imag()};
                    bins[start + j + span] = {dr * c + di * s, di * c - dr * s};
                }
        for (int i = 0, j = 0; i < 256; ++i) {
            if (i < j) std::swap(bins[i], bins[j]);
            int bit = 128;
            while (j & bit) {
                j ^= bit;
                bit >>= 1;
            }
            j |= bit;
        }
    }
    int group(double* p) {
        double maxP = 0.0;
        for (int b = 6; b <= 127; ++b) maxP = std::max(maxP, p[b]);
        if (maxP < 8e-06) return 0;
        double total = 0, low = 0, high = 0, bass = 0, mid = 0;
        int peak = 6;
        for (int b = 6; b <= 127; ++b) p[b] = p[b] / maxP;
        for (int b = 6; b <= 127; ++b) total += p[b];
        for (int b = 6; b <= 31; ++b) low += p[b];
        for (int b = 32; b <= 127; ++b) high += p[b];
        for (int b = 6; b <= 8; ++b) bass += p[b];
        for (int b = 9; b <= 31; ++b) mid += p[b];
        for (int b = 6; b <= 127; ++b)
            if (p[b] > p[peak]) peak = b;
        for (int i = 7; i > 0; --i) peaks[i] = peaks[i - 1];
        peaks[0] = peak;
        flatSum += total * 0.008264462809917356;
        if (++frames != 5) return 0;
        const double mean = flatSum * 0.2;
        const double r1 = high == 0.0 ? low : low / high, r2 = mid == 0.0 ? bass : bass / mid;
        const int d = mean > 0.016 && mean < 0.04 && peak != peaks[5] && peak < 31 && r1 > 0.2 && r1 < 9.0 && r2 < 0.12;
        if (d) idle = 0;
        frames = 0;
        flatSum = 0.0;
        return d;
    }

    std::complex<double> tw[256];
    std::complex<double> bins[256];
    double history[256] = {};
    int fill = 0;
    int peaks[8] = {};
    double flatSum = 0.0;
    int frames = 0, positive = 0, speech = 0, hang = 0, idle = 0, limit;
    bool active = false;
};

class Agc {
public:
    double Process(double x) {
        const double a = std::fabs(x);
        const double coef = a >= env ? 0.15 : 0.999;
        env = (1.0 - coef) * a + coef * env;
        return env > 0.0001 ? 0.8 / env * x : x;
    }

private:
    double env = 0.0;
};

}  // namespace kestavo::dsp::reference
