// Tchannel driven from the main thread and fed blocks: minimum time, names, server reporting, the
// hand-over under load, shutdown and format switches while recording, the level history.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/channel_fixture.h"
#include "support/thread_names.h"

using namespace kestavo;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Blocks of hiss with a 440 Hz tone over the blocks [from, to).
std::vector<std::int16_t> line(int blocks, int from = 0, int to = 0) {
    constexpr std::size_t kBlock = test::ChannelFixture::kBlock;
    return test::toneLine(std::size_t(blocks) * kBlock, {{std::size_t(from) * kBlock, std::size_t(to) * kBlock}},
                          440.0);
}

struct FakeServer final : services::RecordServer {
    std::vector<std::string> calls;  // main thread only in these tests
    std::int32_t start_rec_file(const std::string& path, const std::string& prefix, const std::string& label) override {
        return calls.push_back("start " + path + "|" + prefix + "|" + label), 77;
    }
    void add_aon(std::int32_t, const std::string& t) override { calls.push_back("aon " + t); }
    void add_nabor(std::int32_t, const std::string& t) override { calls.push_back("nabor " + t); }
    void stop_rec_file(std::int32_t id, const std::string& d, const std::string& f) override {
        calls.push_back("stop " + std::to_string(id) + "|" + d + "|" + f);
    }
    void del_rec(std::int32_t id) override { calls.push_back("del " + std::to_string(id)); }
};

// A monitor that plays the capture thread while each block is still in work: it notes the block's
// first sample, hands the channel the next `burst` numbered blocks, and checks that the block in
// work was not changed meanwhile.
struct FeedingMonitor final : capture::MonitorSink {
    capture::Tchannel* channel = nullptr;
    int next = 1, last = 0, burst = capture::Tchannel::kQueueSlots + 1;
    std::vector<std::int16_t> firsts;
    bool changedInWork = false;
    void PutBlock(const std::byte* block, std::uint32_t, int) override {
        const auto first = [&] {
            return std::int16_t(std::to_integer<int>(block[0]) | std::to_integer<int>(block[1]) << 8);
        };
        firsts.push_back(first());
        for (int i = 0; i < burst && next <= last; ++i, ++next) {
            const std::vector<std::int16_t> b(test::ChannelFixture::kBlock, std::int16_t(next));
            channel->PutData(reinterpret_cast<const std::byte*>(b.data()), std::uint32_t(b.size() * 2));
        }
        changedInWork |= first() != firsts.back();
    }
};

using ChannelTest = test::ChannelFixture;

}  // namespace

TEST_F(ChannelTest, RecordingShorterThanTheMinimumIsDeletedAndOneOfExactlyTheMinimumStays) {
    for (const auto& [length, kept] : {std::pair{4999ms, false}, std::pair{5000ms, true}}) {
        auto c = make();
        c->SetMinTime(5);
        ASSERT_TRUE(c->RecordNow());
        const auto file = c->OpenFileName();
        ASSERT_TRUE(fs::exists(file));
        clock.advance(length);
        c->StopRecord();
        dispatcher.drain();
        EXPECT_EQ(fs::exists(file), kept) << length.count();
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().outcome, kept ? capture::RecordOutcome::Kept : capture::RecordOutcome::TooShort);
        EXPECT_EQ(reports.back().file, kept ? file : "");
    }
}

TEST_F(ChannelTest, FileNamesFollowPrefixDateTimeAndChannel) {
    auto c = make();
    c->SetPrefix("L1_");
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "L1_05_12_2026 16_05_09_1").string());
    auto g = globals();
    g.dayFolders = true;
    c->SetGlobals(g);
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "05_12_2026" / "L1__16_05_09_1").string());
    EXPECT_TRUE(fs::is_directory(dir / "SOUND" / "05_12_2026"));
    c->SetPrefix("");
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "05_12_2026" / "16_05_09_1").string());
    // A day folder that cannot be created leaves the file in the recording folder.
    clock.advance(24h);
    std::ofstream(dir / "SOUND" / "06_12_2026") << "in the way";
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "16_05_09_1").string());
}

TEST_F(ChannelTest, ServerReportingRegistersUploadsAndDeletesWithoutRenaming) {
    FakeServer server;
    std::vector<std::string> uploads;
    auto e = env();
    e.server = &server;
    e.upload = [&](const std::string& p) { uploads.push_back(p); };
    auto g = globals();
    g.serverEnabled = g.noName = true;
    g.computerName = "a-very-long-computer-name";
    auto c = make({}, e, g);
    c->SetPrefix("P");
    c->SetMinTime(5);
    ASSERT_TRUE(c->RecordNow());
    const std::string base = (dir / "TEMP" / "P05_12_2026 16_05_09_a-very-long-computer-name_1").string();
    EXPECT_EQ(c->OpenFileName(), base + ".wav");
    clock.advance(3s);
    c->StopRecord();
    clock.advance(3s);
    ASSERT_TRUE(c->RecordNow());
    c->SetDurationText("0:00:06");
    clock.advance(6s);
    c->StopRecord();
    const std::string second = "P05_12_2026 16_05_15_a-very-long-computer-name_1.wav";
    ASSERT_EQ(server.calls.size(), 4u);
    EXPECT_EQ(server.calls[0], "start " + base + ".wav|P|a-very-long-com 1");
    EXPECT_EQ(server.calls[1], "del 77");
    EXPECT_EQ(server.calls[2], "start " + (dir / "TEMP" / second).string() + "|P|a-very-long-com 1");
    EXPECT_EQ(server.calls[3], "stop 77|0:00:06|" + second);
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(fs::path(uploads[0]).filename().string(), second);
}

