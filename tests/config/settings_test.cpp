// Loading and saving the configuration: keys, defaults, fallbacks, key order and failed writes.
#include "config/settings.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

namespace kestavo::config {
namespace {

using namespace test;

class Settings : public ::testing::Test {
protected:
    Settings() {
        f.file = dir_ / "config" / "tevra4.ini";
        f.programFolder = dir_ / "program";
        f.autostartEntry = dir_ / "autostart" / "Lodvimar.desktop";
        f.decimalSeparator = ',';
    }
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
        out.lines = general.lines;
        out.channels = LoadChannelSettings(f, out.lines.size(), out.general, [](auto&) { return 1e12; }).channels;
        return out;
    }
    TempDir dir_;
    ConfigFiles f;  // the files of the test, in dir_
};

TEST_F(Settings, MissingKeysGiveTheTabulatedDefaultsWhichAFullSaveWritesInItsKeyOrder) {
    writeText(f.file, "[Channels]\r\nMAX=1\r\n");
    Loaded got = load();
    ASSERT_EQ(got.lines.size(), 1u);
    EXPECT_EQ(got.lines[0].text(), "\t16\t4\t11025\t1");
    EXPECT_EQ(got.channels[0].recordDir, (f.programFolder / "SOUND" / "1").string());
    EXPECT_TRUE(std::filesystem::is_directory(f.programFolder / "SOUND" / "1"));
    EXPECT_EQ(got.channels[0].preRecordSeconds, 5);  // the one channel key a full save leaves out
    EXPECT_EQ(got.general.KeepFreeBytes, 1e11);      // 10 % of 1 TB
    EXPECT_EQ(ReadDemodChannelFilter(f), "ALL");
    got.channels[0].recordDir = "/rec/1";
    std::filesystem::remove(f.file);
    ASSERT_FALSE(SaveAllSettings(f, got.general, got.channels, true));
    // K2_ 7 and zad_stop 15 are the defaults, not the fallbacks of an unreadable value (7.6, 10).
    EXPECT_EQ(readText(f.file),
              "[MAIN]\r\nLanguage=English\r\nDIRS_D=1\r\nRAZN_KART=0\r\nAUTO=1\r\nHEIGHT=336\r\nNo_Name=1\r\n\r\n"
              "[Channels]\r\nMAX=1\r\n\r\n"
              "[DEVICES]\r\nLOADALL=1\r\n\r\n"
              "[SERVER]\r\nPORT=\r\nNAME=\r\nUSER=recorder-host\r\n\r\n"
              "[SEVRER]\r\nENABLED=0\r\nIN_ONE=0\r\n\r\n"
              "[Disk]\r\nFreeSpace=10\r\nCHECKspace=0\r\n\r\n"
              "[Channels1]\r\nMixerLine1=0\r\nFilebits1=16\r\nPulseREC1=1\r\nPOROG1=0\r\nauto1=0\r\nDEVICE1=\r\n"
              "PREFIX1=\r\nWAW_PATH1=/rec/1\r\nAGC1=0\r\nexp1=0\r\nPulse1=1\r\nK1_1=1,8\r\nK2_1=7\r\nzad_rec1=1\r\n"
              "zad_stop1=15\r\nMax_Time1=15\r\nPPOROG1=0,008\r\nAON1=1\r\nDTMF1=0\r\nVOXmode1=0\r\nMin_Time1=5\r\n"
              "MP3Bitrate1=16\r\nMP3Quality1=4\r\nMP3SampleRate1=11025\r\nCompressMode1=1\r\nComboRec1=0\r\n\r\n"
              "[OUT]\r\nDevice=-1\r\n\r\n"
              "[DirCh]\r\nInv_Point=1888\r\n");
    // Channel objects made without a file start from the same values.
    EXPECT_EQ(ChannelSettings{.recordDir = "/rec/1"}, got.channels[0]);
    std::filesystem::remove_all(f.file.parent_path());  // first start: not even the folder exists
    EXPECT_TRUE(load().lines.empty());
    EXPECT_EQ(readText(f.file), "[DEVICES]\r\nLOADALL=1\r\n");  // LOADALL read as true is written back
}

TEST_F(Settings, UnreadableRealsFallBackWhileMissingOnesTakeTheDefault) {
    f.decimalSeparator = '.';
    writeText(f.file,
              "[Channels]\nMAX=2\n[Channels1]\nzad_stop1=abc\nK2_1=x\nPOROG1=-\nK1_1=1,8\n"
              "zad_rec1=\nPPOROG1=0,01\n[Channels2]\nk2_2=5.5\nzad_rec2=0.3\nporog2=-12.5\n");
    const Loaded got = load();
    ASSERT_EQ(got.channels.size(), 2u);
    const ChannelSettings& bad = got.channels[0];
    EXPECT_EQ(
        std::tuple(bad.stopDelaySeconds, bad.k2, bad.threshold, bad.k1, bad.startDelaySeconds, bad.pulseThreshold),
        std::tuple(10.0, 7.6, 0.0, 1.8, 1.0, 0.008));
    const ChannelSettings& good = got.channels[1];  // keys written in lower case read the same
    EXPECT_EQ(std::tuple(good.stopDelaySeconds, good.k2, good.startDelaySeconds, good.threshold),
              std::tuple(15.0, 5.5, 0.3, -12.5));
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

TEST_F(Settings, ANewChannelGetsTheNewChannelValues) {
    ASSERT_FALSE(WriteNewChannelDefaults(f, 2));
    EXPECT_EQ(readText(f.file),
              "[Channels3]\r\nMixerLine3=0\r\nFilebits3=16\r\nPulseREC3=1\r\nPOROG3=0\r\nauto3=0\r\nDEVICE3=\r\n"
              "PREFIX3=\r\nWAW_PATH3=\r\nexp3=0\r\nPulse3=0\r\nzad_rec3=1\r\nzad_stop3=15\r\nMax_Time3=15\r\n"
              "PPOROG3=0,008\r\nAON3=0\r\nVOXmode3=0\r\nMin_Time3=5\r\nMP3Bitrate3=32\r\nMP3SampleRate3=11025\r\n");
}

TEST_F(Settings, TheDialogWritesItsKeysAndNoSaveWritesTheFolderWhileTheServerIsInUse) {
    writeText(f.file, "[Channels1]\r\nWAW_PATH1=/old/folder\r\n");
    GeneralSettings s;
    s.ENABLED = true;
    ChannelSettings c;
    c.recordDir = "/new/folder";
    c.preRecordSeconds = 3;
    ASSERT_FALSE(SaveAllSettings(f, s, {c}, false));
    EXPECT_EQ(readText(f.file).find("MAX="), std::string::npos);  // the count only when asked
    EXPECT_EQ(readText(f.file).find("Pred_Time"), std::string::npos);
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    EXPECT_EQ(readText(f.file).find("/new/folder"), std::string::npos);
    s.ENABLED = false;
    std::filesystem::remove(f.file);
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    EXPECT_EQ(readText(f.file),
              "[DEVICES]\r\nLOADALL=1\r\n\r\n[Disk]\r\nFreeSpace=10\r\nCHECKspace=0\r\n\r\n"
              "[Channels1]\r\nWAW_PATH1=/new/folder\r\nexp1=0\r\nAGC1=0\r\nPulse1=1\r\nK1_1=1,8\r\nK2_1=7\r\n"
              "zad_rec1=1\r\nzad_stop1=15\r\nMax_Time1=15\r\nPREFIX1=\r\nPred_Time1=3\r\nAON1=1\r\nDTMF1=0\r\n"
              "Min_Time1=5\r\nVOXmode1=0\r\nPulseREC1=1\r\nComboRec1=0\r\n");
}

TEST_F(Settings, AFullSaveWritesBackExactlyTheValuesItLoaded) {
    // Every key differs from its default, so a key read under a wrong name or into a wrong field
    // changes the file. With the server in use WAW_PATH1 is left as it stands; Pred_Time1 is never saved.
    const std::string text =
        "[MAIN]\r\nLanguage=Russian\r\nDIRS_D=0\r\nRAZN_KART=1\r\nAUTO=0\r\nHEIGHT=512\r\nNo_Name=0\r\n"
        "[Channels]\r\nMAX=1\r\n[DEVICES]\r\nLOADALL=0\r\n"
        "[SERVER]\r\nPORT=ptSingleUser\r\nNAME=\"                       \"\r\nUSER=Оператор 2\r\n"
        "[SEVRER]\r\nENABLED=1\r\nIN_ONE=1\r\n[Disk]\r\nFreeSpace=25\r\nCHECKspace=1\r\n[Demods]\r\nVChannel=7\r\n"
        "[Channels1]\r\nMixerLine1=2\r\nFilebits1=8\r\nPulseREC1=0\r\nPOROG1=-23,45\r\nauto1=1\r\n"
        "DEVICE1=1 Card 2 канал\r\nPREFIX1=\" lead\"\r\nWAW_PATH1=" +
        (dir_ / "rec one").string() +
        "\r\nAGC1=1\r\nexp1=1\r\nPulse1=0\r\nK1_1=2,5\r\nK2_1=12,3\r\nzad_rec1=0,7\r\nzad_stop1=3,3\r\n"
        "Max_Time1=0\r\nPPOROG1=0,0123\r\nAON1=0\r\nDTMF1=1\r\nVOXmode1=3\r\nMin_Time1=9\r\nMP3Bitrate1=64\r\n"
        "MP3Quality1=3\r\nMP3SampleRate1=22050\r\nCompressMode1=0\r\nComboRec1=1\r\nPred_Time1=3\r\n"
        "[OUT]\r\nDevice=3\r\n[DirCh]\r\nInv_Point=2500\r\n";
    writeText(f.file, text);
    const Loaded got = load();
    EXPECT_EQ(got.lines[0].text(), "1 Card 2 канал\t64\t3\t22050\t0");
    EXPECT_EQ(got.channels[0].preRecordSeconds, 3);
    EXPECT_EQ(ReadDemodChannelFilter(f), "7");
    ASSERT_FALSE(SaveAllSettings(f, got.general, got.channels, true));
    EXPECT_EQ(readText(f.file), text);
    ASSERT_FALSE(WriteDemodChannelFilter(f, "2"));
    EXPECT_EQ(ReadDemodChannelFilter(f), "2");
}

TEST_F(Settings, AFailedWriteEndsTheSaveWithItsError) {
    writeText(dir_ / "blocker", "");
    f.file = dir_ / "blocker" / "tevra4.ini";
    EXPECT_TRUE(SaveAllSettings(f, GeneralSettings{}, {ChannelSettings{}}, true));
    EXPECT_TRUE(SaveChannelDialogSettings(f, GeneralSettings{}, 0, ChannelSettings{}));
    EXPECT_TRUE(WriteNewChannelDefaults(f, 0));
    EXPECT_TRUE(WriteDemodChannelFilter(f, "1"));
    GeneralSettings s;
    EXPECT_TRUE(LoadGeneralSettings(f, s).writeError);  // defaults still load
    EXPECT_TRUE(s.LOADALL);
}

TEST_F(Settings, ASaveStopsAtTheFirstFailedWrite) {
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
