// The channel settings window's model over a real row and channel: what Load shows, the controls
// that act at once (seen in what the channel then detects and records), the confirmation's ordered
// steps with their messages, the keys it writes, the schedule and control list files, plug-ins and
// the bit rate the encoder really uses.
#include <gtest/gtest.h>

#include <fstream>

#include "app/channel_dialog.h"
#include "config/ini_file.h"
#include "config/language_table.h"
#include "config/schedule.h"
#include "recording/mp3_writer.h"
#include "support/channel_fixture.h"
#include "support/core_services.h"
#include "support/file_text.h"

using namespace kestavo;
using namespace kestavo::app;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Kind = capture::ChannelEvent::Kind;
using test::Signal;

namespace {

class ChannelDialogTest : public test::ChannelFixture {
protected:
    config::GeneralSettings general;
    config::ConfigFiles files;
    std::unique_ptr<Tkanal> row;

    // Channel 1 (WAV files unless `compressMode` is 1) with every setting away from the dialog's
    // new values, the language tables beside the program.
    void SetUp() override { build(0); }
    void build(int compressMode, char separator = '.') {
        row.reset();
        files = test::filesIn(dir.path());
        files.programFolder = dir.path();
        files.decimalSeparator = separator;
        (void)config::InstallLanguageTables(fs::path(KESTAVO_SOURCE_DIR) / "data", files.programFolder);
        general.Language = "English";
        RowPlan plan;
        plan.compressMode = compressMode;
        plan.name = "Line";
        auto e = env();
        row = std::make_unique<Tkanal>(plan, e, globals());
        config::ChannelSettings s;
        s.recordDir = (dir / "SOUND").string();
        s.compressMode = compressMode;
        s.callerId = s.pulseDetector = s.dtmf = false;
        s.detectOnlyWhileRecording = false;
        s.minTimeSeconds = 0;
        row->ApplySettings(s);
    }
    ChannelDialogModel loaded() {
        ChannelDialogModel m(*row, general, files);
        m.Load(1);
        return m;
    }
    // Every waiting field set away from the row's values.
    static void fillNewValues(ChannelDialogModel& m) {
        auto& f = m.fields;
        f.uncompressed = false, f.bits = "8", f.bitrate = "64", f.quality = "HIGH QUALITY";
        f.k1 = "2.50", f.k2 = "6.25", f.maxMinutes = "20", f.preRecordSeconds = "3", f.minSeconds = "7";
        f.compressor = f.agc = f.combined = true;
        f.prefix = "P-";
    }
    std::string key(const std::string& name) {
        config::IniFile ini(files.file, files.decimalSeparator);
        return ini.readString("Channels1", name + "1", "<none>");
    }
};

Signal dtmfLine(std::string_view keys) {
    Signal s = test::dtmfNumber(keys, -10.0, 80.0, 80.0);
    test::append(s, test::silence(test::samplesOf(7000.0)));  // the number is handed over after 6.45 s of quiet
    return s;
}
Signal aonLine(std::string_view symbols) {
    Signal s = test::aonSymbols(symbols, 0.1, 40.0);
    test::append(s, test::silence(test::samplesOf(1000.0)));
    return s;
}

}  // namespace

