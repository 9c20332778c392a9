// Plug-in results reach the main thread: the results window's list while it is open (filtered by
// channel, at most 100 rows, the filter kept in the configuration) and the result listener; a row
// shows a recording's write fault beside its state, and a sidecar that cannot be written is shown;
// the free-space keeper the 4 s check starts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/demod_results.h"
#include "app_fixture.h"

namespace kestavo::app {
namespace {

namespace fs = std::filesystem;
using testing::CoreRig;
using testing::device;
using testing::writeIni;

services::PluginRecord result(int channel, const char* id) {
    services::PluginRecord r{};
    r.channel = channel;
    std::strcpy(r.identifier, id);
    std::strcpy(r.extra, "extra");
    return r;
}

TEST(DemodResults, TheFilterHidesOtherChannelsOnlyFromThenOnAndTheHundredAndFirstRowPushesOutTheOldest) {
    DemodResults list;
    list.SetFilterText("2");
    list.Add(result(1, "hidden"), "10:00:00");
    list.Add(result(2, "shown"), "10:00:01");
    list.SetFilterText("x");  // not a number: no change
    EXPECT_EQ(list.Filter(), 2);
    list.SetFilterText("ALL");
    list.Add(result(1, "all"), "10:00:02");
    ASSERT_EQ(list.Rows().size(), 2u);
    EXPECT_EQ(std::tuple(list.Rows()[0].identifier, list.Rows()[1].identifier, list.Rows()[1].extra),
              std::tuple("shown", "all", "extra"));
    for (int i = 0; i < 99; ++i) list.Add(result(1, std::to_string(i).c_str()), "10:00:03");
    ASSERT_EQ(list.Rows().size(), DemodResults::kMaxRows);
    EXPECT_EQ(std::tuple(list.Rows().front().identifier, list.Rows().back().identifier), std::tuple("all", "98"));
}

TEST(PluginResults, ReachTheListOnlyWhileItIsOpenAndTheListenerAlwaysAndTheFilterIsKept) {
    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "[Demods]", "VChannel=1"});
    fs::create_directories(rig.files.programFolder / "PLUGINS");
    fs::copy_file(KESTAVO_TEST_PLUGIN, rig.files.programFolder / "PLUGINS" / "demod.plg");
    std::ofstream(rig.files.programFolder / "plg1.ust") << "demod.plg\n";
    rig.start();
    EXPECT_EQ(rig.core->PluginCatalogue(), std::vector<std::string>{"demod.plg\tTest demodulator\t1.0"});
    std::vector<std::string> heard;
    const auto marker = [&] {  // the test plug-in answers a sample of +0.75 with "84951234567"
        std::vector<std::int16_t> block(256, 0);
        block[10] = 24576;
        rig.core->Row(1)->Channel()->ProcessBlockNow(reinterpret_cast<std::byte*>(block.data()), 512);
        rig.dispatcher.drain();
    };
    marker();  // nobody listens: nothing is handed over
    EXPECT_TRUE(rig.core->Demods().Rows().empty());
    rig.core->SetPluginResultListener([&](const PluginResult& r) {
        heard.push_back(std::to_string(r.record.channel) + ":" + std::string(services::identifierText(r.record)));
    });
    rig.core->OpenDemods();
    EXPECT_EQ(rig.core->Demods().Filter(), 1);
    marker();
    rig.core->Demods().SetFilterText("ALL");
    rig.core->CloseDemods();
    marker();
    EXPECT_EQ(rig.core->Demods().Rows().size(), 1u);
    EXPECT_EQ(rig.core->Demods().Rows()[0].identifier, "84951234567");
    EXPECT_EQ(heard, (std::vector<std::string>{"1:84951234567", "1:84951234567"}));
    EXPECT_EQ(config::ReadDemodChannelFilter(rig.files), "ALL");
}

