// The application core: start-up passes, the timer's second work (Max_Time, schedules), the
// channels' reports and captions, the command-line switches, start-up repair and an orderly shutdown.
#include <gtest/gtest.h>

#include <fstream>

#include "app_fixture.h"
#include "support/wav_io.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
namespace fs = std::filesystem;
using Kind = capture::ChannelReport::Kind;

namespace {

constexpr int kTicksPerSecond = 20;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// One mono line, WAV files, no day folders, channel 1 keys as given.
void oneChannel(CoreRig& rig, std::vector<std::string> keys) {
    rig.input.devices = {device("Line", true, false)};
    std::vector<std::string> ini{"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0"};
    ini.insert(ini.end(), keys.begin(), keys.end());
    writeIni(rig.files.file, ini);
}

}  // namespace

TEST(MaxTime, StopsAtTheSecondTickThatReachesTheLimitAndZeroNeverStops) {
    struct Case {
        int minutes, secondsRecorded;
        bool recording;
        const char* shown;
    } const cases[] = {{15, 15 * 60 - 1, true, "0:14:59"}, {15, 15 * 60, false, ""}, {0, 2 * 3600, true, "2:00:00"}};
    for (const auto& c : cases) {
        CoreRig rig;
        oneChannel(rig, {"Max_Time1=" + std::to_string(c.minutes)});
        rig.start();
        rig.ticks(kTicksPerSecond);  // the recording starts on a second tick
        rig.core->RecordButton(1);
        rig.dispatcher.drain();
        auto* row = rig.core->Row(1);
        ASSERT_TRUE(row->Recording());
        rig.ticks(c.secondsRecorded * kTicksPerSecond);
        EXPECT_EQ(row->Channel()->Recording(), c.recording) << c.minutes << " " << c.secondsRecorded;
        EXPECT_EQ(row->Recording(), c.recording) << c.minutes << " " << c.secondsRecorded;
        EXPECT_EQ(row->durationText, c.shown);
    }
}

TEST(Schedule, TimeModeRecordsInsideItsPeriodsCutsAtABackToBackBoundaryAndIsQuietOutside) {
    CoreRig rig;
    oneChannel(rig, {"VOXmode1=3", "auto1=1", "PREFIX1=T_"});
    std::ofstream(rig.files.programFolder / "time1.tim", std::ios::binary)
        << "16:06:00\t16:07:00\t\r\n16:07:00\t16:08:00\t\r\n";
    rig.start();
    EXPECT_EQ(rig.ticks(50 * kTicksPerSecond), 0u);  // up to 16:05:59 no channel posts anything
    rig.ticks(130 * kTicksPerSecond);                // up to 16:08:09
    // The first check inside a period remembers it and answers "stop"; the next one records. At
    // 16:07:00 both periods contain the time: the second becomes the remembered one and stops the
    // recording; 16:07:01 starts the next file. 16:08:01 lies outside both.
    std::vector<std::string> seen;
    for (const auto& a : rig.activity) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %s", a.time.hour, a.time.minute, a.time.second,
                      a.report.kind == Kind::Started ? "start" : "stop");
        seen.push_back(buf);
        EXPECT_EQ(a.report.cause, capture::RecordCause::Schedule);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"16:06:01 start", "16:07:00 stop", "16:07:01 start", "16:08:01 stop"}));
    EXPECT_EQ(namesIn(rig.files.programFolder / "SOUND" / "1"),
              (std::vector<std::string>{"T_05_12_2026 16_06_01_1.wav", "T_05_12_2026 16_07_01_1.wav"}));
}

TEST(ChannelReports, RowStateCaptionsAndTrayFollowTheChannelAndALanguageSwitchResetsTheButton) {
    CoreRig rig;
    oneChannel(rig, {});
    fs::copy_file(fs::path(KESTAVO_SOURCE_DIR) / "data" / "English.txt", rig.files.programFolder / "English.txt");
    rig.start();
    auto* row = rig.core->Row(1);
    const auto& core = *rig.core;
    auto captions = [&] { return core.RecordButtonText(*row) + "|" + core.StateText(*row) + "|" + core.TrayTip(); };
    EXPECT_EQ(captions(), " RECORD| STOP|Kestavo software. Waiting");
    rig.ticks(7);
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_TRUE(row->Recording());
    EXPECT_EQ(captions(), " STOP| RECORD|Kestavo software. Recording");
    ASSERT_EQ(rig.activity.size(), 1u);
    EXPECT_EQ(rig.activity[0].report.cause, capture::RecordCause::Operator);
    EXPECT_EQ(fs::path(rig.activity[0].report.file).filename().string(), "05_12_2026 16_05_09_1.wav");
    rig.core->OnChannelReport(row->id,
                              {.kind = Kind::Detected, .detection = capture::DetectionKind::Dtmf, .text = "123456"});
    EXPECT_EQ(row->detectionText, "123456");
    // A language switch shows text 26 (start) on the button while the channel still records;
    // pressing it offers a start, which the recording channel refuses: the caption stays.
    rig.core->SetLanguage("English");
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_TRUE(row->Recording());
    EXPECT_EQ(rig.activity.back().report.kind, Kind::Detected);  // no second start
    EXPECT_EQ(core.RecordButtonText(*row), " RECORD");
    row->recordButton = RecordButtonAction::Stop;
    rig.core->RecordButton(1);
    rig.dispatcher.drain();
    EXPECT_FALSE(row->Recording());
    EXPECT_EQ(rig.activity.back().report.kind, Kind::Stopped);
    EXPECT_EQ(rig.activity.back().report.outcome, capture::RecordOutcome::TooShort);  // under Min_Time
    EXPECT_EQ(captions(), " RECORD| STOP|Kestavo software. Waiting");
}

