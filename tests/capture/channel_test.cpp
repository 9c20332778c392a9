// Tchannel fed blocks and driven from the main thread: minimum time, names, server, hand-over,
// shutdown, format switch; the gates on its detectors, the compressor, and its plug-ins.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "support/channel_fixture.h"
#include "support/faulty_disk.h"
#include "support/thread_names.h"

using namespace kestavo;
using namespace std::chrono_literals;
using capture::RecordOutcome;
using test::Signal;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBlock = test::ChannelFixture::kBlock;

// DTMF keys, then 7 s of quiet: a number is handed over after 6.45 s of quiet.
Signal dtmf(std::string_view keys) {
    Signal s = test::dtmfNumber(keys, -10.0, 80.0, 80.0);
    test::append(s, test::silence(test::samplesOf(7000.0)));
    return s;
}

struct FakeServer final : services::RecordServer {
    Strings calls;  // main thread only in these tests
    std::int32_t start_rec_file(const std::string& f, const std::string& p, const std::string& l) override {
        return calls.push_back("start " + f + "|" + p + "|" + l), 77;
    }
    void add_aon(std::int32_t, const std::string& t) override { calls.push_back("aon " + t); }
    void add_nabor(std::int32_t, const std::string& t) override { calls.push_back("nabor " + t); }
    void stop_rec_file(std::int32_t id, const std::string& d, const std::string& f) override {
        calls.push_back("stop " + std::to_string(id) + "|" + d + "|" + f);
    }
    void del_rec(std::int32_t id) override { calls.push_back("del " + std::to_string(id)); }
};

// A monitor that plays the capture thread while each block is in work: it notes the block's first
// sample, hands over more numbered blocks than the queue holds, and checks the block is unchanged.
struct FeedingMonitor final : capture::MonitorSink {
    explicit FeedingMonitor(capture::Tchannel& c) : channel(c) {}
    capture::Tchannel& channel;
    int next = 1;
    std::vector<std::int16_t> firsts;
    bool changedInWork = false;
    void PutBlock(const std::byte* block, std::uint32_t, int) override {
        const auto first = [&] { return std::int16_t(int(block[0]) | int(block[1]) << 8); };
        firsts.push_back(first());
        for (int i = 0; i <= capture::Tchannel::kQueueSlots && next <= 100; ++i, ++next) {
            const std::vector<std::int16_t> b(kBlock, std::int16_t(next));
            channel.PutData(reinterpret_cast<const std::byte*>(b.data()), std::uint32_t(b.size() * 2));
        }
        changedInWork |= first() != firsts.back();
    }
};

class ChannelTest : public test::ChannelFixture {
protected:
    std::mutex sync;  // "SYNC"
    std::vector<services::PluginRecord> logged;

    // Channel n with the demodulator plug-in at hand and its results logged; given a control list
    // entry, recording by identifier with the plug-in added. The plug-in answers +0.75 with
    // "84951234567" and start, +0.625 with a text holding a path, -0.75 with "END" and stop.
    std::unique_ptr<capture::Tchannel> pluginChannel(int n, const std::string& listed = "") {
        fs::create_directories(dir / "PLUGINS"), fs::create_directories(dir / "CONTROL");
        fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg", fs::copy_options::skip_existing);
        if (!listed.empty()) std::ofstream(dir / "CONTROL" / (std::to_string(n) + ".ctl")) << listed << " Moscow\n";
        auto e = env();
        e.pluginLock = &sync;
        e.pluginLog = [this](const services::PluginRecord& r) { logged.push_back(r); };
        auto c = make({.channelNumber = n}, e);
        c->SetMinTime(0);
        if (listed.empty()) return c;
        c->ReloadControlList();
        c->AddPlugin("demod.plg");
        c->SetRecordMode(capture::RecordMode::Id);
        return c;
    }
};

}  // namespace