TEST(WriteFaults, TheRowShowsAFaultBesideItsStateUntilTheFileIsWrittenAgainAndLostSoundAfterTheStop) {
    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0", "Language=English", "[Channels1]", "CompressMode1=0"});
    rig.start();
    Tkanal& row = *rig.core->Row(1);
    const std::string idle = rig.core->StateText(row);
    capture::ChannelReport fault{
        .kind = capture::ChannelReport::Kind::Fault, .file = "/x.wav", .text = "No space left on device", .error = 28};
    rig.core->OnChannelReport(row.id, fault);
    EXPECT_EQ(rig.core->StateText(row), idle + " — cannot write: No space left on device");
    fault.error = 0;
    rig.core->OnChannelReport(row.id, fault);
    EXPECT_EQ(rig.core->StateText(row), idle);
    capture::ChannelReport stopped{.kind = capture::ChannelReport::Kind::Stopped, .lostSeconds = 7.2};
    rig.core->OnChannelReport(row.id, stopped);
    EXPECT_EQ(rig.core->StateText(row), idle + " — lost 8 s");
    stopped.outcome = capture::RecordOutcome::NoFile;
    rig.core->OnChannelReport(row.id, stopped);
    EXPECT_EQ(rig.core->StateText(row), idle + " — file not written");
}

TEST(WriteFaults, ASidecarThatCannotBeWrittenIsShownAndItsRecordingLeftAlone) {
    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0", "SIDECAR=1", "[Channels1]", "CompressMode1=0"});
    rig.start();
    const int id = rig.core->Row(1)->id;
    fs::create_directory(rig.dir.path() / "blocked.wav.json");  // a folder in the second sidecar's place
    for (const char* name : {"fine.wav", "blocked.wav"}) {
        const std::string file = (rig.dir.path() / name).string();
        std::ofstream(file) << "RIFF";
        rig.core->OnChannelReport(id, {.kind = capture::ChannelReport::Kind::Started, .file = file});
        rig.core->OnChannelReport(id, {.kind = capture::ChannelReport::Kind::Stopped, .file = file});
    }
    EXPECT_TRUE(fs::is_regular_file(rig.dir.path() / "fine.wav.json"));
    EXPECT_TRUE(fs::is_regular_file(rig.dir.path() / "blocked.wav"));
    const auto shown = rig.messages.messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Cannot write " + (rig.dir.path() / "blocked.wav.json").string() + ": ", 0), 0u)
        << shown[0];
}

TEST(FreeSpaceKeeper, DeletesTheOldestRecordingsUntilTheTargetIsMetAndLeavesFreshOnes) {
    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    // 1e12 bytes on the disk and 1 % to keep free: 1e10. The disk has 1e10 - 2.5 MB free, and
    // each deleted recording gives back its 1 MB.
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[Disk]", "CHECKspace=1", "FreeSpace=1", "[Channels1]", "CompressMode1=1"});
    const fs::path folder = rig.files.programFolder / "SOUND" / "1";
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (int age : {40, 30, 20, 10, 0}) {  // days old; the last one was written just now
        files.push_back(folder / ("r" + std::to_string(age) + ".mp3"));
        std::ofstream(files.back()) << std::string(1'000'000, 'x');
        fs::last_write_time(files.back(), fs::file_time_type::clock::now() - std::chrono::hours(24 * age));
    }
    std::atomic<int> deleted{0};
    rig.configure = [&](CoreServices& s) {
        s.freeBytes = [&, folder](const fs::path&) {
            int gone = 0;
            for (const auto& f : files) gone += !fs::exists(f);
            deleted = gone;
            return std::optional<double>(1e10 - 2.5e6 + 1e6 * gone);
        };
    };
    rig.start();
    for (int i = 0; i < 20 && deleted < 3; ++i) {
        rig.ticks(AppCore::kSlowTicks);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the keeper runs on its own thread
    }
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(fs::exists(files[i]), i >= 3) << files[i];
}

}  // namespace
}  // namespace kestavo::app
