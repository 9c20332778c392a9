// Speed of the per-sample detectors over synthetic line sound. Each iteration feeds 10 s of sound;
// the counter rtf is seconds of sound per second of CPU time (how many times faster than real time),
// allocs the heap allocations per iteration inside the sample loop.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "alloc_counter.h"
#include "dsp/caller_id_mf.h"
#include "dsp/dtmf_detector.h"
#include "dsp/gain_control.h"
#include "dsp/pulse_dial_detector.h"
#include "dsp/voice_detector.h"
#include "platform/line_rate.h"

namespace {

constexpr double kRate = kestavo::kLineRate;
constexpr double kSeconds = 10.0;

// 10 s of a busy line: noise at -50 dBFS throughout; a voice-like harmonic sound with gliding pitch,
// DTMF pairs, АОН pairs and dial clicks in turn, each 0.5 s.
const std::vector<double>& lineSound() {
    static const std::vector<double> sound = [] {
        const std::size_t n = std::size_t(kSeconds * kRate);
        std::vector<double> s(n);
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 0.003);
        const double twoPi = 2.0 * std::numbers::pi;
        double phase = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = double(i) / kRate;
            double x = noise(rng);
            switch (int(t * 2.0) % 4) {
                case 0: {  // voice-like: harmonics 1-12 of a gliding pitch, falling 6 dB per octave
                    phase += (150.0 + 60.0 * std::sin(twoPi * 0.8 * t)) / kRate;
                    for (int h = 1; h <= 12; ++h) x += 0.2 / h * std::sin(twoPi * h * phase);
                    break;
                }
                case 1: x += 0.2 * (std::sin(twoPi * 770.0 * t) + std::sin(twoPi * 1336.0 * t)); break;
                case 2: x += 0.1 * (std::sin(twoPi * 1100.0 * t) + std::sin(twoPi * 1700.0 * t)); break;
                default:
                    if (i % 1103 < 40) x += 0.5 * std::exp(-double(i % 1103) / 6.0) * std::cos(twoPi * 4000.0 * t);
                    break;
            }
            s[i] = x;
        }
        return s;
    }();
    return sound;
}

template <class Detector, class Feed>
void runDetector(benchmark::State& state, Detector& d, Feed feed) {
    const auto& s = lineSound();
    const std::uint64_t allocationsBefore = kestavo::bench::allocations();
    for (auto _ : state) {
        for (double x : s) feed(d, x);
    }
    // Heap allocations inside the sample loop, per iteration (expected 0); read before the counters
    // below, whose own map nodes are allocated.
    const double allocs = double(kestavo::bench::allocations() - allocationsBefore) / double(state.iterations());
    state.counters["rtf"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocs"] = allocs;
}

void Vox(benchmark::State& state) {
    kestavo::dsp::TVOX d;
    d.SetStopTime(15.0);
    runDetector(state, d, [](auto& det, double x) { benchmark::DoNotOptimize(det.Process(x)); });
}

void Dtmf(benchmark::State& state) {
    kestavo::dsp::T_DTMF d;
    runDetector(state, d, [](auto& det, double x) { benchmark::DoNotOptimize(det.Process(x).size()); });
}

void Aon(benchmark::State& state) {
    kestavo::dsp::t_aon d;
    runDetector(state, d, [](auto& det, double x) { benchmark::DoNotOptimize(det.Process(x).size()); });
}

void Pulse(benchmark::State& state) {
    kestavo::dsp::TPulse_detector d;
    runDetector(state, d, [](auto& det, double x) { benchmark::DoNotOptimize(det.Process(x).size()); });
}

void Agc(benchmark::State& state) {
    kestavo::dsp::Tv_agc d;
    runDetector(state, d, [](auto& det, double x) { benchmark::DoNotOptimize(det.Process(x)); });
}

}  // namespace

BENCHMARK(Vox)->Unit(benchmark::kMillisecond);
BENCHMARK(Dtmf)->Unit(benchmark::kMillisecond);
BENCHMARK(Aon)->Unit(benchmark::kMillisecond);
BENCHMARK(Pulse)->Unit(benchmark::kMillisecond);
BENCHMARK(Agc)->Unit(benchmark::kMillisecond);