TEST_F(ChannelDialogTest, LoadShowsTheRowsValuesAndTheSlidersStoreWholeTenthsBackIntoTheRow) {
    auto s = row->Settings();
    s.k1 = 1.8, s.k2 = 7.6, s.filePrefix = "pre", s.minTimeSeconds = 4, s.maxTimeMinutes = 12, s.preRecordSeconds = 6;
    s.startDelaySeconds = 0.05, s.stopDelaySeconds = 12.34;  // below the start slider, between tenths
    s.recordMode = 3, s.fileBits = 8, s.mp3Bitrate = 40, s.mp3Quality = 2, s.agc = true, s.combined = true;
    row->KeepSettings(s);
    const auto m = loaded();
    const auto& f = m.fields;
    EXPECT_EQ((Strings{f.groupCaption, f.folder, f.k1, f.k2, f.prefix, f.minSeconds, f.maxMinutes, f.preRecordSeconds,
                       f.startDelay, f.stopDelay, f.bitrate, f.quality, f.bits}),
              (Strings{"Settings of channel 1", (dir / "SOUND").string(), "1.80", "7.60", "pre", "4", "12", "6", "0.2",
                       "12.3", "40", "LOW QUALITY", "8"}));
    EXPECT_EQ((std::vector<int>{f.recordMode, f.startDelayPosition, f.stopDelayPosition, f.uncompressed, f.agc,
                                f.combined, f.callerId}),
              (std::vector<int>{3, 2, 123, 1, 1, 1, 0}));
    EXPECT_DOUBLE_EQ(row->Settings().startDelaySeconds, 0.2);
    EXPECT_DOUBLE_EQ(row->Settings().stopDelaySeconds, 12.3);
    EXPECT_EQ(m.EffectiveBitrate(), 40);
}

TEST_F(ChannelDialogTest, WithTheServerInUseTheFolderShowsTheServersTextAndCannotBeChosenOrWritten) {
    general.ENABLED = true;
    auto m = loaded();
    EXPECT_EQ(m.fields.folder, "Folder set by the server");
    m.LoadCaptions("Russian");
    EXPECT_EQ(m.fields.folder, "Папка задается сервером");
    EXPECT_FALSE(m.FolderChoosable());
    m.ChooseFolder((dir / "ELSEWHERE").string());
    EXPECT_EQ(m.fields.folder, "Папка задается сервером");
    EXPECT_TRUE(m.Confirm().completed);
    EXPECT_EQ(key("WAW_PATH"), "<none>");
    EXPECT_EQ(key("exp"), "0");  // the other keys are written
    EXPECT_EQ(row->Channel()->RecordDir(), (dir / "SOUND").string());
}

TEST_F(ChannelDialogTest, CaptionsComeFromTheLanguageTableAndSwitchWithIt) {
    auto m = loaded();
    EXPECT_EQ((Strings{m.Caption(41), m.Caption(54), m.Caption(69), m.Caption(134), m.fields.groupCaption}),
              (Strings{"Settings", "ENTER", "Level", "Time", "Settings of channel 1"}));
    m.LoadCaptions("Russian");
    EXPECT_EQ((Strings{m.Caption(41), m.Caption(54), m.Caption(69), m.Caption(134), m.fields.groupCaption}),
              (Strings{"Установки", "ВВОД", "Уровню", "Времени", "Установки канала 1"}));
    m.LoadCaptions("Klingon");  // no table: the window keeps its own texts
    EXPECT_EQ(m.Caption(41), "");
    EXPECT_EQ(m.fields.groupCaption, "Установки канала 1");
    EXPECT_EQ(ControlListText::Caption("Russian", 3), "Включение записи по ID для канала 3");
    EXPECT_EQ(ControlListText::Caption("English", 3), "Start recording while ID detected 3");
}

TEST_F(ChannelDialogTest, EachDetectorSwitchReachesTheChannelAtOnce) {
    struct Case {
        const char* name;
        void (ChannelDialogModel::*set)(bool);
        Signal line;
        Kind kind;
        std::string expected;
    };
    const Case cases[] = {
        {"DTMF", &ChannelDialogModel::SetDtmf, dtmfLine("4951"), Kind::Dtmf, "4951"},
        {"pulse", &ChannelDialogModel::SetPulse, test::pulseDialLine({2, 7}), Kind::Pulse, "27"},
        {"caller ID", &ChannelDialogModel::SetCallerId, aonLine("H12345679H1"), Kind::Aon, "765432"},
    };
    auto m = loaded();
    auto* channel = row->Channel();
    const auto arm = [&] {  // a pulse number counts once after a recording's start or stop
        ASSERT_TRUE(channel->RecordNow());
        channel->StopRecord();
    };
    for (const Case& c : cases) {
        (m.*c.set)(false);
        arm();
        process(*channel, c.line);
        EXPECT_EQ(texts(c.kind), Strings{}) << c.name << " off";
        (m.*c.set)(true);
        arm();
        process(*channel, c.line);
        EXPECT_EQ(texts(c.kind), Strings{c.expected}) << c.name << " on";
        (m.*c.set)(false);
    }
    const auto s = row->Settings();  // the row keeps what the switches said, for the next save
    EXPECT_EQ((std::vector<int>{s.dtmf, s.pulseDetector, s.callerId}), (std::vector<int>{0, 0, 0}));
}

