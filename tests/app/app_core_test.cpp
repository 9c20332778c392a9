// The application core: start-up passes, the timer's second work (Max_Time, schedules), the
// channels' status texts, the command-line switches, start-up repair and an orderly shutdown.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "app_fixture.h"
#include "config/ini_file.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;

namespace {

constexpr int kTicksPerSecond = 20;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string hms(const platform::LocalTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

// One mono line, WAV files, no day folders, channel 1 keys as given.
void oneChannel(CoreRig& rig, std::vector<std::string> keys) {
    rig.input.devices = {device("Line", true, false)};
    std::vector<std::string> ini{"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0"};
    ini.insert(ini.end(), keys.begin(), keys.end());
    writeIni(rig.files.file, ini);
}

}  // namespace

TEST(MaxTime, FifteenMinutesStopsAtTheFirstSecondTickReachingFifteenMinutes) {
    CoreRig rig;
    oneChannel(rig, {"Max_Time1=15"});
    rig.start();
    rig.ticks(kTicksPerSecond);  // the next second tick comes 20 ticks after the start
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    auto* row = rig.core->Row(1);
    ASSERT_TRUE(row->Recording());
    rig.ticks(15 * 60 * kTicksPerSecond - 1);
    EXPECT_TRUE(row->Channel()->Recording());
    EXPECT_EQ(row->durationText, "0:14:59");
    rig.ticks(1);  // elapsed 0:15:00
    EXPECT_FALSE(row->Channel()->Recording());
    EXPECT_FALSE(row->Recording());
    EXPECT_EQ(row->durationText, "");
}

TEST(MaxTime, ZeroNeverStops) {
    CoreRig rig;
    oneChannel(rig, {"Max_Time1=0"});
    rig.start();
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    rig.ticks(2 * 3600 * kTicksPerSecond);
    EXPECT_TRUE(rig.core->Row(1)->Channel()->Recording());
    EXPECT_EQ(rig.core->Row(1)->durationText, "2:00:00");
}

TEST(Schedule, TimeModeRecordsInsideItsPeriodsAndCutsAtABackToBackBoundary) {
    CoreRig rig;
    oneChannel(rig, {"VOXmode1=3", "auto1=1", "PREFIX1=T_"});
    {
        std::ofstream tim(rig.files.programFolder / "time1.tim", std::ios::binary);
        tim << "16:06:00\t16:07:00\t\r\n16:07:00\t16:08:00\t\r\n";
    }
    rig.start();
    rig.ticks((3 * 60) * kTicksPerSecond);  // 16:05:09 .. 16:08:09
    // The first check inside a period remembers it and answers "stop"; the next one records. At
    // 16:07:00 both periods contain the time: the second becomes the remembered one and stops the
    // recording; 16:07:01 starts the next file. 16:08:01 lies outside both.
    std::vector<std::string> seen;
    for (const auto& a : rig.activity)
        seen.push_back(hms(a.time) + (a.report.kind == capture::ChannelReport::Kind::Started ? " start" : " stop"));
    EXPECT_EQ(seen, (std::vector<std::string>{"16:06:01 start", "16:07:00 stop", "16:07:01 start", "16:08:01 stop"}));
    for (const auto& a : rig.activity) EXPECT_EQ(a.report.cause, capture::RecordCause::Schedule);
    const auto folder = rig.files.programFolder / "SOUND" / "1";
    EXPECT_EQ(namesIn(folder),
              (std::vector<std::string>{"T_05_12_2026 16_06_01_1.wav", "T_05_12_2026 16_07_01_1.wav"}));
}

TEST(Schedule, IdleTimeModeChannelOutsideItsPeriodsDoesNothingEverySecond) {
    CoreRig rig;
    oneChannel(rig, {"VOXmode1=3", "auto1=1"});
    rig.start();
    std::size_t ran = 0;
    for (int i = 0; i < 60 * kTicksPerSecond; ++i) {
        rig.clock.advance(std::chrono::milliseconds(50));
        rig.core->tick();
        ran += rig.dispatcher.drain();
    }
    EXPECT_EQ(ran, 0u);  // no report was ever posted
    EXPECT_TRUE(rig.activity.empty());
    EXPECT_TRUE(namesIn(rig.files.programFolder / "SOUND" / "1").empty());
}

TEST(ChannelReports, RecordingFlagStartTimeCaptionsAndTrayFollowTheChannel) {
    CoreRig rig;
    oneChannel(rig, {});
    fs::copy_file(fs::path(KESTAVO_SOURCE_DIR) / "data" / "English.txt", rig.files.programFolder / "English.txt");
    rig.start();
    auto* row = rig.core->Row(1);
    const auto& core = *rig.core;
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    EXPECT_EQ(core.StateText(*row), " STOP");
    EXPECT_EQ(rig.core->TrayTip(), "Kestavo software. Waiting");
    rig.ticks(7);
    rig.core->RecordButton(1);
    EXPECT_EQ(core.RecordButtonText(*row), " STOP");
    rig.dispatcher.drain();
    EXPECT_TRUE(row->Recording());
    EXPECT_EQ(row->RecordStart(), rig.clock.now());
    EXPECT_EQ(core.StateText(*row), " RECORD");
    EXPECT_EQ(rig.core->TrayTip(), "Kestavo software. Recording");
    ASSERT_EQ(rig.activity.size(), 1u);
    EXPECT_EQ(rig.activity[0].report.cause, capture::RecordCause::Operator);
    EXPECT_EQ(fs::path(rig.activity[0].report.file).filename().string(), "05_12_2026 16_05_09_1.wav");
    capture::ChannelReport detected;
    detected.kind = capture::ChannelReport::Kind::Detected;
    detected.detection = capture::DetectionKind::Dtmf;
    detected.text = "123456";
    rig.core->OnChannelReport(row->id, detected);
    EXPECT_EQ(row->detectionText, "123456");
    // A language switch resets the button to start while the channel still records.
    rig.core->SetLanguage("English");
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    EXPECT_TRUE(row->Recording());
    rig.core->RecordButton(1);  // offers a start: the channel, already recording, refuses it
    rig.dispatcher.drain();
    EXPECT_TRUE(row->Recording());
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    row->recordButton = RecordButtonAction::Stop;
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_FALSE(row->Recording());
    EXPECT_EQ(rig.activity.back().report.kind, capture::ChannelReport::Kind::Stopped);
    EXPECT_EQ(rig.activity.back().report.outcome, capture::RecordOutcome::TooShort);  // under Min_Time
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    EXPECT_EQ(core.StateText(*row), " STOP");
    EXPECT_EQ(rig.core->TrayTip(), "Kestavo software. Waiting");
}

TEST(StartUp, FirstPassWithoutChannelRestoresTheBackupAndRunsAgain) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    writeIni(rig.files.file, {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=0"});
    writeIni(rig.files.backup, {"[DEVICES]", "LOADALL=1", "[MAIN]", "Language=Russian"});
    rig.start();
    EXPECT_EQ(rig.core->StartupPasses(), 2);
    EXPECT_EQ(rig.core->Rows().size(), 2u);
    EXPECT_EQ(rig.core->Settings().Language, "Russian");
    config::IniFile ini(rig.files.file, '.');
    EXPECT_TRUE(ini.readBool("DEVICES", "LOADALL", false));
}

TEST(StartUp, GoodConfigurationIsMirroredIntoTheBackup) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "Language=Russian"});
    rig.start();
    EXPECT_EQ(rig.core->StartupPasses(), 1);
    config::IniFile backup(rig.files.backup, '.');
    EXPECT_EQ(backup.readString("MAIN", "Language", ""), "Russian");
}

