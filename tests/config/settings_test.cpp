// The configuration file: the INI format under it (IniFile), then the settings' keys, defaults, fallbacks,
// key order and failed writes, the backup copy and the autostart entry. Expected files: tests/data/config.
#include "config/settings.h"
#include "config/autostart.h"
#include "config/backup.h"
#include "config/ini_file.h"
#include "platform/locale.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

namespace kestavo::config {
namespace {

using namespace test;

TEST(IniFile, LongValuesAreCutAt1023BytesAndAnUnreadableFileGivesTheDefaultsAndIsNeverReplaced) {
    TempDir dir;
    std::string cyrillic;
    for (int i = 0; i < 600; ++i) cyrillic += "ж";
    writeText(dir / "t.ini", "[A]\nlong=" + std::string(2000, 'a') + "\nru=" + cyrillic + "\n");
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readString("A", "long", ""), std::string(1023, 'a'));
    EXPECT_EQ(ini.readString("A", "ru", ""), cyrillic.substr(0, 1022));  // 511 whole two-byte letters
    std::filesystem::create_directories(dir / "tevra4.ini" / "inside");  // not a readable file
    IniFile unreadable(dir / "tevra4.ini", '.');
    EXPECT_EQ(unreadable.readString("S", "k", "d"), "d");
    EXPECT_TRUE(unreadable.writeString("S", "k", "v"));  // and never replaced
    EXPECT_TRUE(std::filesystem::exists(dir / "tevra4.ini" / "inside"));
    EXPECT_EQ(unableToWriteText("/x/tevra4.ini"), "Unable to write to /x/tevra4.ini");
}

TEST(IniFile, IntegersAreDecimalOrHexAndUnreadableOnesGiveTheDefault) {
    // clang-format off
    struct Case { const char* text; int integer; int boolean; };  // default 7; boolean -1: the default
    for (const Case& c : std::initializer_list<Case>{
             {"0x1F", 31, 1}, {"0X10", 16, 1}, {"-12", -12, 1}, {" 42 ", 42, 1}, {"0", 0, 0}, {"-1", -1, 1},
             {"\"3\"", 3, 1}, {"12abc", 7, -1}, {"", 7, -1}, {"99999999999", 7, -1}, {"1.5", 7, -1}, {"yes", 7, -1}}) {
        // clang-format on
        TempDir dir;
        writeText(dir / "t.ini", std::string("[I]\nk=") + c.text + "\n");
        IniFile ini(dir / "t.ini", '.');
        EXPECT_EQ(ini.readInteger("I", "k", 7), c.integer) << c.text;
        for (bool byDefault : {false, true})
            EXPECT_EQ(ini.readBool("I", "k", byDefault), c.boolean < 0 ? byDefault : c.boolean == 1) << c.text;
    }
}

TEST(IniFile, RealNumbersTakeOnlyTheDecimalSeparatorOfTheLocale) {
    ASSERT_EQ(platform::decimalSeparatorOf("ru_RU.UTF-8"), ',');
    ASSERT_EQ(platform::decimalSeparatorOf("en_US.UTF-8"), '.');
    EXPECT_EQ(platform::decimalSeparatorOf("xx_NOT.INSTALLED"), '.');
    // clang-format off
    struct Case { char separator; const char* text; double value; };  // 99: the fallback
    for (const Case& c : std::initializer_list<Case>{
             {',', "-12,5", -12.5}, {',', "-12.5", 99}, {'.', "-12.5", -12.5}, {'.', "-12,5", 99},
             {'.', "1e-3", 0.001}, {'.', "nan", 99}, {'.', "inf", 99}, {'.', " +7 ", 7}, {'.', "", 99}}) {
        // clang-format on
        TempDir dir;
        writeText(dir / "t.ini", std::string("[R]\nk=") + c.text + "\n");
        EXPECT_EQ(IniFile(dir / "t.ini", c.separator).readReal("R", "k", "0", 99.0), c.value) << c.text;
    }
    TempDir dir;
    IniFile ru(dir / "t.ini", ',');
    EXPECT_EQ(ru.readReal("R", "missing", "0,008", 5.0), 0.008);  // the default text is read as a number
    EXPECT_EQ(IniFile(dir / "t.ini", '.').readReal("R", "missing", "1,8", 5.0), 5.0);
    ASSERT_FALSE(ru.writeReal("R", "out", 0.1 + 0.2));
    EXPECT_EQ(ru.readReal("R", "out", "0", 0.0), 0.1 + 0.2);  // written so that it reads back exactly
}

TEST(IniFile, NamesMatchWithoutRegardToCaseAndAWriteKeepsEveryLineItDoesNotWrite) {
    TempDir dir;
    writeText(dir / "t.ini", fixture("config/hand_made.ini"));
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readInteger("MAIN", "a", 0), 1);  // the first of two equal sections counts
    ASSERT_FALSE(ini.writeString("other", "KEEP", "2"));
    ASSERT_FALSE(ini.writeString("main", "B", "x"));
    ASSERT_FALSE(ini.writeString("New", "C", "y"));
    EXPECT_EQ(readText(dir / "t.ini"), fixture("config/hand_made_written.ini"));
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename(), "t.ini");  // no temporary left
}

