// Channel pipeline benchmarks. Each iteration processes one block (16384 samples, 1.49 s of
// sound) on the benchmark's thread through the same code the channel thread runs.
//   rtf               seconds of sound processed per second of CPU on one core
//   bytes_per_channel memory one channel holds
//   allocs_per_block  heap allocations per block in the steady state (should be 0)
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "alloc_counter.h"
#include "capture/channel.h"
#include "platform/line_rate.h"

namespace {

using namespace kestavo;
constexpr int kBlock = 16384;
constexpr double kBlockSeconds = double(kBlock) / kLineRate;

// A minute of line sound: a 6 s call of speech-like noise, then quiet hiss.
std::vector<std::int16_t> lineMinute() {
    std::vector<std::int16_t> s(std::size_t(kLineRate * 60));
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kLineRate;
        double v = 20.0 * noise(rng);
        if (t < 6.0) v += 9000.0 * std::sin(2 * M_PI * 300.0 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 3.0 * t));
        s[i] = std::int16_t(std::clamp(std::lround(v), -32768L, 32767L));
    }
    return s;
}

struct Bench {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kestavo-bench-" + std::to_string(::getpid()));
    platform::FakeClock clock;
    platform::MainDispatcher dispatcher;
    std::unique_ptr<capture::Tchannel> channel;

    Bench() {
        std::filesystem::create_directories(dir);
        capture::ChannelGlobals g;
        g.programFolder = dir;
        capture::ChannelEnv env;
        env.clock = &clock;
        env.dispatcher = &dispatcher;
        capture::ChannelParams p;
        channel = std::make_unique<capture::Tchannel>(p, env, g);
        // The settings a new channel gets: level mode, threshold, delays 1 s / 15 s, 5 s pre-record.
        channel->SetRecordDir((dir / "SOUND").string());
        channel->SetThreshold(-30.0);
        channel->SetDelays(1, 1.0, 15.0);
        channel->SetPredTime(5);
        channel->SetMinTime(5);
        channel->SetAutoRecord(true);
    }
    ~Bench() {
        channel.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// KESTAVO_BENCH_ITERATIONS=N fixes the number of blocks, for counting instructions per sample
// under callgrind (the stable figure on a noisy machine).
void fixedIterations(benchmark::internal::Benchmark* b) {
    if (const char* n = std::getenv("KESTAVO_BENCH_ITERATIONS")) b->Iterations(std::max(1, std::atoi(n)));
}

// Runs blocks of line sound through one channel set up by `setup`.
template <typename Setup>
void runChannel(benchmark::State& state, Setup setup) {
    Bench b;
    setup(*b.channel);
    const auto minute = lineMinute();
    std::vector<std::int16_t> block(kBlock);
    std::size_t at = 0;
    std::uint64_t blocks = 0, allocs = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) block[std::size_t(i)] = minute[(at + std::size_t(i)) % minute.size()];
        at += kBlock;
        b.clock.advance(std::chrono::milliseconds(1486));
        const auto before = bench::allocations();
        const bool wasRecording = b.channel->Recording();
        b.channel->ProcessBlockNow(reinterpret_cast<std::byte*>(block.data()), kBlock * 2);
        // Starting or stopping a recording builds names and opens files; that is per recording,
        // not per block, so those blocks are left out of the count.
        if (b.channel->Recording() == wasRecording) allocs += bench::allocations() - before;
        ++blocks;
        if (blocks % 256 == 0) b.dispatcher.drain();
    }
    state.counters["rtf"] = benchmark::Counter(double(blocks) * kBlockSeconds, benchmark::Counter::kIsRate);
    state.counters["bytes_per_channel"] = double(b.channel->MemoryBytes());
    state.counters["allocs_per_block"] = blocks ? double(allocs) / double(blocks) : 0.0;
}

// Every detector on and running all the time: voice trigger, caller ID, DTMF, pulse dialling,
// compressor and gain control.
void allDetectors(capture::Tchannel& c) {
    c.SetRecordMode(capture::RecordMode::Voice);
    c.SetAon(true);
    c.SetDtmf(true);
    c.SetPulse(true);
    c.SetDetectOnlyWhileRecording(false);
    c.SetCompressor(true);
    c.SetAgc(true);
}

// The settings a new channel gets (its configuration is written with AON 0 and Pulse 0):
// level meter, trigger, pre-record, WAV files.
void ChannelDefault(benchmark::State& state) {
    runChannel(state, [](capture::Tchannel& c) {
        c.SetAon(false);
        c.SetPulse(false);
    });
}
BENCHMARK(ChannelDefault)->Unit(benchmark::kMicrosecond)->Apply(fixedIterations);

void ChannelAllDetectors(benchmark::State& state) { runChannel(state, allDetectors); }
BENCHMARK(ChannelAllDetectors)->Unit(benchmark::kMicrosecond)->Apply(fixedIterations);

// Every detector on and MP3 files at 32 kbit/s.
void ChannelMp3(benchmark::State& state) {
    runChannel(state, [](capture::Tchannel& c) {
        allDetectors(c);
        c.SetMp3Params(32, 4, kLineRate);
        c.SetFormat(recording::FileFormat::Mp3);
        c.SetPredTime(5);
    });
}
BENCHMARK(ChannelMp3)->Unit(benchmark::kMicrosecond)->Apply(fixedIterations);

}  // namespace