TEST_F(ChannelDialogTest, DetectorsOnlyWhileRecordingSilencesAnIdleChannelAtOnce) {
    auto m = loaded();
    m.SetDtmf(true);
    m.SetDetectOnlyWhileRecording(true);
    process(*row->Channel(), dtmfLine("4951"));
    EXPECT_EQ(texts(Kind::Dtmf), Strings{});
    m.SetDetectOnlyWhileRecording(false);
    process(*row->Channel(), dtmfLine("4951"));
    EXPECT_EQ(texts(Kind::Dtmf), Strings{"4951"});
    EXPECT_FALSE(row->Settings().detectOnlyWhileRecording);
}

TEST_F(ChannelDialogTest, RecordModeActsAtOnceAndTheDelaySlidersOnlyOnTheRowUntilConfirmed) {
    auto m = loaded();
    for (int mode : {1, 2, 3, 0}) {
        m.SetRecordMode(mode);
        EXPECT_EQ(int(row->Channel()->Mode()), mode);
        EXPECT_EQ(row->Settings().recordMode, mode);
    }
    m.SetRecordMode(4);  // not an item: nothing changes
    EXPECT_EQ(int(row->Channel()->Mode()), 0);
    m.SetStartDelayPosition(7);
    m.SetStopDelayPosition(250);  // beyond the slider: its end
    EXPECT_EQ(std::pair(m.fields.startDelay, m.fields.stopDelay), std::pair(std::string("0.7"), std::string("20.0")));
    EXPECT_DOUBLE_EQ(row->Settings().startDelaySeconds, 0.7);
    EXPECT_DOUBLE_EQ(row->Settings().stopDelaySeconds, 20.0);
}