TEST(IniFile, EveryTextReadsBackAsWrittenThroughAnotherObject) {
    TempDir dir;
    IniFile ini(dir / "t.ini", '.');
    IniFile other(dir / "t.ini", '.');
    for (const std::string& value : {std::string(23, ' '), std::string("\"quoted\""), std::string(" a = b "),
                                     std::string("'x'"), std::string("tab\there"), std::string("Сервер 1")}) {
        ASSERT_FALSE(ini.writeString("SERVER", "NAME", value));
        EXPECT_EQ(other.readString("SERVER", "NAME", "?"), value);
    }
    ASSERT_FALSE(other.writeString("SERVER", "PORT", "p"));
    ASSERT_FALSE(ini.writeString("SERVER", "NAME", "two\r\nlines"));  // keeps the other object's key
    EXPECT_EQ(other.readString("SERVER", "PORT", "?"), "p");
    EXPECT_EQ(other.readString("SERVER", "NAME", "?"), "two  lines");
    EXPECT_EQ(other.readString("SERVER", "lines", "?"), "?");  // no key smuggled in by a line break
}

class Settings : public ::testing::Test {
protected:
    // Loads general and channel settings as start-up does, on a 1 TB disk.
    struct Loaded {
        GeneralSettings general;
        std::vector<ChannelSetupLine> lines;
        std::vector<ChannelSettings> channels;
    };
    Loaded load() const {
        Loaded out;
        out.general.ComputerName = "recorder-host";
        const GeneralLoad general = LoadGeneralSettings(f, out.general);
        EXPECT_FALSE(general.writeError);
        EXPECT_FALSE(general.autostartError);
        out.lines = general.lines;
        out.channels = LoadChannelSettings(f, out.lines.size(), out.general, [](auto&) { return 1e12; }).channels;
        return out;
    }
    TempDir dir_;
    ConfigFiles f{.file = dir_ / "config" / "tevra4.ini",
                  .backup = dir_ / "program" / "tevra4.ini",
                  .programFolder = dir_ / "program",
                  .autostartEntry = dir_ / "autostart" / "Lodvimar.desktop",
                  .executable = {},
                  .decimalSeparator = ','};  // the files of the test, in dir_
};

TEST_F(Settings, MissingKeysGiveTheTabulatedDefaultsWhichAFullSaveWritesInItsKeyOrder) {
    writeText(f.file, "[Channels]\r\nMAX=1\r\n");
    Loaded got = load();
    ASSERT_EQ(got.lines.size(), 1u);
    EXPECT_EQ(got.lines[0].text(), "\t16\t4\t11025\t1");
    EXPECT_EQ(got.channels[0].recordDir, (f.programFolder / "SOUND" / "1").string());
    EXPECT_TRUE(std::filesystem::is_directory(f.programFolder / "SOUND" / "1"));
    EXPECT_EQ(got.channels[0].preRecordSeconds, 5);  // the one channel key a full save leaves out
    EXPECT_EQ(ReadDemodChannelFilter(f), "ALL");
    EXPECT_TRUE(std::filesystem::exists(f.autostartEntry));  // AUTO is on by default
    got.channels[0].recordDir = "/rec/1";
    std::filesystem::remove(f.file);
    ASSERT_FALSE(SaveAllSettings(f, got.general, got.channels, true));
    // K2_ 7 and zad_stop 15 are the defaults, not the fallbacks of an unreadable value (7.6, 10).
    EXPECT_EQ(readText(f.file), fixture("config/full_save.ini"));
    // Channel objects made without a file start from the same values.
    EXPECT_EQ(ChannelSettings{.recordDir = "/rec/1"}, got.channels[0]);
    std::filesystem::remove_all(f.file.parent_path());  // first start: not even the folder exists
    EXPECT_TRUE(load().lines.empty());
    EXPECT_EQ(readText(f.file), "[DEVICES]\r\nLOADALL=1\r\n");  // LOADALL read as true is written back
}

