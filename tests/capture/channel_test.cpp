#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <thread>

#include "capture/channel.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr int kBlock = 16384;

// A line: silence with tone bursts; 16-bit samples.
std::vector<std::int16_t> line(int blocks, std::initializer_list<std::pair<int, int>> loudBlocks) {
    std::vector<std::int16_t> s(std::size_t(blocks) * kBlock);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = std::int16_t((i % 7) - 3);  // faint hiss, distinct values
    for (auto [from, to] : loudBlocks)
        for (std::size_t i = std::size_t(from) * kBlock; i < std::size_t(to) * kBlock; ++i)
            s[i] = std::int16_t(std::lround(16000.0 * std::sin(2 * 3.14159265358979 * 440.0 * double(i) / 11025.0)));
    return s;
}

struct FakeServer final : services::RecordServer {
    std::mutex mutex;
    std::vector<std::string> calls;
    std::int32_t start_rec_file(const std::string& path, const std::string& prefix, const std::string& label) override {
        std::lock_guard lock(mutex);
        calls.push_back("start " + path + "|" + prefix + "|" + label);
        return 77;
    }
    void add_aon(std::int32_t id, const std::string& t) override { log("aon " + std::to_string(id) + " " + t); }
    void add_nabor(std::int32_t id, const std::string& t) override { log("nabor " + std::to_string(id) + " " + t); }
    void stop_rec_file(std::int32_t id, const std::string& d, const std::string& f) override {
        log("stop " + std::to_string(id) + "|" + d + "|" + f);
    }
    void del_rec(std::int32_t id) override { log("del " + std::to_string(id)); }
    void log(std::string s) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(s));
    }
};

// Records the first sample of every block handed to the monitor.
struct FirstSampleMonitor final : capture::MonitorSink {
    std::vector<std::int16_t> firsts;
    void PutBlock(const std::byte* block, std::uint32_t length, int) override {
        std::int16_t v;
        std::memcpy(&v, block, 2);
        firsts.push_back(v);
    }
};

class ChannelTest : public ::testing::Test {
protected:
    test::TempDir dir{"kestavo-channel"};
    platform::FakeClock clock{platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}};
    platform::MainDispatcher dispatcher;
    platform::PendingWork pending;
    std::vector<capture::ChannelReport> reports;  // what reached the main thread
    std::vector<capture::ChannelEvent> events;
    std::mutex eventsMutex;

    capture::ChannelEnv env(services::RecordServer* server = nullptr) {
        capture::ChannelEnv e;
        e.clock = &clock;
        e.dispatcher = &dispatcher;
        e.pending = &pending;
        e.server = server;
        e.reportSink = [this](const capture::ChannelReport& r) { reports.push_back(r); };
        e.observer = [this](const capture::ChannelEvent& ev) {
            std::lock_guard lock(eventsMutex);
            events.push_back(ev);
        };
        return e;
    }
    capture::ChannelGlobals globals() {
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        g.tempFolder = dir.path() / "TEMP";
        g.computerName = "host";
        fs::create_directories(g.tempFolder);
        return g;
    }
    std::unique_ptr<capture::Tchannel> make(services::RecordServer* server = nullptr, int bits = 16) {
        capture::ChannelParams p;
        p.bits = bits;
        p.samplesPerBlock = bits == 16 ? kBlock : kBlock / 2;
        auto c = std::make_unique<capture::Tchannel>(p, env(server), globals());
        c->SetRecordDir((dir.path() / "SOUND").string());
        c->SetPredTime(5);
        return c;
    }
    // Hands the samples over block by block as a capture thread would, with the clock at the end
    // of each block's sound when the block is delivered, and waits until each is processed.
    void feed(capture::Tchannel& c, const std::vector<std::int16_t>& s, std::size_t& delivered) {
        for (std::size_t at = 0; at < s.size(); at += kBlock) {
            const std::size_t n = std::min<std::size_t>(kBlock, s.size() - at);
            delivered += n;
            clock.advanceTo(std::chrono::milliseconds(std::int64_t(delivered) * 1000 / 11025));
            c.PutData(reinterpret_cast<const std::byte*>(s.data() + at), std::uint32_t(n * 2));
            ASSERT_TRUE(pending.waitIdle({}, 10s));
        }
        dispatcher.drain();
    }
    std::vector<fs::path> recordings(const fs::path& folder) {
        std::vector<fs::path> out;
        for (const auto& e : fs::recursive_directory_iterator(folder))
            if (e.path().extension() == ".wav") out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
};

}  // namespace

