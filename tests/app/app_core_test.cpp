// The application core: start-up passes, the timer's second work (Max_Time, schedules), the
// channels' reports and captions, the command-line switches, start-up repair and an orderly shutdown.
#include <gtest/gtest.h>

#include <fstream>

#include "app_fixture.h"
#include "config/ini_file.h"
#include "support/channel_fixture.h"
#include "support/file_text.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;
using Kind = capture::ChannelReport::Kind;

namespace {

// One mono line, WAV files, no day folders, channel 1 with `key` as given.
void oneChannel(CoreRig& rig, const std::string& key = "") {
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", key});
}

}  // namespace

TEST(MaxTime, StopsAtTheSecondTickThatReachesTheLimitAndZeroNeverStops) {
    // Max_Time in minutes, seconds recorded, then whether it still records and the time shown.
    const std::tuple<int, int, bool, std::string> cases[] = {
        {15, 15 * 60 - 1, true, "0:14:59"}, {15, 15 * 60, false, ""}, {0, 2 * 3600, true, "2:00:00"}};
    for (const auto& [minutes, seconds, recording, shown] : cases) {
        CoreRig rig;
        oneChannel(rig, "Max_Time1=" + std::to_string(minutes));
        rig.start();
        rig.ticks(AppCore::kSecondTicks);  // the recording starts on a second tick
        rig.core->RecordButton(1);
        auto* row = rig.core->Row(1);
        rig.ticks(seconds * AppCore::kSecondTicks);
        EXPECT_EQ(std::tuple(row->Channel()->Recording(), row->Recording(), row->durationText),
                  std::tuple(recording, recording, shown))
            << minutes << " min, " << seconds << " s";
    }
}

TEST(ChannelReports, RowStateCaptionsAndTrayFollowTheChannelAndALanguageSwitchResetsTheButton) {
    CoreRig rig;
    oneChannel(rig);
    fs::copy_file(fs::path(KESTAVO_SOURCE_DIR) / "data" / "English.txt", rig.files.programFolder / "English.txt");
    rig.start();
    auto* row = rig.core->Row(1);
    const auto& core = *rig.core;
    auto state = [&] {  // recording, the record button, the state cell, the tray
        return std::to_string(row->Recording()) + "|" + core.RecordButtonText(*row) + "|" + core.StateText(*row) + "|" +
            core.TrayTip();
    };
    EXPECT_EQ(state(), "0| RECORD| STOP|Kestavo software. Waiting");
    rig.ticks(7);
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_EQ(state(), "1| STOP| RECORD|Kestavo software. Recording");
    ASSERT_EQ(rig.activity.size(), 1u);
    EXPECT_EQ(std::pair(rig.activity[0].report.cause, fs::path(rig.activity[0].report.file).filename().string()),
              std::pair(capture::RecordCause::Operator, std::string("05_12_2026 16_05_09_1.wav")));
    rig.core->OnChannelReport(row->id,
                              {.kind = Kind::Detected, .detection = capture::DetectionKind::Dtmf, .text = "123456"});
    EXPECT_EQ(row->detectionText, "123456");
    // A language switch shows text 26 (start) on the button while the channel still records;
    // pressing it offers a start, which the recording channel refuses: the caption stays.
    rig.core->SetLanguage("English");
    EXPECT_EQ(state(), "1| RECORD| RECORD|Kestavo software. Recording");
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_EQ(state(), "1| RECORD| RECORD|Kestavo software. Recording");
    EXPECT_EQ(rig.activity.back().report.kind, Kind::Detected);  // no second start
    row->recordButton = RecordButtonAction::Stop;
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_EQ(rig.activity.back().report.kind, Kind::Stopped);
    EXPECT_EQ(state(), "0| RECORD| STOP|Kestavo software. Waiting");
}