TEST_F(Settings, AFullSaveWritesBackExactlyTheValuesItLoaded) {
    // Every key differs from its default, so a key read under a wrong name or into a wrong field
    // changes the file. With the server in use WAW_PATH1 is left as it stands; Pred_Time1 is never saved.
    std::string text = fixture("config/round_trip.ini");
    text.replace(text.find("@REC@"), 5, (dir_ / "rec one").string());
    writeText(f.file, text);
    ASSERT_FALSE(ApplyAutostart(f, true));
    const Loaded got = load();
    EXPECT_FALSE(std::filesystem::exists(f.autostartEntry));  // AUTO=0 removes the entry
    (void)load();                                             // absent stays absent, no error
    EXPECT_EQ(got.channels[0].preRecordSeconds, 3);
    EXPECT_EQ(ReadDemodChannelFilter(f), "7");
    ASSERT_FALSE(SaveAllSettings(f, got.general, got.channels, true));
    EXPECT_EQ(readText(f.file), text);
    ASSERT_FALSE(WriteDemodChannelFilter(f, "2"));
    EXPECT_EQ(ReadDemodChannelFilter(f), "2");
}

TEST_F(Settings, UnreadableRealsTakeTheirFallbacksNotTheDefaults) {
    f.decimalSeparator = '.';
    writeText(f.file,
              "[Channels]\nMAX=1\n[Channels1]\nzad_stop1=abc\nK2_1=x\nPOROG1=-\nK1_1=1,8\n"
              "zad_rec1=\nPPOROG1=0,01\n");
    const Loaded got = load();
    ASSERT_EQ(got.channels.size(), 1u);
    const ChannelSettings& c = got.channels[0];
    EXPECT_EQ(std::tuple(c.stopDelaySeconds, c.k2, c.threshold, c.k1, c.startDelaySeconds, c.pulseThreshold),
              std::tuple(10.0, 7.6, 0.0, 1.8, 1.0, 0.008));
}

TEST_F(Settings, ChannelCountAbove100MeansTwoAndBuildsTheSetupLines) {
    writeText(f.file,
              "[Channels]\nMAX=250\n[Channels1]\nDEVICE1=0 USB Audio 1 канал\nMP3Bitrate1=32\n"
              "CompressMode1=0x0\n[Channels2]\nDEVICE2=bad\tname\nMP3Quality2=2\nMP3SampleRate2=8000\n");
    GeneralSettings s;
    const GeneralLoad got = LoadGeneralSettings(f, s);
    EXPECT_EQ(s.MAX, 2);
    ASSERT_EQ(got.lines.size(), 2u);
    EXPECT_EQ(got.lines[0].text(), "0 USB Audio 1 канал\t32\t4\t11025\t0");
    EXPECT_EQ(got.lines[1].text(), "bad name\t16\t2\t8000\t1");
    for (const auto& [max, count] : {std::pair{"100", 100u}, {"101", 2u}, {"-3", 0u}, {"x", 0u}}) {
        writeText(f.file, std::string("[Channels]\nMAX=") + max + "\n");
        EXPECT_EQ(LoadGeneralSettings(f, s).lines.size(), count) << max;
    }
}

TEST_F(Settings, ANewChannelAndTheChannelDialogWriteTheirKeysButNotTheFolderWhileTheServerIsInUse) {
    ASSERT_FALSE(WriteNewChannelDefaults(f, 2));
    EXPECT_EQ(readText(f.file), fixture("config/new_channel.ini"));
    writeText(f.file, "[Channels1]\r\nWAW_PATH1=/old/folder\r\n");
    GeneralSettings s;
    s.ENABLED = true;
    ChannelSettings c;
    c.recordDir = "/new/folder";
    c.preRecordSeconds = 3;
    ASSERT_FALSE(SaveAllSettings(f, s, {c}, false));
    EXPECT_EQ(readText(f.file).find("MAX="), std::string::npos);  // the count only when asked
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    EXPECT_EQ(readText(f.file).find("/new/folder"), std::string::npos);
    s.ENABLED = false;
    std::filesystem::remove(f.file);
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    EXPECT_EQ(readText(f.file), fixture("config/channel_dialog.ini"));
}