TEST_F(ChannelTest, BlocksAreProcessedWholeInOrderOnANamedThreadAndAnOverflowIsCounted) {
    auto c = make({.channelNumber = 3});
    FeedingMonitor monitor;
    monitor.channel = c.get();
    monitor.last = 100;  // more blocks than the channel takes: some find the queue full
    c->SetMonitor(true, &monitor);
    const auto put = [&](int number) {
        const std::vector<std::int16_t> b(kBlock, std::int16_t(number));
        c->PutData(reinterpret_cast<const std::byte*>(b.data()), kBlock * 2);
        ASSERT_TRUE(pending.waitIdle({}, 20s));
    };
    put(0);
    EXPECT_FALSE(monitor.changedInWork);
    EXPECT_GT(c->Overflows(), 0u);
    EXPECT_EQ(monitor.firsts.size() + c->Overflows(), 101u);
    EXPECT_TRUE(std::adjacent_find(monitor.firsts.begin(), monitor.firsts.end(), std::greater_equal<>()) ==
                monitor.firsts.end());
    put(101);  // a block after the channel has caught up always arrives
    EXPECT_EQ(monitor.firsts.back(), 101);
    EXPECT_EQ(c->BlocksProcessed(), monitor.firsts.size());
    const auto names = test::threadNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "channel 3"), names.end());
}

TEST_F(ChannelTest, OperatorAndTriggersRaceWithoutDeadlockAndShutdownLeavesCompleteFiles) {
    auto c = make();
    c->SetThreshold(-30.0);
    c->SetDelays(1, 0.0, 0.05);
    c->SetMinTime(0);
    c->SetAutoRecord(true);
    std::atomic<bool> done{false};
    std::jthread capture([&] {
        const auto loud = line(1, 0, 1), quiet = line(1);
        for (int b = 0; !done; ++b)
            c->PutData(reinterpret_cast<const std::byte*>((b % 2 ? loud : quiet).data()), kBlock * 2);
    });
    for (int i = 0; i < 200; ++i) {
        clock.advance(1100ms);
        if (i % 3 == 0) (void)c->RecordNow();
        if (i % 5 == 0) c->StopRecord();
        (void)c->LevelHistoryTick();
        if (i % 50 == 0) dispatcher.drain();  // the main thread is slow to run posted calls
    }
    c->Shutdown();  // while calls are still posted and the capture thread still delivers
    done = true;
    capture.join();
    dispatcher.drain();
    ASSERT_FALSE(mainThread.empty());
    for (std::size_t i = 0; i < mainThread.size(); ++i)
        ASSERT_EQ(mainThread[i], i % 2 ? "1:stop" : "1:start") << i;  // starts and stops alternate
    for (const auto& file : test::wavFiles(dir / "SOUND")) test::expectCompleteWav(file);
}

TEST_F(ChannelTest, LevelHistoryAveragesFiveTicksPerPoint) {
    auto c = make();
    feed(*c, line(1, 0, 1));
    double sum = 0;
    for (int i = 0; i < 5; ++i) sum += c->LevelHistoryTick();
    const auto h = c->LevelHistory();
    EXPECT_DOUBLE_EQ(h.back(), sum / 5);
    EXPECT_EQ(h[h.size() - 2], -60.0);
}

TEST_F(ChannelTest, StartWhileRecordingAndStopWhileIdleChangeNothingAndTheReportMayCallTheChannelBack) {
    auto c = make();
    std::vector<std::string> files;  // what the channel said while each report ran on the main thread
    onMainThread = [&] { files.push_back(c->OpenFileName()); };
    c->SetMinTime(0);
    c->StopRecord();
    ASSERT_TRUE(c->RecordNow());
    const auto open = c->OpenFileName();
    clock.advance(2000ms);
    EXPECT_FALSE(c->RecordNow());
    c->StartIfIdle();
    EXPECT_EQ(c->OpenFileName(), open);
    c->StopRecord();
    c->StopRecord();
    dispatcher.drain();
    EXPECT_EQ(mainThread, (std::vector<std::string>{"1:start", "1:stop"}));
    EXPECT_EQ(files, (std::vector<std::string>{open, ""}));  // run at once, after the channel's lock was released
    EXPECT_EQ(reports[0].file, open);
    EXPECT_EQ(reports[0].cause, capture::RecordCause::Operator);
    EXPECT_EQ(reports[1].file, open);
    EXPECT_EQ(reports[1].outcome, capture::RecordOutcome::Kept);
    EXPECT_EQ(test::wavFiles(dir / "SOUND").size(), 1u);
}

TEST_F(ChannelTest, ShutdownOrAFormatSwitchWhileRecordingCompletesTheFileAndRecordingGoesOn) {
    for (const bool shutdown : {true, false}) {
        auto c = make();
        c->SetFormat(shutdown ? recording::FileFormat::Wav : recording::FileFormat::Mp3);
        c->SetMinTime(0);
        ASSERT_TRUE(c->RecordNow());
        const auto name = c->OpenFileName();
        EXPECT_EQ(fs::path(name).extension(), shutdown ? ".wav" : ".mp3");
        feed(*c, line(3, 0, 3));
        if (shutdown) {
            c.reset();
            test::expectCompleteWav(name, 3u * kBlock * 2);
            continue;
        }
        c->SetFormat(recording::FileFormat::Wav);
        EXPECT_TRUE(c->Recording());
        EXPECT_EQ(c->OpenFileName(), "");
        EXPECT_GT(fs::file_size(name), 1000u);  // 4.5 s at 32 kbit/s
        c->StopRecord();
        EXPECT_TRUE(fs::exists(name));  // the stop after the switch deletes nothing of the earlier file
        clock.advance(2s);
        ASSERT_TRUE(c->RecordNow());
        EXPECT_EQ(fs::path(c->OpenFileName()).extension(), ".wav");
    }
}
