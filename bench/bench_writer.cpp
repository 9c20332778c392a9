// MP3 writer cost: LAME encoding alone against the same sound through Tmp3_writer (chunking,
// block output area, pre-record buffer). rtf = seconds of sound encoded per second of CPU;
// bytes_per_channel = memory one writer holds (Tmp3_writer::MemoryBytes()).
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "platform/line_rate.h"
#include "recording/mp3_writer.h"

namespace {

constexpr int kRate = kestavo::kLineRate;
constexpr int kSeconds = 10;

// A voiced buzz with a gliding pitch, shaped into syllables, plus a little noise.
std::vector<short> SpeechLike() {
    std::vector<short> s(kRate * kSeconds);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 300.0);
    double phase = 0.0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        phase += 2 * std::numbers::pi * (120.0 + 40.0 * std::sin(2 * std::numbers::pi * 0.7 * t)) / kRate;
        double v = 0.0;
        for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h;
        const double syllable = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4.0 * t);
        s[i] = short(std::clamp(5000.0 * syllable * v + noise(rng), -32768.0, 32767.0));
    }
    return s;
}

void Mp3LameAlone(benchmark::State& state) {
    const auto sound = SpeechLike();
    lame_t l = lame_init();
    lame_set_num_channels(l, 1);
    lame_set_mode(l, MONO);
    lame_set_in_samplerate(l, kRate);
    lame_set_out_samplerate(l, kRate);
    lame_set_VBR(l, vbr_off);
    lame_set_brate(l, 32);
    lame_set_quality(l, kestavo::recording::Tmp3_writer::LameQuality(4));
    lame_set_error_protection(l, 1);
    lame_set_bWriteVbrTag(l, 0);
    lame_init_params(l);
    constexpr std::size_t kChunk = kestavo::recording::Tmp3_writer::kChunkSamples;
    std::vector<unsigned char> out(kChunk * 5 / 4 + 7200);
    for (auto _ : state) {
        for (std::size_t at = 0; at < sound.size(); at += kChunk) {
            const int n = int(std::min(kChunk, sound.size() - at));
            benchmark::DoNotOptimize(
                lame_encode_buffer(l, sound.data() + at, sound.data() + at, n, out.data(), int(out.size())));
        }
    }
    lame_close(l);
    state.counters["rtf"] =
        benchmark::Counter(double(kSeconds) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(Mp3LameAlone)->Unit(benchmark::kMillisecond);

void Mp3Writer(benchmark::State& state) {
    const auto sound = SpeechLike();
    kestavo::recording::WriterParams p;
    p.format = kestavo::recording::FileFormat::Mp3;
    p.mp3Bitrate = 32;
    p.mp3Quality = 4;
    kestavo::recording::Tmp3_writer w(p);
    w.SetPredTime(5);
    constexpr std::size_t kBlock = 16384;  // the channel's block
    for (auto _ : state) {
        for (std::size_t at = 0; at < sound.size(); at += kBlock) {
            const std::size_t n = std::min(kBlock, sound.size() - at);
            w.Write(std::as_bytes(std::span(sound.data() + at, n)));  // idle: into the pre-record buffer
        }
    }
    state.counters["rtf"] =
        benchmark::Counter(double(kSeconds) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["bytes_per_channel"] = double(w.MemoryBytes());
}
BENCHMARK(Mp3Writer)->Unit(benchmark::kMillisecond);

}  // namespace