TEST_F(Settings, AFailedWriteEndsEverySaveWithItsErrorAndTheDefaultsStillLoad) {
    // A file-size limit just above the file fails the first write, which makes it longer (EFBIG);
    // PORT= would still fit, and emptying NAME would shorten the file: the save must not go on to them.
    const std::string text = "[SERVER]\r\nNAME=" + std::string(200, 'n') + "\r\n";
    writeText(f.file, text);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = text.size() + 8;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    const std::error_code ec = SaveAllSettings(f, GeneralSettings{}, {}, false);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(ec, std::errc::file_too_large);
    EXPECT_EQ(readText(f.file), text);
    writeText(dir_ / "blocker", "");  // a folder that cannot be made fails every writer
    writeText(f.backup, "old");
    f.file = dir_ / "blocker" / "tevra4.ini";
    f.autostartEntry = dir_ / "blocker" / "Lodvimar.desktop";
    EXPECT_TRUE(SaveAllSettings(f, GeneralSettings{}, {ChannelSettings{}}, true));
    EXPECT_TRUE(SaveChannelDialogSettings(f, GeneralSettings{}, 0, ChannelSettings{}));
    EXPECT_TRUE(WriteNewChannelDefaults(f, 0));
    EXPECT_TRUE(WriteDemodChannelFilter(f, "1"));
    EXPECT_TRUE(ApplyAutostart(f, true));
    EXPECT_TRUE(RestoreFromBackup(f));
    EXPECT_EQ(readText(f.backup), "old");
    GeneralSettings s;
    EXPECT_TRUE(LoadGeneralSettings(f, s).writeError);
    EXPECT_TRUE(s.LOADALL);
}

TEST_F(Settings, TheBackupMirrorsAFileThatBuiltChannelsAndReplacesOneThatBuiltNone) {
    writeText(f.file, "[Channels]\nMAX=2\n");
    ASSERT_FALSE(MirrorToBackup(f));  // the program folder is made on the way
    EXPECT_EQ(readText(f.backup), "[Channels]\nMAX=2\n");
    writeText(f.file, "[Channels]\nMAX=1\n[Channels1]\nDEVICE1=gone\n");  // built no channel
    ASSERT_FALSE(RestoreFromBackup(f));
    EXPECT_EQ(readText(f.file), "[Channels]\nMAX=2\n");
    std::filesystem::remove(f.backup);
    ASSERT_FALSE(RestoreFromBackup(f));  // no backup: the broken file goes, the defaults apply
    EXPECT_FALSE(std::filesystem::exists(f.file));
    ASSERT_FALSE(MirrorToBackup(f));  // nothing to mirror: no backup is made from nothing
    EXPECT_FALSE(std::filesystem::exists(f.backup));
}

TEST_F(Settings, TheAutostartEntryRunsTheProgramWithDashWQuotedByTheDesktopEntryRules) {
    // Reserved characters need the quoted form; inside quotes \ " ` $ take a backslash, and the
    // entry's string escapes then double every backslash; a literal % is written %%.
    // clang-format off
    for (const auto& [program, exec] : {std::pair{"/opt/kestavo/bin/kestavo", "/opt/kestavo/bin/kestavo -w"},
             {"/opt/my apps/kestavo", "\"/opt/my apps/kestavo\" -w"}, {"/opt/100%/kestavo", "/opt/100%%/kestavo -w"},
             {"/opt/$x/k", "\"/opt/\\\\$x/k\" -w"}, {"/opt/a\\b", "\"/opt/a\\\\\\\\b\" -w"}}) {
        // clang-format on
        f.executable = program;
        ASSERT_FALSE(ApplyAutostart(f, true)) << program;
        EXPECT_EQ(readText(f.autostartEntry),
                  std::string("[Desktop Entry]\nType=Application\nName=Lodvimar\nExec=") + exec +
                      "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    }
}

TEST_F(Settings, KeepFreeBytesIsAShareOfChannelOnesDisk) {
    writeText(f.file, "[Disk]\nFreeSpace=20\n[Channels1]\nWAW_PATH1=" + (dir_ / "one").string() + "\n");
    GeneralSettings s;
    const auto disk = [&](const std::filesystem::path& p) { return p == dir_ / "one" ? 5e11 : 1.0; };
    (void)LoadChannelSettings(f, 2, s, disk);
    EXPECT_EQ(s.KeepFreeBytes, 1e11);  // 20 % of channel 1's 500 GB
    UpdateKeepFreeBytes(s, dir_ / "one", [](auto&) { return std::nullopt; });
    EXPECT_EQ(s.KeepFreeBytes, 0.0);
    EXPECT_GT(diskCapacity(dir_.path()).value_or(0.0), 0.0);
}

TEST(ComputerName, TheLabelIsTheFirst15CharactersTrimmed) {
    EXPECT_EQ(computerLabel("  workstation-number-7  "), "workstation-num");
    EXPECT_EQ(computerLabel("abcdefghijklmn opq"), "abcdefghijklmn");
    EXPECT_EQ(computerLabel("Рабочая станция номер 7"), "Рабочая станция");
}

}  // namespace
}  // namespace kestavo::config