TEST_F(ChannelDialogTest, ApplyStopsAtTheFirstUnreadableFieldKeepingTheStepsBeforeIt) {
    // The field made unreadable, the message (the Russian window), and what was applied: compression
    // mode, bits, bit rate, K1, K2, maximum, pre-record, minimum, compressor, prefix; "-" unchanged.
    struct Case {
        std::string ChannelDialogFields::*field;
        const char* message;
        Strings applied;
    };
    const Case cases[] = {
        {&ChannelDialogFields::bits,
         "Ошибка в числе битов на отсчет",
         {"1", "-", "-", "-", "-", "-", "-", "-", "-", "-"}},
        {&ChannelDialogFields::k1, "Ошибка в значении К1", {"1", "8", "64", "-", "-", "-", "-", "-", "-", "-"}},
        {&ChannelDialogFields::k2, "Ошибка в значении К2", {"1", "8", "64", "2.5", "-", "-", "-", "-", "-", "-"}},
        {&ChannelDialogFields::maxMinutes,
         "Ошибка в значении максимального времени записи",
         {"1", "8", "64", "2.5", "6.25", "-", "-", "-", "-", "-"}},
        {&ChannelDialogFields::preRecordSeconds,
         "Ошибка в значении буфера до записи",
         {"1", "8", "64", "2.5", "6.25", "20", "-", "-", "-", "-"}},
        {&ChannelDialogFields::minSeconds,
         "Ошибка в минимальном времени записи",
         {"1", "8", "64", "2.5", "6.25", "20", "3", "-", "-", "-"}},
    };
    for (const Case& c : cases) {
        build(0);
        general.Language = "Russian";
        fs::remove(files.file);
        const auto before = row->Settings();
        auto m = loaded();
        fillNewValues(m);
        m.fields.*c.field = "1x";
        const ApplyResult r = m.Apply();
        ASSERT_EQ(r.notes.size(), 1u) << c.message;
        EXPECT_EQ(r.notes[0].text, c.message);
        EXPECT_FALSE(r.completed);
        const auto s = row->Settings();
        auto shown = [](bool changed, const std::string& v) { return changed ? v : std::string("-"); };
        char k1[16], k2[16];
        std::snprintf(k1, sizeof k1, "%g", s.k1), std::snprintf(k2, sizeof k2, "%g", s.k2);
        EXPECT_EQ((Strings{shown(s.compressMode != before.compressMode, std::to_string(s.compressMode)),
                           shown(s.fileBits != before.fileBits, std::to_string(s.fileBits)),
                           shown(s.mp3Bitrate != before.mp3Bitrate, std::to_string(s.mp3Bitrate)),
                           shown(s.k1 != before.k1, k1), shown(s.k2 != before.k2, k2),
                           shown(s.maxTimeMinutes != before.maxTimeMinutes, std::to_string(s.maxTimeMinutes)),
                           shown(s.preRecordSeconds != before.preRecordSeconds, std::to_string(s.preRecordSeconds)),
                           shown(s.minTimeSeconds != before.minTimeSeconds, std::to_string(s.minTimeSeconds)),
                           shown(s.compressor != before.compressor, "on"),
                           shown(s.filePrefix != before.filePrefix, s.filePrefix)}),
                  c.applied)
            << c.message;
        EXPECT_FALSE(fs::exists(files.file)) << c.message;  // the keys are written after the last check
    }
}

TEST_F(ChannelDialogTest, ABitRateThatIsNoNumberBecomesSixteenAndTheApplyGoesOn) {
    general.Language = "Russian";
    auto m = loaded();
    fillNewValues(m);
    m.fields.bitrate = "abc";
    const ApplyResult r = m.Apply();
    EXPECT_EQ(r.notes, (std::vector<DialogNote>{{DialogMessage::BitrateError, "Ошибка в значении Bitrate"}}));
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(m.fields.bitrate, "16");
    const auto s = row->Settings();
    EXPECT_EQ((std::vector<int>{s.mp3Bitrate, s.mp3Quality, s.compressMode, s.minTimeSeconds, s.compressor}),
              (std::vector<int>{16, 3, 1, 7, 1}));
    EXPECT_EQ((Strings{key("Min_Time"), key("PREFIX"), key("K1_"), key("exp")}), (Strings{"7", "P-", "2.5", "1"}));
}

TEST_F(ChannelDialogTest, KOneWithAPointWhereTheSystemWritesACommaIsAnError) {
    build(0, ',');
    auto m = loaded();
    EXPECT_EQ(m.fields.k1, "1,80");
    fillNewValues(m);
    m.fields.k1 = "1.8";
    const ApplyResult r = m.Apply();
    EXPECT_EQ(r.notes, (std::vector<DialogNote>{{DialogMessage::K1Error, "Error in K1"}}));
    EXPECT_EQ(row->Settings().maxTimeMinutes, 15);  // not applied
    m.fields.k1 = "2,50";
    m.fields.k2 = "6,25";
    EXPECT_TRUE(m.Apply().completed);
    EXPECT_DOUBLE_EQ(row->Settings().k1, 2.5);
    EXPECT_EQ(key("K1_"), "2,5");
}