TEST(StartUp, NoSoundInputAtAllLeavesAnEmptyRowList) {
    CoreRig rig;
    rig.start();
    EXPECT_EQ(rig.core->StartupPasses(), 2);
    EXPECT_TRUE(rig.core->Rows().empty());
    rig.ticks(200);  // the timer's work runs with no channel
}

TEST(StartUp, SwitchesSetTheServerAndTheAutostartEntry) {
    {
        CoreRig rig;
        rig.input.devices = {device("CardA", true, false)};
        rig.start({"-netstart", "-w"});
        EXPECT_TRUE(rig.core->Settings().ENABLED);
        EXPECT_EQ(rig.core->Settings().NAME, std::string(23, ' '));
        EXPECT_EQ(rig.core->Settings().PORT, std::string(12, ' '));
    }
    {
        CoreRig rig;
        rig.input.devices = {device("CardA", true, false)};
        writeIni(rig.files.file, {"[MAIN]", "AUTO=0"});
        std::ofstream(rig.files.programFolder / "start.bat") << "x";
        rig.start({"-i13"});
        EXPECT_FALSE(rig.core->Settings().ENABLED);
        EXPECT_EQ(rig.core->Settings().NAME, "Local server");
        EXPECT_EQ(rig.core->Settings().PORT, "ptSingleUser");
        EXPECT_TRUE(rig.core->Settings().AUTO);
        EXPECT_TRUE(fs::exists(rig.files.autostartEntry));
        EXPECT_FALSE(fs::exists(rig.files.programFolder / "start.bat"));
    }
    {
        CoreRig rig;
        rig.input.devices = {device("CardA", true, false)};
        rig.start({"-start"});
        EXPECT_TRUE(rig.core->Settings().ENABLED);
        EXPECT_EQ(rig.core->Settings().NAME, "Local server");
    }
}

