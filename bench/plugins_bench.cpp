// Speed of our decoder plug-ins as the host calls them: the built .plg loaded, `process` called
// through its entry point once per sample with the channel's record, as a channel thread does.
// Each iteration feeds 10 s of line sound; rtf is seconds of sound per second of CPU time (how
// many times faster than real time), allocs the heap allocations per iteration.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "alloc_counter.h"
#include "platform/dynlib.h"
#include "platform/line_rate.h"
#include "services/plugin_api.h"

namespace {

constexpr double kRate = kestavo::kLineRate;
constexpr double kSeconds = 10.0;

// 10 s of a line: noise at -50 dBFS throughout, with in turn (0.5 s each) a voice-like harmonic
// sound of gliding pitch, a DTMF pair, FSK-like alternation of 1200 and 2200 Hz at 1200 baud, and a
// 100 Hz sub-audible tone under the voice.
const std::vector<double>& lineSound() {
    static const std::vector<double> sound = [] {
        const std::size_t n = std::size_t(kSeconds * kRate);
        std::vector<double> s(n);
        std::mt19937 rng(2);
        std::normal_distribution<double> noise(0.0, 0.003);
        const double twoPi = 2.0 * std::numbers::pi;
        double phase = 0.0, fskPhase = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = double(i) / kRate;
            double x = noise(rng);
            switch (int(t * 2.0) % 4) {
                case 0:
                case 3: {
                    phase += (150.0 + 60.0 * std::sin(twoPi * 0.8 * t)) / kRate;
                    for (int h = 1; h <= 12; ++h) x += 0.2 / h * std::sin(twoPi * h * phase);
                    if (int(t * 2.0) % 4 == 3) x += 0.05 * std::sin(twoPi * 100.0 * t);
                    break;
                }
                case 1: x += 0.2 * (std::sin(twoPi * 770.0 * t) + std::sin(twoPi * 1336.0 * t)); break;
                default: {
                    const bool mark = (i * 1200 / kestavo::kLineRate) % 3 != 0;
                    fskPhase += twoPi * (mark ? 1200.0 : 2200.0) / kRate;
                    x += 0.2 * std::sin(fskPhase);
                    break;
                }
            }
            s[i] = x;
        }
        return s;
    }();
    return sound;
}

void runPlugin(benchmark::State& state, const char* file) {
    kestavo::platform::DynamicLibrary lib;
    if (!lib.load(std::string(KESTAVO_PLUGIN_DIR) + "/" + file)) {
        state.SkipWithError(lib.error().c_str());
        return;
    }
    const auto start = lib.entry<kestavo::services::StartPluginFn>("Start_plugin");
    const auto process = lib.entry<kestavo::services::ProcessFn>("process");
    const auto stop = lib.entry<kestavo::services::StopPluginFn>("Stop_plugin");
    if (!start || !process || !stop) {
        state.SkipWithError("an entry point is missing");
        return;
    }
    start(1);
    kestavo::services::PluginRecord record{};
    const auto& s = lineSound();
    const std::uint64_t allocationsBefore = kestavo::bench::allocations();
    for (auto _ : state) {
        for (const double x : s) {
            record.extra[0] = 0;
            benchmark::DoNotOptimize(process(&record, x));
        }
    }
    const double allocs = double(kestavo::bench::allocations() - allocationsBefore) / double(state.iterations());
    state.counters["rtf"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocs"] = allocs;
    stop();
}

void PluginFskCallerId(benchmark::State& state) { runPlugin(state, "fsk_callerid.plg"); }
void PluginDtmfQ24(benchmark::State& state) { runPlugin(state, "dtmf_q24.plg"); }
void PluginCtcss(benchmark::State& state) { runPlugin(state, "ctcss.plg"); }

}  // namespace

BENCHMARK(PluginFskCallerId)->Unit(benchmark::kMillisecond);
BENCHMARK(PluginDtmfQ24)->Unit(benchmark::kMillisecond);
BENCHMARK(PluginCtcss)->Unit(benchmark::kMillisecond);
