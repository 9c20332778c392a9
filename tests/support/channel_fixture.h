#pragma once
// ChannelFixture: one or more Tchannels over a fake clock, a temporary program folder and a main
// dispatcher, with what they report collected: the observer's events and the texts that reach the
// main thread. feed() hands samples over as a capture thread would and waits until each block is
// processed; process() runs them on the calling thread as the channel thread would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "capture/channel.h"
#include "platform/line_rate.h"
#include "support/signal_gen.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

namespace kestavo::test {

// Normalised samples as 16-bit PCM, clipped to full scale.
inline std::vector<std::int16_t> pcm16(const Signal& s) {
    std::vector<std::int16_t> out(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        out[i] = std::int16_t(std::lround(std::clamp(s[i], -1.0, 32767.0 / 32768.0) * 32768.0));
    return out;
}

// A line of faint hiss (period `hiss` samples, distinct values) with tones of amplitude 12000 at
// `hz` over the sample ranges [from, to).
inline std::vector<std::int16_t> toneLine(std::size_t samples, std::vector<std::pair<std::size_t, std::size_t>> loud,
                                          double hz, int hiss = 7) {
    std::vector<std::int16_t> s(samples);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = std::int16_t(int(i % std::size_t(hiss)) - hiss / 2);
    for (auto [from, to] : loud)
        for (std::size_t i = from; i < std::min(to, samples); ++i)
            s[i] = std::int16_t(std::lround(12000.0 * std::sin(2 * std::numbers::pi * hz * double(i) / kLineRate)));
    return s;
}

// A complete WAV file: the header's sizes match the data present (and `dataBytes`, when given).
inline void expectCompleteWav(const std::filesystem::path& file, std::size_t dataBytes = 0) {
    const auto wav = readWav(file);
    ASSERT_TRUE(wav) << file;
    EXPECT_EQ(wav->dataSize, wav->bytes.size()) << file;
    EXPECT_EQ(wav->riffSize, wav->dataSize + 36) << file;
    if (dataBytes != 0) {
        EXPECT_EQ(wav->dataSize, dataBytes) << file;
    }
}

// Every .wav file below `folder`, sorted.
inline std::vector<std::filesystem::path> wavFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.path().extension() == ".wav") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

class ChannelFixture : public ::testing::Test {
public:
    using Kind = capture::ChannelEvent::Kind;
    static constexpr int kBlock = 16384;  // samples per block

protected:
    TempDir dir{"kestavo-channel"};
    platform::FakeClock clock{platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}};
    platform::MainDispatcher dispatcher;
    platform::PendingWork pending;
    std::mutex mutex;                             // guards the two below (observers run on channel threads)
    std::vector<capture::ChannelEvent> events;    // what the observers saw
    std::vector<std::string> mainThread;          // "<channel>:<start|stop|text>" as the main thread got them
    std::vector<capture::ChannelReport> reports;  // the same reports, whole
    std::uint64_t fed = 0;                        // samples handed over so far
    std::function<void()> onMainThread;           // also run for each report on the main thread

    capture::ChannelEnv env() {
        capture::ChannelEnv e;
        e.clock = &clock;
        e.dispatcher = &dispatcher;
        e.pending = &pending;
        e.reportSink = [this](const capture::ChannelReport& r) {
            using K = capture::ChannelReport::Kind;
            const std::string what = r.kind == K::Started ? "start" : r.kind == K::Stopped ? "stop" : r.text;
            {
                std::lock_guard lock(mutex);
                mainThread.push_back(std::to_string(r.channel) + ":" + what);
                reports.push_back(r);
            }
            if (onMainThread) onMainThread();
        };
        e.observer = [this](const capture::ChannelEvent& ev) {
            std::lock_guard lock(mutex);
            events.push_back(ev);
        };
        return e;
    }
    capture::ChannelGlobals globals() {
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        g.tempFolder = dir / "TEMP";
        g.computerName = "host";
        std::filesystem::create_directories(g.tempFolder);
        return g;
    }
    // A channel recording into SOUND with 5 s of pre-record.
    std::unique_ptr<capture::Tchannel> make(capture::ChannelParams p = {}, std::optional<capture::ChannelEnv> e = {},
                                            std::optional<capture::ChannelGlobals> g = {}) {
        auto c = std::make_unique<capture::Tchannel>(p, e ? std::move(*e) : env(), g ? std::move(*g) : globals());
        c->SetRecordDir((dir / "SOUND").string());
        c->SetPredTime(5);
        return c;
    }
    // Hands the samples over block by block, the clock at the end of each block's sound when it is
    // delivered, waits until each is processed, then runs what was posted to the main thread.
    void feed(capture::Tchannel& c, const std::vector<std::int16_t>& s) {
        for (std::size_t at = 0; at < s.size(); at += kBlock) {
            const std::size_t n = std::min<std::size_t>(kBlock, s.size() - at);
            fed += n;
            clock.advanceTo(std::chrono::milliseconds(std::int64_t(fed) * 1000 / kestavo::kLineRate));
            c.PutData(reinterpret_cast<const std::byte*>(s.data() + at), std::uint32_t(n * 2));
            ASSERT_TRUE(pending.waitIdle({}, std::chrono::seconds(10)));
        }
        dispatcher.drain();
    }
    // The same on the calling thread; returns the block as the channel wrote it back.
    std::vector<std::int16_t> process(capture::Tchannel& c, const Signal& s) {
        auto pcm = pcm16(s);
        for (std::size_t at = 0; at < pcm.size(); at += kBlock) {
            const std::size_t n = std::min<std::size_t>(kBlock, pcm.size() - at);
            fed += n;
            clock.advanceTo(std::chrono::milliseconds(std::int64_t(fed) * 1000 / kestavo::kLineRate));
            c.ProcessBlockNow(reinterpret_cast<std::byte*>(pcm.data() + at), std::uint32_t(n * 2));
        }
        dispatcher.drain();
        return pcm;
    }
    std::vector<std::string> texts(Kind kind) {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
    std::vector<Kind> kinds() {
        std::lock_guard lock(mutex);
        std::vector<Kind> out;
        for (const auto& e : events) out.push_back(e.kind);
        return out;
    }
};

}  // namespace kestavo::test