TEST_F(ChannelTest, LevelRecordingHoldsThePreRecordAndEveryBlockUntilTheStop) {
    auto c = make();
    c->SetPrefix("L1_");
    c->SetThreshold(-30.0);
    c->SetDelays(1, 0.5, 1.0);  // start after 10 level values, stop after 20
    c->SetMinTime(0);
    c->SetAutoRecord(true);
    const auto s = line(12, {{5, 8}});
    std::size_t delivered = 0;
    feed(*c, s, delivered);

    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, capture::ChannelEvent::Kind::Start);
    EXPECT_EQ(events[1].kind, capture::ChannelEvent::Kind::Stop);
    // The start comes 10 level values (of 551 samples) into the tone, the stop 20 values after it.
    const std::uint64_t firstLoudValue = (5 * kBlock / 551 + 1) * 551 - 1;  // sample that yields the first loud level
    EXPECT_EQ(events[0].sample, firstLoudValue + 9 * 551);
    EXPECT_GT(events[1].sample, std::uint64_t(8 * kBlock));
    EXPECT_LT(events[1].sample, std::uint64_t(8 * kBlock + 30 * 551));  // decay, then 20 low values

    const auto files = recordings(dir.path() / "SOUND");
    ASSERT_EQ(files.size(), 1u);
    // The trigger fires in block 5, delivered when the clock reads 16:05:09 + 6 * 16384 / 11025 s.
    EXPECT_EQ(files[0].filename().string(), "L1_05_12_2026 16_05_17_1.wav");
    const auto wav = test::readWav(files[0]);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, wav->bytes.size());
    EXPECT_EQ(wav->riffSize, wav->bytes.size() + 36);
    // The pre-record buffer holds 5 s (55125 samples) before the trigger's block, which is written
    // whole after it; the block in which the stop fires is processed after the file is closed, so
    // the file ends where that block begins.
    const std::size_t from = 5 * kBlock - 55125;
    const std::size_t stopBlockEnd = events[1].sample / kBlock * kBlock;
    const auto got = wav->samples16();
    ASSERT_EQ(got.size(), stopBlockEnd - from);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), s.begin() + std::ptrdiff_t(from)));

    using Report = capture::ChannelReport;
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, Report::Kind::Started);
    EXPECT_EQ(reports[0].cause, capture::RecordCause::Level);
    EXPECT_EQ(reports[0].channel, 1);
    EXPECT_EQ(reports[0].file, files[0].string());
    EXPECT_EQ(reports[1].kind, Report::Kind::Stopped);
    EXPECT_EQ(reports[1].cause, capture::RecordCause::Level);
    EXPECT_EQ(reports[1].outcome, capture::RecordOutcome::Kept);
    EXPECT_EQ(reports[1].file, files[0].string());
}

TEST_F(ChannelTest, RecordingShorterThanTheMinimumIsDeletedAndOneOfExactlyTheMinimumStays) {
    auto c = make();
    c->SetMinTime(5);
    ASSERT_TRUE(c->RecordNow());
    const auto first = c->OpenFileName();
    ASSERT_TRUE(fs::exists(first));
    clock.advance(4999ms);
    c->StopRecord();
    EXPECT_FALSE(fs::exists(first));

    clock.advance(1000ms);
    ASSERT_TRUE(c->RecordNow());
    const auto second = c->OpenFileName();
    clock.advance(5000ms);
    c->StopRecord();
    EXPECT_TRUE(fs::exists(second));
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[1].outcome, capture::RecordOutcome::TooShort);
    EXPECT_EQ(reports[1].file, "");
    EXPECT_EQ(reports[3].outcome, capture::RecordOutcome::Kept);
    EXPECT_EQ(reports[3].file, second);
}

TEST_F(ChannelTest, StartWhileRecordingAndStopWhileIdleChangeNothing) {
    auto c = make();
    c->SetMinTime(0);
    c->StopRecord();
    dispatcher.drain();
    EXPECT_TRUE(reports.empty());
    ASSERT_TRUE(c->RecordNow());
    const auto open = c->OpenFileName();
    clock.advance(2000ms);
    EXPECT_FALSE(c->RecordNow());
    c->StartIfIdle();
    EXPECT_EQ(c->OpenFileName(), open);
    c->StopRecord();
    c->StopRecord();
    dispatcher.drain();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, capture::ChannelReport::Kind::Started);
    EXPECT_EQ(reports[0].file, open);
    EXPECT_EQ(reports[1].kind, capture::ChannelReport::Kind::Stopped);
    EXPECT_EQ(reports[1].outcome, capture::RecordOutcome::Kept);
    EXPECT_EQ(recordings(dir.path() / "SOUND").size(), 1u);
}