TEST(StartUp, AFirstPassWithoutChannelRestoresTheBackupAndRunsAgainAndAnIdleScheduleChannelPostsNothing) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    writeIni(rig.files.file, {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=0"});
    writeIni(rig.files.backup,
             {"[DEVICES]", "LOADALL=1", "[MAIN]", "Language=Russian", "[Channels1]", "VOXmode1=3", "auto1=1"});
    rig.start();
    EXPECT_EQ(rig.core->StartupPasses(), 2);
    EXPECT_EQ(rig.core->Rows().size(), 2u);
    EXPECT_EQ(rig.core->Settings().Language, "Russian");
    EXPECT_TRUE(config::IniFile(rig.files.file, '.').readBool("DEVICES", "LOADALL", false));
    // Channel 1 records by the timetable and has no periods: a minute of seconds posts nothing.
    EXPECT_EQ(rig.ticks(60 * AppCore::kSecondTicks), 0u);
    EXPECT_TRUE(rig.activity.empty());

    CoreRig none;  // no sound input at all: two passes, no row, and the timer runs on
    none.start();
    EXPECT_EQ(none.core->StartupPasses(), 2);
    none.ticks(200);
    EXPECT_TRUE(none.core->Rows().empty());
}

TEST(StartUp, AConfigurationThatBuildsNoChannelIsKeptBesideItselfAndTheNoticeSaysWhere) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    writeIni(rig.files.file, {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=-5", "; kept as written"});
    const std::string written = test::readText(rig.files.file);
    rig.start();  // no backup: the second pass runs with the defaults, which open every input
    EXPECT_EQ(rig.core->StartupPasses(), 2);
    EXPECT_EQ(rig.core->Rows().size(), 2u);
    const fs::path kept =
        rig.files.file.parent_path() / "tevra4.ini.unusable-20261205-160509";  // the fake clock's time
    EXPECT_EQ(test::readText(kept), written);
    const auto& notices = rig.core->Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], rig.files.file.string() + " [Channels] MAX: \"-5\" is outside 0..100; using 0");
    EXPECT_NE(notices[1].find("kept as " + kept.string()), std::string::npos) << notices[1];
    EXPECT_NE(notices[1].find("defaults"), std::string::npos) << notices[1];
    EXPECT_TRUE(rig.messages.messages().empty());  // nothing that holds up the start
}

TEST(StartUp, AValueBothLoadsReadIsToldOnceAndRepairCoversCustomFoldersButOnlyRecordings) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, false)};
    test::TempDir custom{"kestavo-custom"};
    // Channel 2's folder lies beyond Channels/MAX: with LOADALL the channels built can outnumber it.
    writeIni(rig.files.file,
             {"[DEVICES]", "LOADALL=1", "[Channels]", "MAX=1", "[Channels1]", "MP3Bitrate1=20", "Pred_Time1=10000000",
              "[Channels2]", "WAW_PATH2=" + custom.path().string()});
    const auto cut = [](const fs::path& file) {  // a recording the process died writing
        fs::create_directories(file.parent_path());
        test::writeWav16(file, 1, std::vector<std::int16_t>(1000, 7));
        std::ofstream(file, std::ios::app | std::ios::binary) << std::string(200, '\7');
        return test::readText(file);
    };
    const fs::path ours = custom / "05_12_2026" / "16_40_02_1.wav";
    const fs::path foreign = custom / "05_12_2026" / "interview.wav";
    cut(ours);
    const std::string foreignBytes = cut(foreign);
    rig.start();
    ASSERT_FALSE(rig.core->Rows().empty());
    EXPECT_EQ(rig.core->RepairedFiles(), std::vector{ours});
    EXPECT_EQ(test::readText(foreign), foreignBytes);
    ASSERT_EQ(rig.core->SettingsProblems().size(), 2u);
    EXPECT_EQ(rig.core->SettingsProblems()[0].used, "16");
    EXPECT_EQ(rig.core->SettingsProblems()[1].used, "60");
    EXPECT_EQ(rig.core->Notices().size(), 2u);
    // On the way out the values in use replace the texts (a LOADALL channel records MP3 at 32 kbit/s),
    // also where no save writes the key.
    rig.core->Shutdown();
    config::IniFile ini(rig.files.file, '.');
    EXPECT_EQ(std::pair(ini.readString("Channels1", "MP3Bitrate1", ""), ini.readString("Channels1", "Pred_Time1", "")),
              std::pair(std::string("32"), std::string("60")));
}

