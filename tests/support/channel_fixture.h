#pragma once
// ChannelFixture: Tchannels over a fake clock, a temporary program folder and a main dispatcher,
// collecting the observer's events and the reports as the main thread gets them. feed() hands
// samples over as a capture thread would; process() runs them here as the channel thread would.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>

#include "capture/channel.h"
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
            s[i] = std::int16_t(std::lround(12000.0 * std::sin(kTwoPi * hz * double(i) / kLineRate)));
    return s;
}

// Every .wav file below `folder`, sorted; each must be complete: the header's sizes match the data present.
inline std::vector<std::filesystem::path> completeWavFiles(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.path().extension() == ".wav") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    for (const auto& file : out) {
        const auto wav = readWav(file);
        EXPECT_TRUE(wav && wav->dataSize == wav->bytes.size() && wav->riffSize == wav->dataSize + 36) << file;
    }
    return out;
}

class ChannelFixture : public ::testing::Test {
public:
    using Kind = capture::ChannelEvent::Kind;
    static constexpr std::size_t kBlock = 16384;  // samples per block

protected:
    TempDir dir{"kestavo-channel"};
    platform::FakeClock clock{platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}};
    platform::MainDispatcher dispatcher;
    platform::PendingWork pending;
    std::mutex mutex;                             // guards the three below (observers run on channel threads)
    std::vector<capture::ChannelEvent> events;    // what the observers saw
    std::vector<std::string> mainThread;          // "<channel>:<start|stop|text>" as the main thread got them
    std::vector<capture::ChannelReport> reports;  // the same reports, whole
    std::uint64_t fed = 0;                        // samples handed over so far
    std::function<void()> onMainThread;           // also run for each report on the main thread

    capture::ChannelEnv env() {
        capture::ChannelEnv e;
        e.clock = &clock, e.dispatcher = &dispatcher, e.pending = &pending;
        e.reportSink = [this](const capture::ChannelReport& r) {
            using K = capture::ChannelReport::Kind;
            const std::string what = r.kind == K::Started ? "start" : r.kind == K::Stopped ? "stop" : r.text;
            std::unique_lock lock(mutex);
            mainThread.push_back(std::to_string(r.channel) + ":" + what);
            reports.push_back(r);
            lock.unlock();
            if (onMainThread) onMainThread();
        };
        e.observer = [this](const capture::ChannelEvent& ev) {
            std::lock_guard lock(mutex);
            events.push_back(ev);
        };
        return e;
    }
    capture::ChannelGlobals globals() {
        std::filesystem::create_directories(dir / "TEMP");
        return {.programFolder = dir.path(), .tempFolder = dir / "TEMP", .computerName = "host"};
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
    // delivered, and waits until each is processed; then runs what was posted to the main thread.
    void feed(capture::Tchannel& c, std::vector<std::int16_t> s) { deliver(c, s, false); }
    // The same on the calling thread; returns the samples as the channel wrote them back.
    std::vector<std::int16_t> process(capture::Tchannel& c, const Signal& s) {
        auto pcm = pcm16(s);
        deliver(c, pcm, true);
        return pcm;
    }
    void deliver(capture::Tchannel& c, std::vector<std::int16_t>& s, bool here) {
        for (std::size_t at = 0; at < s.size(); at += kBlock) {
            const std::size_t n = std::min(kBlock, s.size() - at);
            fed += n;
            clock.advanceTo(std::chrono::milliseconds(std::int64_t(fed) * 1000 / kestavo::kLineRate));
            auto* block = reinterpret_cast<std::byte*>(s.data() + at);
            here ? c.ProcessBlockNow(block, std::uint32_t(n * 2)) : c.PutData(block, std::uint32_t(n * 2));
            ASSERT_TRUE(here || pending.waitIdle({}, std::chrono::seconds(10)));
        }
        dispatcher.drain();
    }
    // The texts of the observed events of one kind.
    std::vector<std::string> texts(Kind kind) {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
};

}  // namespace kestavo::test