TEST_F(ChannelTest, FileNamesFollowPrefixDateTimeAndChannel) {
    auto c = make();
    c->SetPrefix("L1_");
    EXPECT_EQ(c->MakeFileName(), (dir.path() / "SOUND" / "L1_05_12_2026 16_05_09_1").string());

    auto g = globals();
    g.dayFolders = true;
    c->SetGlobals(g);
    EXPECT_EQ(c->MakeFileName(), (dir.path() / "SOUND" / "05_12_2026" / "L1__16_05_09_1").string());
    EXPECT_TRUE(fs::is_directory(dir.path() / "SOUND" / "05_12_2026"));
    c->SetPrefix("");
    EXPECT_EQ(c->MakeFileName(), (dir.path() / "SOUND" / "05_12_2026" / "16_05_09_1").string());

    // A day folder that cannot be created leaves the file in the recording folder.
    clock.advance(24h);
    std::ofstream(dir.path() / "SOUND" / "06_12_2026") << "in the way";
    EXPECT_EQ(c->MakeFileName(), (dir.path() / "SOUND" / "16_05_09_1").string());
}

TEST_F(ChannelTest, ServerReportingRegistersUploadsAndDeletesWithoutRenaming) {
    FakeServer server;
    std::vector<std::string> uploads;
    auto e = env(&server);
    e.upload = [&](const std::string& p) { uploads.push_back(p); };
    capture::ChannelParams p;
    auto c = std::make_unique<capture::Tchannel>(p, e, [&] {
        auto g = globals();
        g.serverEnabled = true;
        g.noName = true;
        g.computerName = "a-very-long-computer-name";
        return g;
    }());
    c->SetPrefix("P");
    c->SetMinTime(5);
    ASSERT_TRUE(c->RecordNow());
    const std::string base = (dir.path() / "TEMP" / "P05_12_2026 16_05_09_a-very-long-computer-name_1").string();
    EXPECT_EQ(c->OpenFileName(), base + ".wav");
    clock.advance(3s);
    c->StopRecord();
    clock.advance(3s);
    ASSERT_TRUE(c->RecordNow());
    c->SetDurationText("0:00:06");
    clock.advance(6s);
    c->StopRecord();
    ASSERT_EQ(server.calls.size(), 4u);
    EXPECT_EQ(server.calls[0], "start " + base + ".wav|P|a-very-long-com 1");
    EXPECT_EQ(server.calls[1], "del 77");
    const std::string second = "P05_12_2026 16_05_15_a-very-long-computer-name_1.wav";
    EXPECT_EQ(server.calls[3], "stop 77|0:00:06|" + second);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(fs::path(uploads[0]).filename().string(), second);
}

TEST_F(ChannelTest, BlocksAreProcessedWholeInOrderAndAnOverflowIsCountedNotHidden) {
    auto c = make();
    FirstSampleMonitor monitor;
    c->SetMonitor(true, &monitor);
    std::vector<std::int16_t> block(kBlock);
    const int total = 400;
    std::jthread producer([&] {
        for (int b = 0; b < total; ++b) {
            std::fill(block.begin(), block.end(), std::int16_t(b));
            c->PutData(reinterpret_cast<const std::byte*>(block.data()), kBlock * 2);
        }
    });
    producer.join();
    ASSERT_TRUE(pending.waitIdle({}, 20s));
    c->SetMonitor(false, nullptr);
    // Whatever was dropped is counted; what arrived came in order and whole.
    EXPECT_EQ(monitor.firsts.size() + c->Overflows(), std::size_t(total));
    EXPECT_TRUE(std::is_sorted(monitor.firsts.begin(), monitor.firsts.end()));
    EXPECT_EQ(std::adjacent_find(monitor.firsts.begin(), monitor.firsts.end()), monitor.firsts.end());
    // The last block always arrives when the channel keeps up.
    std::fill(block.begin(), block.end(), std::int16_t(total));
    c->SetMonitor(true, &monitor);
    c->PutData(reinterpret_cast<const std::byte*>(block.data()), kBlock * 2);
    ASSERT_TRUE(pending.waitIdle({}, 10s));
    EXPECT_EQ(monitor.firsts.back(), total);
}