TEST(StartUp, SwitchesSetTheServerRewriteTheAutostartEntryAGoodConfigurationIsBackedUpAndCutRecordingsRepaired) {
    // The arguments, then the server's ENABLED, NAME and PORT they leave. No server library is in
    // the program folder, so the connect that "-netstart" and "-start" ask for fails and leaves the
    // server off (the connect itself is tested with a library in server_test.cpp).
    const std::tuple<std::vector<std::string>, bool, std::string, std::string> cases[] = {
        {{"-netstart", "-w"}, false, std::string(23, ' '), std::string(12, ' ')},
        {{"-i13"}, false, "Local server", "ptSingleUser"},
        {{"-start"}, false, "Local server", "ptSingleUser"}};
    for (const auto& [args, enabled, name, port] : cases) {
        CoreRig rig;
        rig.input.devices = {device("CardA", true, false)};
        writeIni(rig.files.file, {"[MAIN]", "AUTO=0", "Language=Russian"});
        std::ofstream(rig.files.programFolder / "start.bat") << "x";
        const auto cut = rig.files.programFolder / "SOUND" / "1" / "05_12_2026" / "cut_16_40_02_1.wav";
        fs::create_directories(cut.parent_path());
        test::writeWav16(cut, 1, std::vector<std::int16_t>(1000, 7));
        std::ofstream(cut, std::ios::app | std::ios::binary) << std::string(200, '\7');  // after the last header update
        rig.start(args);
        // Repaired before the channels run and named in a message (the sizes it sets are tested with the repair).
        EXPECT_EQ(rig.core->RepairedFiles(), std::vector{cut});
        EXPECT_EQ(test::completeWavFiles(rig.files.programFolder / "SOUND"), std::vector{cut});
        EXPECT_TRUE(std::ranges::any_of(rig.messages.messages(), [](const std::string& m) {
            return m.find("cut_16_40_02_1.wav") != std::string::npos;
        }));
        EXPECT_EQ(rig.core->StartupPasses(), 1);  // a good configuration, mirrored into the backup
        EXPECT_EQ(config::IniFile(rig.files.backup, '.').readString("MAIN", "Language", ""), "Russian");
        const auto& s = rig.core->Settings();  // AUTO on, the autostart entry rewritten, start.bat gone
        EXPECT_EQ(std::tuple(s.ENABLED, s.NAME, s.PORT, s.AUTO, fs::exists(rig.files.autostartEntry),
                             fs::exists(rig.files.programFolder / "start.bat")),
                  std::tuple(enabled, name, port, true, true, false))
            << args[0];
    }
}

TEST(Shutdown, ChannelsRecordingAtShutdownLeaveCompleteValidFiles) {
    CoreRig rig;
    test::FakeDevice d = device("CardA", true, true);
    d.data.assign(3 * 16384 * 4, std::byte{0x35});  // three buffers of stereo frames
    rig.input.devices = {d};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "[Channels2]", "CompressMode2=0"});
    rig.start();
    ASSERT_TRUE(rig.input.requeued.waitFor(3));  // each buffer queued again was delivered before
    for (int k : {1, 2}) rig.core->RecordButton(k);
    rig.dispatcher.drain();
    rig.core->Setup()->RestartCaptures();  // the line again from its start, now into the recordings
    ASSERT_TRUE(rig.input.requeued.waitFor(6));
    ASSERT_TRUE(rig.pending.waitIdle({}, std::chrono::seconds(20)));
    rig.core->Shutdown();
    EXPECT_TRUE(rig.core->Rows().empty());
    EXPECT_EQ(std::ranges::count(rig.activity, capture::RecordCause::Shutdown,
                                 [](const Activity& a) { return a.report.cause; }),
              2);
    const auto files = test::completeWavFiles(rig.files.programFolder / "SOUND");  // each checked complete
    ASSERT_EQ(files.size(), 2u);
    for (const auto& f : files) EXPECT_GE(test::readWav(f)->dataSize, 3u * 16384 * 2) << f;  // all after the start
}