TEST_F(ChannelTest,
       AShortRecordingIsUnregisteredALongOneReportedAndUploadedRepeatsChangeNothingAndNamesFollowSettings) {
    FakeServer server;
    Strings uploads, files;  // files: what the channel said while each report ran on the main thread
    auto e = env();
    e.server = &server;
    e.upload = [&](const std::string& p) { uploads.push_back(p); };
    auto g = globals();
    g.serverEnabled = g.noName = true;
    g.computerName = "a-very-long-computer-name";
    auto c = make({}, e, g);
    onMainThread = [&] { files.push_back(c->OpenFileName()); };
    c->SetPrefix("P");
    c->SetMinTime(5);
    Strings open;
    for (const auto length : {4999ms, 5000ms}) {
        ASSERT_TRUE(c->RecordNow());
        open.push_back(c->OpenFileName());
        clock.advance(length);
        c->StartIfIdle();  // does not restart the recording (the application's test refuses RecordNow)
        EXPECT_EQ(c->OpenFileName(), open.back());
        c->SetDurationText("0:00:05");
        c->StopRecord();
        dispatcher.drain();
    }
    const std::string name = "P05_12_2026 16_05_13_a-very-long-computer-name_1.wav";
    EXPECT_EQ(open,
              (Strings{(dir / "TEMP" / "P05_12_2026 16_05_09_a-very-long-computer-name_1.wav").string(),
                       (dir / "TEMP" / name).string()}));
    EXPECT_EQ(mainThread, (Strings{"1:start", "1:stop", "1:start", "1:stop"}));
    EXPECT_EQ(files, (Strings{open[0], "", open[1], ""}));  // run at once, after the channel's lock was released
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(std::tuple(reports[0].file, reports[0].cause), std::tuple(open[0], capture::RecordCause::Operator));
    EXPECT_EQ(std::tuple(reports[1].outcome, reports[1].file), std::tuple(RecordOutcome::TooShort, ""));
    EXPECT_EQ(std::tuple(reports[3].outcome, reports[3].file), std::tuple(RecordOutcome::Kept, open[1]));
    EXPECT_EQ(server.calls,
              (Strings{"start " + open[0] + "|P|a-very-long-com 1", "del 77",
                       "start " + open[1] + "|P|a-very-long-com 1", "stop 77|0:00:05|" + name}));
    EXPECT_EQ(uploads, Strings{open[1]});
    // With day folders the date names a folder, made on demand; when it cannot be made the recording
    // folder serves. (The plain name without the server: the application's test.)
    g.serverEnabled = false, g.dayFolders = true;
    c->SetGlobals(g);
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "05_12_2026" / "P_16_05_18_1").string());
    EXPECT_TRUE(fs::is_directory(dir / "SOUND" / "05_12_2026"));
    c->SetPrefix("");
    clock.advance(24h);
    std::ofstream(dir / "SOUND" / "06_12_2026") << "in the way";
    EXPECT_EQ(c->MakeFileName(), (dir / "SOUND" / "16_05_18_1").string());
}

TEST_F(ChannelTest, BlocksAreProcessedWholeInOrderOnANamedThreadAndAnOverflowIsCounted) {
    auto c = make({.channelNumber = 3});
    FeedingMonitor monitor(*c);
    c->SetMonitor(true, &monitor);
    feed(*c, std::vector<std::int16_t>(kBlock, 0));  // the monitor hands over 100 more, some finding the queue full
    EXPECT_FALSE(monitor.changedInWork);
    EXPECT_EQ(monitor.firsts.size() + c->Overflows(), 101u);
    EXPECT_TRUE(std::ranges::is_sorted(monitor.firsts, std::less_equal<>()));  // strictly rising
    feed(*c, std::vector<std::int16_t>(kBlock, 101));  // a block after the channel has caught up always arrives
    EXPECT_EQ(monitor.firsts.back(), 101);
    EXPECT_EQ(c->BlocksProcessed(), monitor.firsts.size());
    EXPECT_TRUE(test::threadRunning("channel 3"));
}