TEST_F(ChannelTest, ShutdownWhileRecordingLeavesACompleteFile) {
    auto c = make();
    ASSERT_TRUE(c->RecordNow());
    const auto name = c->OpenFileName();
    const auto s = line(3, {{0, 3}});
    std::size_t delivered = 0;
    feed(*c, s, delivered);
    c.reset();
    const auto wav = test::readWav(name);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, 3u * kBlock * 2);
    EXPECT_EQ(wav->riffSize, wav->dataSize + 36);
}

TEST_F(ChannelTest, OperatorAndTriggersRaceWithoutDeadlockUntilShutdown) {
    auto c = make();
    c->SetThreshold(-30.0);
    c->SetDelays(1, 0.0, 0.05);
    c->SetMinTime(0);
    c->SetAutoRecord(true);
    std::atomic<bool> done{false};
    std::jthread capture([&] {
        std::vector<std::int16_t> loud = line(1, {{0, 1}}), quiet = line(1, {});
        for (int b = 0; !done; ++b) {
            const auto& blk = b % 2 ? loud : quiet;
            c->PutData(reinterpret_cast<const std::byte*>(blk.data()), kBlock * 2);
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int i = 0; i < 200; ++i) {
        clock.advance(100ms);
        if (i % 3 == 0) (void)c->RecordNow();
        if (i % 5 == 0) c->StopRecord();
        (void)c->LevelHistoryTick();
        if (i % 50 == 0) dispatcher.drain();  // the main thread is slow to run posted calls
    }
    c->Shutdown();  // while calls are still posted and the capture thread still delivers
    done = true;
    capture.join();
    dispatcher.drain();
    SUCCEED();
}

TEST_F(ChannelTest, FormatSwitchCompletesTheOpenFileAndRecordingGoesOn) {
    auto c = make();
    ASSERT_TRUE(c->RecordNow());
    const auto name = c->OpenFileName();
    const auto s = line(2, {{0, 2}});
    std::size_t delivered = 0;
    feed(*c, s, delivered);
    c->SetFormat(0);
    EXPECT_TRUE(c->Recording());
    EXPECT_EQ(c->OpenFileName(), "");
    const auto wav = test::readWav(name);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, 2u * kBlock * 2);
    c->StopRecord();
    EXPECT_FALSE(c->Recording());
    EXPECT_TRUE(fs::exists(name));  // the stop after the switch deletes nothing of the earlier file
}

TEST_F(ChannelTest, LevelHistoryAveragesFiveTicksPerPoint) {
    auto c = make();
    const auto s = line(1, {{0, 1}});
    std::size_t delivered = 0;
    feed(*c, s, delivered);
    double sum = 0;
    for (int i = 0; i < 5; ++i) sum += c->LevelHistoryTick();
    const auto h = c->LevelHistory();
    EXPECT_DOUBLE_EQ(h.back(), sum / 5);
    EXPECT_EQ(h[h.size() - 2], -60.0);
}

TEST_F(ChannelTest, Mp3FormatRecordsAnMp3FileAndSwitchingBackGivesWav) {
    auto c = make();
    c->SetFormat(1);
    c->SetMinTime(0);
    ASSERT_TRUE(c->RecordNow());
    const auto mp3 = c->OpenFileName();
    EXPECT_EQ(fs::path(mp3).extension(), ".mp3");
    const auto s = line(2, {{0, 2}});
    std::size_t delivered = 0;
    feed(*c, s, delivered);
    c->StopRecord();
    EXPECT_GT(fs::file_size(mp3), 1000u);
    c->SetFormat(0);
    clock.advance(2s);
    ASSERT_TRUE(c->RecordNow());
    EXPECT_EQ(fs::path(c->OpenFileName()).extension(), ".wav");
}

TEST_F(ChannelTest, TheStatusSinkMayCallTheChannelBackFromTheMainThread) {
    capture::Tchannel* self = nullptr;
    std::vector<std::string> files;
    auto e = env();
    e.reportSink = [&](const capture::ChannelReport&) { files.push_back(self->OpenFileName()); };
    auto c = std::make_unique<capture::Tchannel>(capture::ChannelParams{}, e, globals());
    self = c.get();
    c->SetMinTime(0);
    ASSERT_TRUE(c->RecordNow());  // the sink runs on this (the main) thread after the channel's lock is released
    const auto open = c->OpenFileName();
    c->StopRecord();
    EXPECT_EQ(files, (std::vector<std::string>{open, ""}));
}