TEST(StartUp, AGoodConfigurationIsMirroredIntoTheBackupAFirstPassWithoutChannelRestoresIt) {
    CoreRig good;
    good.input.devices = {device("CardA", true, false)};
    writeIni(good.files.file, {"[MAIN]", "Language=Russian"});
    good.start();
    EXPECT_EQ(good.core->StartupPasses(), 1);
    EXPECT_EQ(config::IniFile(good.files.backup, '.').readString("MAIN", "Language", ""), "Russian");

    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    writeIni(rig.files.file, {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=0"});
    writeIni(rig.files.backup, {"[DEVICES]", "LOADALL=1", "[MAIN]", "Language=Russian"});
    rig.start();
    EXPECT_EQ(rig.core->StartupPasses(), 2);
    EXPECT_EQ(rig.core->Rows().size(), 2u);
    EXPECT_EQ(rig.core->Settings().Language, "Russian");
    EXPECT_TRUE(config::IniFile(rig.files.file, '.').readBool("DEVICES", "LOADALL", false));

    CoreRig none;  // no sound input at all: two passes, no row, and the timer runs on
    none.start();
    EXPECT_EQ(none.core->StartupPasses(), 2);
    none.ticks(200);
    EXPECT_TRUE(none.core->Rows().empty());
}

TEST(StartUp, SwitchesSetTheServerAndRewriteTheAutostartEntry) {
    struct Case {
        std::vector<std::string> args;
        bool enabled;
        std::string name, port;
    } const cases[] = {{{"-netstart", "-w"}, true, std::string(23, ' '), std::string(12, ' ')},
                       {{"-i13"}, false, "Local server", "ptSingleUser"},
                       {{"-start"}, true, "Local server", "ptSingleUser"}};
    for (const auto& c : cases) {
        CoreRig rig;
        rig.input.devices = {device("CardA", true, false)};
        writeIni(rig.files.file, {"[MAIN]", "AUTO=0"});
        std::ofstream(rig.files.programFolder / "start.bat") << "x";
        rig.start(c.args);
        const auto& s = rig.core->Settings();
        EXPECT_EQ(s.ENABLED, c.enabled) << c.args[0];
        EXPECT_EQ(s.NAME, c.name) << c.args[0];
        EXPECT_EQ(s.PORT, c.port) << c.args[0];
        EXPECT_TRUE(s.AUTO) << c.args[0];
        EXPECT_TRUE(fs::exists(rig.files.autostartEntry)) << c.args[0];
        EXPECT_FALSE(fs::exists(rig.files.programFolder / "start.bat")) << c.args[0];
    }
}

TEST(StartUp, IncompleteWavRecordingsAreRepairedBeforeTheChannelsRun) {
    CoreRig rig;
    oneChannel(rig, {});
    const auto folder = rig.files.programFolder / "SOUND" / "1" / "05_12_2026";
    fs::create_directories(folder);
    const auto file = folder / "crashed.wav";
    test::writeWav16(file, 1, std::vector<std::int16_t>(1000, 7));
    const std::uint32_t riff = 34, data = 0;  // what a writer that never updated its header leaves
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary)
        .seekp(4)
        .write(reinterpret_cast<const char*>(&riff), 4)
        .seekp(40)
        .write(reinterpret_cast<const char*>(&data), 4);
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
    std::vector<std::int16_t> frames(3 * 16384 * 2);  // three buffers of stereo frames
    for (std::size_t i = 0; i < frames.size(); ++i) frames[i] = std::int16_t((i * 37) % 2000 - 1000);
    d.data.resize(frames.size() * 2);
    std::memcpy(d.data.data(), frames.data(), d.data.size());
    rig.input.devices = {d};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "[Channels2]", "CompressMode2=0"});
    rig.start();
    // Each buffer queued again was delivered before; then the channel threads finish the blocks.
    ASSERT_TRUE(rig.watched.requeued.waitFor(3));
    ASSERT_TRUE(rig.pending.waitIdle({}, std::chrono::seconds(20)));
    rig.core->RecordButton(1);
    rig.core->RecordButton(2);
    rig.dispatcher.drain();
    rig.core->Setup()->RestartCaptures();  // the line again from its start, now into the recordings
    ASSERT_TRUE(rig.watched.requeued.waitFor(6));
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
        EXPECT_GE(wav->dataSize, 3u * 16384 * 2) << f;  // at least what the line gave after the start
        EXPECT_EQ(wav->dataSize, wav->bytes.size());
        EXPECT_EQ(wav->riffSize, wav->dataSize + 36);
    }
}