TEST_F(ChannelTest, OperatorAndTriggersRaceWithoutDeadlockAndShutdownLeavesCompleteFiles) {
    auto c = make();
    c->SetThreshold(-30.0);
    c->SetDelays(1, 0.0, 0.05);
    c->SetMinTime(0);
    c->SetAutoRecord(true);
    std::atomic<bool> done{false};
    std::jthread capture([&] {
        const auto loud = test::toneLine(kBlock, {{0, kBlock}}, 440.0), quiet = test::toneLine(kBlock, {}, 440.0);
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
    (void)test::completeWavFiles(dir / "SOUND");
}

TEST_F(ChannelTest, AFileThatCannotBeWrittenIsReportedOnceKeptInMemoryAndNeverCalledShort) {
    using Kind = capture::ChannelReport::Kind;
    test::FaultyDisk disk;
    const recording::FileOps ops = test::FaultyDisk::ops();
    auto e = env();
    e.fileOps = &ops;
    auto c = make({}, e);
    c->SetMinTime(0);
    std::vector<std::int16_t> sent;
    const auto block = [&](int k) {
        const auto b = test::numberedSamples(k, kBlock);
        sent.insert(sent.end(), b.begin(), b.end());
        feed(*c, b);
    };
    block(1);  // pre-record
    disk.refuseNewFiles(EROFS);
    ASSERT_TRUE(c->RecordNow());  // the recording goes on while its file waits
    dispatcher.drain();
    for (int k = 2; k <= 5; ++k) block(k);
    disk.heal();
    block(6);
    c->StopRecord();
    dispatcher.drain();
    ASSERT_EQ(reports.size(), 4u);
    const std::string path = reports[0].file;
    EXPECT_EQ(std::tuple(reports[0].kind, fs::path(path).parent_path()), std::tuple(Kind::Started, dir / "SOUND"));
    EXPECT_EQ(std::tuple(reports[1].kind, reports[1].file, reports[1].error, reports[1].text),
              std::tuple(Kind::Fault, path, EROFS, std::generic_category().message(EROFS)));
    EXPECT_EQ(std::tuple(reports[2].kind, reports[2].error), std::tuple(Kind::Fault, 0));  // written again
    EXPECT_EQ(std::tuple(reports[3].kind, reports[3].outcome, reports[3].file, reports[3].lostSeconds),
              std::tuple(Kind::Stopped, RecordOutcome::Kept, path, 0.0));
    EXPECT_EQ(test::readWav(path)->samples16(), sent);

    // A disk that never takes the file: the recording ends with no file, however short it was.
    reports.clear();
    c->SetMinTime(60);
    disk.refuseNewFiles(ENOSPC);
    ASSERT_TRUE(c->RecordNow());
    block(7);
    c->StopRecord();
    dispatcher.drain();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(std::tuple(reports[1].kind, reports[1].error), std::tuple(Kind::Fault, ENOSPC));
    EXPECT_EQ(std::tuple(reports[2].kind, reports[2].outcome, reports[2].file),
              std::tuple(Kind::Stopped, RecordOutcome::NoFile, ""));
    EXPECT_DOUBLE_EQ(reports[2].lostSeconds, double(kBlock) / kLineRate);
    EXPECT_FALSE(fs::exists(reports[0].file));
}

TEST_F(ChannelTest, ARecordingThatStartsAndStopsInsideOneBlockHoldsThatBlockAndTheNextHoldsItsOwnBurst) {
    for (const int pred : {0, 5}) {
        SCOPED_TRACE(pred);
        const fs::path folder = dir / ("SOUND" + std::to_string(pred));
        auto c = make();
        c->SetRecordDir(folder.string());
        c->SetPredTime(pred);
        c->SetThreshold(-30.0);
        c->SetDelays(1, 0.05, 0.2);
        c->SetMinTime(0);
        c->SetAutoRecord(true);
        // Bursts of 0.4 s in the middle of blocks 2 and 4 (of 0..5): each recording begins and ends
        // inside its block.
        const std::size_t burst = kLineRate * 4 / 10;
        const std::vector<std::pair<std::size_t, std::size_t>> loud = {{2 * kBlock + 4000, 2 * kBlock + 4000 + burst},
                                                                       {4 * kBlock + 6000, 4 * kBlock + 6000 + burst}};
        const auto line = test::toneLine(6 * kBlock, loud, 440.0);
        feed(*c, line);
        const auto files = test::completeWavFiles(folder);
        ASSERT_EQ(files.size(), 2u);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const auto samples = test::readWav(files[i])->samples16();
            const std::vector<std::int16_t> own(line.begin() + std::ptrdiff_t(loud[i].first),
                                                line.begin() + std::ptrdiff_t(loud[i].second));
            EXPECT_NE(std::search(samples.begin(), samples.end(), own.begin(), own.end()), samples.end())
                << files[i] << " holds " << samples.size() << " samples";
        }
    }
}

TEST_F(ChannelTest, APlugInThatFailsItsTrialCostsOnlyItsOwnAttachmentAndIsNamed) {
    fs::create_directories(dir / "PLUGINS");
    fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg");
    fs::copy_file(fs::path(KESTAVO_BAD_PLUGINS) / "bad_crash_at_load.plg", dir / "PLUGINS" / "crash.plg");
    std::ofstream(dir / "plg1.ust") << "crash.plg\ndemod.plg\n";
    services::PluginVetting vetting(KESTAVO_PLUGIN_PROBE);
    auto e = env();
    e.pluginVetting = &vetting;
    auto c = make({}, e);
    dispatcher.drain();
    EXPECT_EQ(c->PluginNames(), Strings{"demod.plg"});
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(std::tuple(reports[0].kind, reports[0].file),
              std::tuple(capture::ChannelReport::Kind::PluginRefused, (dir / "PLUGINS" / "crash.plg").string()));
    EXPECT_NE(reports[0].text.find("crashed"), std::string::npos) << reports[0].text;
}

TEST_F(ChannelTest, AFormatSwitchWhileRecordingCompletesTheFileAndRecordingGoesOnInTheNewFormat) {
    auto c = make();
    c->SetFormat(recording::FileFormat::Mp3);
    c->SetMinTime(0);
    ASSERT_TRUE(c->RecordNow());
    const auto mp3 = c->OpenFileName();
    EXPECT_EQ(fs::path(mp3).extension(), ".mp3");
    feed(*c, test::toneLine(3 * kBlock, {{0, 3 * kBlock}}, 440.0));
    c->SetFormat(recording::FileFormat::Wav);
    EXPECT_EQ(std::tuple(c->Recording(), c->OpenFileName()), std::tuple(true, ""));
    EXPECT_GT(fs::file_size(mp3), 1000u);  // 4.5 s at 32 kbit/s
    c->StopRecord();
    EXPECT_TRUE(fs::exists(mp3));  // the stop after the switch deletes nothing of the earlier file
    // The new writer keeps the channel's 5 s of pre-record: of four blocks fed, the newest 55125
    // samples open the next file.
    feed(*c, test::toneLine(4 * kBlock, {{0, 4 * kBlock}}, 440.0));
    clock.advance(2s);
    ASSERT_TRUE(c->RecordNow());
    const auto wav = c->OpenFileName();
    c->StopRecord();
    EXPECT_EQ(test::readWav(wav).value_or(test::WavData{}).samples16().size(), 55125u);
}

TEST_F(ChannelTest, DetectorsWaitForARecordingOnlyTheFirstPulseNumberCountsOneDigitIsNoiseAndTheCompressorCurves) {
    auto e = env();
    e.writeFiles = false;  // analysis only
    auto c = make({}, e);
    c->SetDtmf(true);
    const auto restart = [&] { c->ScheduleOperatorAction(fed, false), c->ScheduleOperatorAction(fed + 1, true); };
    process(*c, dtmf("1234"));
    process(*c, test::pulseDialLine({2, 7}));
    EXPECT_TRUE(texts(Kind::Dtmf).empty() && texts(Kind::Pulse).empty());  // idle: nothing decoded
    c->ScheduleOperatorAction(fed, true);
    process(*c, test::pulseDialLine({2, 7}));
    process(*c, test::pulseDialLine({4, 3}));
    // The next stop arms pulse decoding again; a DTMF number disarms it as a pulse number does, and
    // the stop after it carries that number cut to twenty characters.
    restart();
    process(*c, dtmf("1234567890123456789012345"));
    process(*c, test::pulseDialLine({2, 7}));
    restart();
    process(*c, test::pulseDialLine({5, 1}));
    EXPECT_EQ(texts(Kind::Pulse), (Strings{"27", "51"}));
    EXPECT_EQ(texts(Kind::Stop).at(1), "12345678901234567890");
    // Detecting while idle, a single key is taken for noise.
    c->SetDetectOnlyWhileRecording(false);
    c->ScheduleOperatorAction(fed, false);
    process(*c, dtmf("5"));
    process(*c, dtmf("1234"));
    EXPECT_EQ(texts(Kind::Dtmf), (Strings{"1234567890123456789012345", "1234"}));
    EXPECT_EQ(mainThread.back(), "1:1234");
    c->SetCompressor(true);
    c->SetK1(1.8);
    // The compressor: 0.1 arrives as 3277/32768: 1.8 (1 - e^(-7 x 3277/32768)) = 0.90619 -> 29694;
    // 1.8 (1 - e^0.7) = -1.825 and 1.8 (1 - e^3.5) are clipped; with K2 = 1e6, e^(5e5) overflows:
    // -0.5 stays, and 1.8 (1 - e^-250000) = 1.8 is clipped.
    const std::tuple<double, double, int> cases[] = {{7.0, 0.1, 29694},   {7.0, -0.1, -32768}, {7.0, 0.0, 0},
                                                     {7.0, -0.5, -32768}, {1e6, -0.5, -16384}, {1e6, 0.25, 32767}};
    for (const auto& [k2, in, out] : cases) {
        c->SetK2(k2);
        EXPECT_EQ(process(*c, Signal{in})[0], out) << k2 << " " << in;
    }
}

TEST_F(ChannelTest, PluginsRunOnPrivateCopiesTheListSurvivesARestartAndIdModeStartsOnAListedIdentifierOnly) {
    Signal s(4000, 0.0);
    s[100] = 0.75, s[200] = 0.625, s[300] = -0.75;
    {
        auto unlisted = pluginChannel(2, "7495*******"), c = pluginChannel(1, "8495*******");
        c->AddPlugin("demod.plg");  // twice changes nothing
        unlisted->AddPlugin("missing.plg");
        EXPECT_EQ(std::tuple(c->PluginNames(), unlisted->PluginNames()),
                  std::tuple(Strings{"demod.plg"}, Strings{"demod.plg"}));
        EXPECT_TRUE(fs::exists(dir / "PLUGINS/WORK/demod1.plg") && fs::exists(dir / "PLUGINS/WORK/demod2.plg"));
        process(*unlisted, Signal(s.begin(), s.begin() + 150));
        EXPECT_EQ(std::tuple(logged.size(), unlisted->Recording()), std::tuple(1u, false));
        process(*c, s);
        ASSERT_EQ(logged.size(), 4u);
        EXPECT_EQ(std::tuple(logged[1].channel, services::identifierText(logged[1])), std::tuple(1, "84951234567"));
        ASSERT_EQ(events.size(), 4u);
        EXPECT_EQ(
            std::tuple(events[0].kind, events[0].sample, events[3].kind, events[3].sample, texts(Kind::Plugin).size()),
            std::tuple(Kind::Start, 100u, Kind::Stop, 300u, 2u));
    }
    // The stop renamed the file with the last text (the writer's test tells how a path in it is
    // cleaned), and its report names the renamed file.
    const auto files = test::completeWavFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].filename().string().find("evil"), std::string::npos);
    EXPECT_EQ(reports.back().file, files[0].string());
    // At the end of a channel its copy is deleted and its list written.
    EXPECT_FALSE(fs::exists(dir / "PLUGINS/WORK/demod1.plg"));
    std::string listed;
    EXPECT_TRUE(std::getline(std::ifstream(dir / "plg1.ust"), listed) && listed == "demod.plg") << listed;
    auto again = pluginChannel(1);
    EXPECT_EQ(again->PluginNames(), Strings{"demod.plg"});
    again->RemovePlugin("demod.plg");
    EXPECT_TRUE(again->PluginNames().empty());
    // A record's text field is never read past its end, even without a terminating zero.
    std::memset(logged[0].identifier, '7', sizeof logged[0].identifier);
    std::memset(logged[0].unused1, '8', sizeof logged[0].unused1);
    EXPECT_EQ(services::identifierText(logged[0]), std::string(101, '7'));
}