TEST(StartUp, IncompleteWavRecordingsAreRepairedBeforeTheChannelsRun) {
    CoreRig rig;
    oneChannel(rig, {});
    const auto folder = rig.files.programFolder / "SOUND" / "1" / "05_12_2026";
    fs::create_directories(folder);
    const auto file = folder / "crashed.wav";
    test::writeWav16(file, 1, std::vector<std::int16_t>(1000, 7));
    {
        // The sizes a writer that never updated its header leaves behind: 34 and 0.
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        const std::uint32_t riff = 34, data = 0;
        f.seekp(4);
        f.write(reinterpret_cast<const char*>(&riff), 4);
        f.seekp(40);
        f.write(reinterpret_cast<const char*>(&data), 4);
    }
    rig.start();
    ASSERT_EQ(rig.core->RepairedFiles().size(), 1u);
    const auto wav = test::readWav(file);
    ASSERT_TRUE(wav);
    EXPECT_EQ(wav->dataSize, 2000u);
    EXPECT_EQ(wav->riffSize, 2036u);
    const auto shown = rig.messages.messages();
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(),
                            [](const std::string& m) { return m.find("crashed.wav") != std::string::npos; }));
}

TEST(Shutdown, ChannelsRecordingAtShutdownLeaveCompleteValidFiles) {
    CoreRig rig;
    test::FakeDevice d = device("CardA", true, true);
    std::vector<std::int16_t> frames(3 * 16384 * 2);
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = std::int16_t((i * 37) % 2000 - 1000);
    d.data.resize(frames.size() * 2);
    std::memcpy(d.data.data(), frames.data(), d.data.size());
    rig.input.devices = {d};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "[Channels2]", "CompressMode2=0"});
    rig.start();
    const auto* capture = rig.core->Setup()->CaptureFor(0);
    for (int i = 0; i < 2000 && capture->BuffersDelivered() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(rig.pending.waitIdle({}, std::chrono::seconds(20)));
    rig.core->RecordButton(1);
    rig.core->RecordButton(2);
    rig.dispatcher.drain();
    // The line again from its start, now into the open recordings.
    rig.core->Setup()->RestartCaptures();
    capture = rig.core->Setup()->CaptureFor(0);
    for (int i = 0; i < 2000 && capture->BuffersDelivered() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(rig.pending.waitIdle({}, std::chrono::seconds(20)));
    const std::string f1 = rig.core->Row(1)->currentFile, f2 = rig.core->Row(2)->currentFile;
    rig.core->Shutdown();
    EXPECT_TRUE(rig.core->Rows().empty());
    int closed = 0;
    for (const auto& a : rig.activity) closed += a.report.cause == capture::RecordCause::Shutdown;
    EXPECT_EQ(closed, 2);
    for (const auto& f : {f1, f2}) {
        const auto wav = test::readWav(f);
        ASSERT_TRUE(wav) << f;
        EXPECT_GT(wav->dataSize, 0u);
        EXPECT_EQ(wav->dataSize, wav->bytes.size());
        EXPECT_EQ(wav->riffSize, wav->dataSize + 36);
    }
}