TEST_F(ChannelDialogTest, TheEnterButtonAndTheClosingThatFollowsShowAMessageOnce) {
    auto m = loaded();
    m.fields.k1 = "x";
    EXPECT_EQ(m.Confirm().notes.size(), 1u);
    EXPECT_TRUE(m.Closing().notes.empty());
    auto closedByTheBox = loaded();
    closedByTheBox.fields.k1 = "x";
    EXPECT_EQ(closedByTheBox.Closing().notes.size(), 1u);
}

TEST_F(ChannelDialogTest, ConfirmWritesTheChannelsKeysAndHandsEverythingToTheChannel) {
    auto m = loaded();
    fillNewValues(m);
    m.SetRecordMode(1);
    m.SetStartDelayPosition(5);
    m.SetStopDelayPosition(35);
    m.SetPulse(true);
    m.ChooseFolder((dir / "CHOSEN").string());
    const ApplyResult r = m.Confirm();
    EXPECT_TRUE(r.notes.empty());
    EXPECT_TRUE(r.completed);
    EXPECT_EQ((Strings{key("WAW_PATH"), key("exp"), key("AGC"), key("Pulse"), key("K1_"), key("K2_"), key("zad_rec"),
                       key("zad_stop"), key("Max_Time"), key("PREFIX"), key("Pred_Time"), key("AON"), key("DTMF"),
                       key("Min_Time"), key("VOXmode"), key("PulseREC"), key("ComboRec")}),
              (Strings{(dir / "CHOSEN").string(), "1", "1", "1", "2.5", "6.25", "0.5", "3.5", "20", "P-", "3", "0", "0",
                       "7", "1", "0", "1"}));
    config::IniFile ini(files.file, '.');
    EXPECT_EQ(ini.readString("DEVICES", "LOADALL", "<none>"), "1");
    auto* c = row->Channel();
    EXPECT_EQ(c->RecordDir(), (dir / "CHOSEN").string());
    EXPECT_EQ(c->Format(), recording::FileFormat::Mp3);
    EXPECT_EQ(fs::path(c->MakeFileName()).filename().string().rfind("P-", 0), 0u);
    EXPECT_EQ(row->Settings().filePrefix, "P-");
}

TEST_F(ChannelDialogTest, ThePreRecordHoldsAfterTheSwitchToAnotherFormat) {
    build(1);  // MP3 at first
    auto m = loaded();
    m.fields.uncompressed = true;
    m.fields.preRecordSeconds = "2";
    ASSERT_TRUE(m.Confirm().completed);
    auto* c = row->Channel();
    ASSERT_EQ(c->Format(), recording::FileFormat::Wav);
    process(*c, test::tone(1000.0, 0.25, test::samplesOf(4000.0)));  // 4 s of sound before the start
    ASSERT_TRUE(c->RecordNow());
    const auto file = c->OpenFileName();
    c->StopRecord();
    EXPECT_EQ(test::readWav(file).value_or(test::WavData{}).samples16().size(), std::size_t(2 * kLineRate));  // 2 s
}

TEST_F(ChannelDialogTest, PeriodsAreCheckedAddedRemovedAndCutThroughTheScheduleFile) {
    auto m = loaded();
    using M = DialogMessage;
    const std::tuple<const char*, const char*, std::optional<M>> adds[] = {
        {"10:00", "10:00", std::nullopt},      {"11:00", "10:00", M::StartAfterStop},
        {"1x:00", "12:00", M::StartTimeError}, {"__:__", "12:00", M::StartTimeError},
        {"9:30", " 7:6_", M::StopTimeError},   {"24:00", "24:00", M::StartTimeError},
        {" 9:30", "17:45", std::nullopt},
    };
    for (const auto& [start, stop, message] : adds) {
        const auto note = m.AddPeriod(start, stop);
        EXPECT_EQ(note ? std::optional(note->kind) : std::nullopt, message) << start << "-" << stop;
    }
    EXPECT_EQ(m.AddPeriod("11:00", "10:00")->text, "Start time > stop time!");
    EXPECT_EQ(m.AddPeriod("x", "10:00")->text, "Error in start time");
    EXPECT_EQ(m.AddPeriod("10:00", "x")->text, "Error in stop time");
    using Rows = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(m.Periods(), (Rows{{"10:00:00", "10:00:00"}, {"9:30:00", "17:45:00"}}));
    EXPECT_EQ(test::readText(dir / "time1.tim"), "10:00:00\t10:00:00\t\r\n9:30:00\t17:45:00\t\r\n");

    EXPECT_EQ(m.RemovePeriod("10:00:00", "1x:00")->text, "Error!");
    EXPECT_FALSE(m.RemovePeriod("10:00:00", "10:00:00"));
    EXPECT_EQ(test::readText(dir / "time1.tim"), "9:30:00\t17:45:00\t\r\n");

    EXPECT_EQ(m.Cut("x1")->text, "x1 is not a digit!");
    EXPECT_EQ(m.Cut("0")->text, "0 minutes not alloyed !");
    EXPECT_EQ(m.Periods().size(), 1u);
    EXPECT_FALSE(m.Cut("60"));
    const auto cut = m.Periods();
    ASSERT_EQ(cut.size(), 24u);
    EXPECT_EQ(cut.front(), (std::pair<std::string, std::string>("0:00:00", "1:00:00")));
    EXPECT_EQ(cut.back(), (std::pair<std::string, std::string>("23:00:00", "24:00:00")));
    EXPECT_FALSE(m.RemovePeriod(cut.back().first, cut.back().second));  // a stop at midnight is found again
    config::Tperiods reread(1, dir.path());                             // what the file now says
    EXPECT_EQ(reread.FillList(), m.Periods());
    EXPECT_EQ(reread.periods().size(), 23u);
}

TEST_F(ChannelDialogTest, AnEditedControlListAndAnAddedPlugInStartRecordingByIdentifier) {
    fs::create_directories(dir / "PLUGINS");
    fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg");
    auto m = loaded();
    const auto catalogue = m.PluginCatalogue();
    ASSERT_EQ(catalogue.size(), 1u);
    EXPECT_EQ(catalogue[0].size(), 3u);
    EXPECT_EQ(catalogue[0][0], "demod.plg");
    m.AddPlugin(catalogue[0][0]);
    EXPECT_EQ(m.ChannelPlugins(), Strings{"demod.plg"});
    m.SetRecordMode(2);
    // The plug-in reports "84951234567" with a start for samples of +0.75.
    const Signal identifier(test::samplesOf(500.0), 0.75);
    process(*row->Channel(), identifier);
    EXPECT_FALSE(row->Channel()->Recording());  // the list is empty
    EXPECT_EQ(m.ControlListFile(), dir / "CONTROL" / "1.ctl");
    ASSERT_FALSE(ControlListText::Write(m.ControlListFile(), {"123 other", "8495******* Moscow", ""}));
    EXPECT_EQ(ControlListText::Read(m.ControlListFile()), (Strings{"123 other", "8495******* Moscow", ""}));
    m.ControlListEdited();
    process(*row->Channel(), identifier);
    EXPECT_TRUE(row->Channel()->Recording());
    row->Channel()->StopRecord();
    m.RemovePlugin("demod.plg");
    EXPECT_EQ(m.ChannelPlugins(), Strings{});
}

TEST(EffectiveMp3Bitrate, IsWhatTheEncoderReallyUsesAtTheLineRate) {
    // LAME itself is the reference: every rate the list offers and every typed one up to 200.
    for (int kbps = -1; kbps <= 200; ++kbps) {
        recording::WriterParams p;
        p.format = recording::FileFormat::Mp3;
        p.mp3Bitrate = kbps;
        p.predSeconds = 0;
        recording::Tmp3_writer writer(p);
        ASSERT_TRUE(writer.Ready());
        EXPECT_EQ(EffectiveMp3Bitrate(kbps), writer.EffectiveBitrate()) << kbps;
    }
}
