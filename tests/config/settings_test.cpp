// Loading and saving the configuration: keys, defaults, fallbacks, order, the two copies, autostart.
#include "config/settings.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using testing::readText;
using testing::TempFolder;
using testing::writeText;

class Settings : public ::testing::Test {
protected:
    ConfigFiles files(char separator = ',') const {
        ConfigFiles f;
        f.file = dir_ / "config" / "tevra4.ini";
        f.backup = dir_ / "program" / "tevra4.ini";
        f.programFolder = dir_ / "program";
        f.autostartEntry = dir_ / "autostart" / "Lodvimar.desktop";
        f.executable = "/opt/kestavo/bin/kestavo";
        f.decimalSeparator = separator;
        std::filesystem::create_directories(f.file.parent_path());
        std::filesystem::create_directories(f.programFolder);
        return f;
    }
    static GeneralSettings fresh() {
        GeneralSettings s;
        s.ComputerName = "recorder-host";
        return s;
    }
    // Loads general and channel settings as start-up does, with a fixed 1 TB disk.
    struct Loaded {
        GeneralSettings general;
        std::vector<ChannelSetupLine> lines;
        std::vector<ChannelSettings> channels;
    };
    Loaded load(const ConfigFiles& f) const {
        Loaded out{fresh(), {}, {}};
        auto general = LoadGeneralSettings(f, out.general);
        EXPECT_FALSE(general.writeError);
        out.lines = general.lines;
        out.channels = LoadChannelSettings(f, out.lines.size(), out.general, [](auto&) { return 1e12; }).channels;
        return out;
    }
    TempFolder dir_;
};

TEST_F(Settings, AMissingFileGivesTheTabulatedDefaults) {
    const auto f = files();
    std::filesystem::remove_all(f.file.parent_path());  // first start: not even the folder exists
    const Loaded got = load(f);
    const GeneralSettings& s = got.general;
    EXPECT_EQ(s.Language, "English");
    EXPECT_TRUE(s.DIRS_D);
    EXPECT_FALSE(s.RAZN_KART);
    EXPECT_TRUE(s.AUTO);
    EXPECT_EQ(s.HEIGHT, 336);
    EXPECT_TRUE(s.No_Name);
    EXPECT_EQ(s.MAX, 0);
    EXPECT_TRUE(s.LOADALL);
    EXPECT_EQ(s.NAME, "");
    EXPECT_EQ(s.PORT, "");
    EXPECT_EQ(s.USER, "recorder-host");
    EXPECT_FALSE(s.ENABLED);
    EXPECT_FALSE(s.IN_ONE);
    EXPECT_EQ(s.FreeSpace, 10);
    EXPECT_FALSE(s.CHECKspace);
    EXPECT_EQ(s.Device, -1);
    EXPECT_EQ(s.Inv_Point, 1888);
    EXPECT_EQ(ReadDemodChannelFilter(f), "ALL");
    EXPECT_TRUE(got.lines.empty());
    EXPECT_EQ(readText(f.file), "[DEVICES]\r\nLOADALL=1\r\n");  // LOADALL read as true is written back
    EXPECT_EQ(s.KeepFreeBytes, 1e12 * 0.01 * 10);
}

TEST_F(Settings, MissingChannelKeysGiveTheirDefaults) {
    const auto f = files('.');
    writeText(f.file, "[Channels]\r\nMAX=1\r\n");
    const Loaded got = load(f);
    ASSERT_EQ(got.lines.size(), 1u);
    EXPECT_EQ(got.lines[0].text(), "\t16\t4\t11025\t1");
    ASSERT_EQ(got.channels.size(), 1u);
    const ChannelSettings& c = got.channels[0];
    EXPECT_EQ(c.device, "");
    EXPECT_EQ(c.mixerLine, 0);
    EXPECT_EQ(c.fileBits, 16);
    EXPECT_EQ(c.compressMode, 1);
    EXPECT_EQ(c.mp3Bitrate, 16);
    EXPECT_EQ(c.mp3Quality, 4);
    EXPECT_EQ(c.mp3SampleRate, 11025);
    EXPECT_EQ(c.recordDir, (f.programFolder / "SOUND" / "1").string());
    EXPECT_TRUE(std::filesystem::is_directory(f.programFolder / "SOUND" / "1"));
    EXPECT_EQ(c.filePrefix, "");
    EXPECT_EQ(c.recordMode, 0);
    EXPECT_FALSE(c.autoRecord);
    EXPECT_EQ(c.threshold, 0.0);
    EXPECT_EQ(c.pulseThreshold, 0.008);  // "0,008" under a "." locale: the fallback, same value
    EXPECT_EQ(c.k1, 1.8);
    EXPECT_EQ(c.k2, 7.0);
    EXPECT_EQ(c.startDelaySeconds, 1.0);
    EXPECT_EQ(c.stopDelaySeconds, 15.0);
    EXPECT_EQ(c.maxTimeMinutes, 15);
    EXPECT_EQ(c.minTimeSeconds, 5);
    EXPECT_EQ(c.preRecordSeconds, 5);
    EXPECT_FALSE(c.compressor);
    EXPECT_FALSE(c.agc);
    EXPECT_TRUE(c.callerId);
    EXPECT_TRUE(c.pulseDetector);
    EXPECT_FALSE(c.dtmf);
    EXPECT_TRUE(c.detectOnlyWhileRecording);
    EXPECT_FALSE(c.combined);
}

TEST_F(Settings, UnreadableRealsFallBackWhileMissingOnesTakeTheDefault) {
    const auto f = files();
    writeText(f.file,
              "[Channels]\nMAX=2\n[Channels1]\nzad_stop1=abc\nK2_1=x\nPOROG1=-\nK1_1=1.8\n"
              "zad_rec1=\nPPOROG1=0.01\n[Channels2]\nk2_2=5,5\n");
    const Loaded got = load(f);
    ASSERT_EQ(got.channels.size(), 2u);
    EXPECT_EQ(got.channels[0].stopDelaySeconds, 10.0);
    EXPECT_EQ(got.channels[1].stopDelaySeconds, 15.0);
    EXPECT_EQ(got.channels[0].k2, 7.6);
    EXPECT_EQ(got.channels[0].threshold, 0.0);
    EXPECT_EQ(got.channels[0].k1, 1.8);  // "1.8" under a "," locale: fallback
    EXPECT_EQ(got.channels[0].startDelaySeconds, 1.0);
    EXPECT_EQ(got.channels[0].pulseThreshold, 0.008);
    EXPECT_EQ(got.channels[1].k2, 5.5);  // written in lower case, read the same
}

TEST_F(Settings, RealNumbersReadInBothLocales) {
    for (const auto& [separator, text] : {std::pair{',', "-12,5"}, std::pair{'.', "-12.5"}}) {
        const auto f = files(separator);
        writeText(f.file,
                  std::string("[Channels]\nMAX=1\n[Channels1]\nPOROG1=") + text +
                      "\nzad_rec1=" + (separator == ',' ? "0,3" : "0.3") + "\n");
        const Loaded got = load(f);
        EXPECT_EQ(got.channels[0].threshold, -12.5) << separator;
        EXPECT_EQ(got.channels[0].startDelaySeconds, 0.3) << separator;
    }
}

TEST_F(Settings, ChannelCountAbove100MeansTwoAndBuildsTheSetupLines) {
    const auto f = files();
    writeText(f.file,
              "[Channels]\nMAX=250\n[Channels1]\nDEVICE1=0 USB Audio 1 канал\nMP3Bitrate1=32\n"
              "CompressMode1=0x0\n[Channels2]\nDEVICE2=bad\tname\nMP3Quality2=2\n");
    GeneralSettings s = fresh();
    const GeneralLoad got = LoadGeneralSettings(f, s);
    EXPECT_EQ(s.MAX, 2);
    ASSERT_EQ(got.lines.size(), 2u);
    EXPECT_EQ(got.lines[0].text(), "0 USB Audio 1 канал\t32\t4\t11025\t0");
    EXPECT_EQ(got.lines[1].text(), "bad name\t16\t2\t11025\t1");

    writeText(f.file, "[Channels]\nMAX=100\n");
    EXPECT_EQ(LoadGeneralSettings(f, s).lines.size(), 100u);
    writeText(f.file, "[Channels]\nMAX=-3\n");
    EXPECT_TRUE(LoadGeneralSettings(f, s).lines.empty());
}

TEST_F(Settings, AFullSaveWritesEveryKeyInItsOrder) {
    const auto f = files();
    GeneralSettings s = fresh();
    s.USER = "host";
    ChannelSettings c;
    c.recordDir = "/rec/1";
    ASSERT_FALSE(SaveAllSettings(f, s, {c}, true));
    EXPECT_EQ(readText(f.file),
              "[MAIN]\r\nLanguage=English\r\nDIRS_D=1\r\nRAZN_KART=0\r\nAUTO=1\r\nHEIGHT=336\r\nNo_Name=1\r\n\r\n"
              "[Channels]\r\nMAX=1\r\n\r\n"
              "[DEVICES]\r\nLOADALL=1\r\n\r\n"
              "[SERVER]\r\nPORT=\r\nNAME=\r\nUSER=host\r\n\r\n"
              "[SEVRER]\r\nENABLED=0\r\nIN_ONE=0\r\n\r\n"
              "[Disk]\r\nFreeSpace=10\r\nCHECKspace=0\r\n\r\n"
              "[Channels1]\r\nMixerLine1=0\r\nFilebits1=16\r\nPulseREC1=1\r\nPOROG1=0\r\nauto1=0\r\nDEVICE1=\r\n"
              "PREFIX1=\r\nWAW_PATH1=/rec/1\r\nAGC1=0\r\nexp1=0\r\nPulse1=1\r\nK1_1=1,8\r\nK2_1=7\r\nzad_rec1=1\r\n"
              "zad_stop1=15\r\nMax_Time1=15\r\nPPOROG1=0,008\r\nAON1=1\r\nDTMF1=0\r\nVOXmode1=0\r\nMin_Time1=5\r\n"
              "MP3Bitrate1=16\r\nMP3Quality1=4\r\nMP3SampleRate1=11025\r\nCompressMode1=1\r\nComboRec1=0\r\n\r\n"
              "[OUT]\r\nDevice=-1\r\n\r\n"
              "[DirCh]\r\nInv_Point=1888\r\n");
}

TEST_F(Settings, ANewChannelGetsTheNewChannelValues) {
    const auto f = files();
    ASSERT_FALSE(WriteNewChannelDefaults(f, 2));
    EXPECT_EQ(readText(f.file),
              "[Channels3]\r\nMixerLine3=0\r\nFilebits3=16\r\nPulseREC3=1\r\nPOROG3=0\r\nauto3=0\r\nDEVICE3=\r\n"
              "PREFIX3=\r\nWAW_PATH3=\r\nexp3=0\r\nPulse3=0\r\nzad_rec3=1\r\nzad_stop3=15\r\nMax_Time3=15\r\n"
              "PPOROG3=0,008\r\nAON3=0\r\nVOXmode3=0\r\nMin_Time3=5\r\nMP3Bitrate3=32\r\nMP3SampleRate3=11025\r\n");
}

TEST_F(Settings, WithTheServerInUseNoSaveWritesTheRecordingFolder) {
    const auto f = files();
    writeText(f.file, "[Channels1]\r\nWAW_PATH1=/old/folder\r\n");
    GeneralSettings s = fresh();
    s.ENABLED = true;
    ChannelSettings c;
    c.recordDir = "/new/folder";
    c.filePrefix = "P";
    ASSERT_FALSE(SaveAllSettings(f, s, {c}, false));
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    const std::string text = readText(f.file);
    EXPECT_NE(text.find("WAW_PATH1=/old/folder"), std::string::npos);
    EXPECT_EQ(text.find("/new/folder"), std::string::npos);
    EXPECT_NE(text.find("PREFIX1=P"), std::string::npos);
    EXPECT_EQ(text.find("MAX="), std::string::npos);             // the count only when asked
    EXPECT_EQ(text.find("Pred_Time"), text.rfind("Pred_Time"));  // only the dialog writes it

    s.ENABLED = false;
    ASSERT_FALSE(SaveChannelDialogSettings(f, s, 0, c));
    EXPECT_NE(readText(f.file).find("WAW_PATH1=/new/folder"), std::string::npos);
}

TEST_F(Settings, LoadSaveLoadKeepsEveryValue) {
    const auto f = files();
    writeText(f.file,
              "[MAIN]\r\nLanguage=Russian\r\nDIRS_D=0\r\nRAZN_KART=1\r\nAUTO=0\r\nHEIGHT=512\r\nNo_Name=0\r\n"
              "[Channels]\r\nMAX=2\r\n[DEVICES]\r\nLOADALL=0\r\n"
              "[SERVER]\r\nNAME=\"                       \"\r\nPORT=\"ptSingleUser\"\r\nUSER=Оператор 2\r\n"
              "[SEVRER]\r\nENABLED=0\r\nIN_ONE=1\r\n[Disk]\r\nFreeSpace=25\r\nCHECKspace=1\r\n"
              "[OUT]\r\nDevice=3\r\n[DirCh]\r\nInv_Point=2500\r\n"
              "[Channels1]\r\nDEVICE1=1 Card 2 канал\r\nMixerLine1=2\r\nFilebits1=8\r\nCompressMode1=0\r\n"
              "MP3Bitrate1=64\r\nMP3Quality1=3\r\nMP3SampleRate1=11025\r\nWAW_PATH1=" +
                  (dir_ / "rec one").string() +
                  "\r\nPREFIX1= lead\r\nVOXmode1=3\r\nauto1=1\r\nPOROG1=-23,45\r\nPPOROG1=0,0123\r\nK1_1=2,5\r\n"
                  "K2_1=12,3\r\nzad_rec1=0,7\r\nzad_stop1=3,3\r\nMax_Time1=0\r\nMin_Time1=9\r\nPred_Time1=3\r\n"
                  "exp1=1\r\nAGC1=1\r\nAON1=0\r\nPulse1=0\r\nDTMF1=1\r\nPulseREC1=0\r\nComboRec1=1\r\n"
                  "[Channels2]\r\nk2_2=0,1\r\n");
    const Loaded first = load(f);
    EXPECT_EQ(first.general.NAME, std::string(23, ' '));
    EXPECT_EQ(first.channels[0].threshold, -23.45);
    ASSERT_FALSE(SaveAllSettings(f, first.general, first.channels, true));
    const Loaded second = load(f);
    EXPECT_EQ(second.general, first.general);
    EXPECT_EQ(second.lines, first.lines);
    EXPECT_EQ(second.channels, first.channels);
}

TEST_F(Settings, AFailedSaveReportsTheFile) {
    auto f = files();
    writeText(dir_ / "blocker", "");
    f.file = dir_ / "blocker" / "tevra4.ini";
    EXPECT_TRUE(SaveAllSettings(f, fresh(), {ChannelSettings{}}, true));
    EXPECT_TRUE(WriteNewChannelDefaults(f, 0));
    GeneralSettings s = fresh();
    EXPECT_TRUE(LoadGeneralSettings(f, s).writeError);  // defaults still load
    EXPECT_TRUE(s.LOADALL);
}

TEST_F(Settings, KeepFreeBytesIsAShareOfChannelOnesDisk) {
    const auto f = files();
    writeText(f.file, "[Disk]\nFreeSpace=20\n[Channels1]\nWAW_PATH1=" + (dir_ / "one").string() + "\n");
    GeneralSettings s = fresh();
    std::filesystem::path asked;
    (void)LoadChannelSettings(f, 2, s, [&](const std::filesystem::path& p) {
        asked = p;
        return 5e11;
    });
    EXPECT_EQ(asked, dir_ / "one");
    EXPECT_EQ(s.KeepFreeBytes, 1e11);
    UpdateKeepFreeBytes(s, asked, [](auto&) { return std::nullopt; });
    EXPECT_EQ(s.KeepFreeBytes, 0.0);
    EXPECT_GT(diskCapacity(dir_.path()).value_or(0.0), 0.0);
}

TEST_F(Settings, ABackupMirrorsTheGoodFileAndReplacesOneThatBuiltNoChannel) {
    const auto f = files();
    writeText(f.file, "[Channels]\nMAX=2\n");
    ASSERT_FALSE(MirrorToBackup(f));
    EXPECT_EQ(readText(f.backup), "[Channels]\nMAX=2\n");

    writeText(f.file, "[Channels]\nMAX=1\n[Channels1]\nDEVICE1=gone\n");  // built no channel
    ASSERT_FALSE(RestoreFromBackup(f));
    EXPECT_EQ(load(f).lines.size(), 2u);

    std::filesystem::remove(f.backup);
    writeText(f.file, "[Channels]\nMAX=1\n[MAIN]\nAUTO=0\n");
    ASSERT_FALSE(RestoreFromBackup(f));
    const Loaded defaults = load(f);
    EXPECT_TRUE(defaults.lines.empty());
    EXPECT_TRUE(defaults.general.AUTO);

    std::filesystem::remove(f.file);
    ASSERT_FALSE(MirrorToBackup(f));  // nothing to mirror: no backup is made from nothing
    EXPECT_FALSE(std::filesystem::exists(f.backup));
}

TEST_F(Settings, AutostartEntryFollowsAuto) {
    auto f = files();
    GeneralSettings s = fresh();
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);
    const std::string entry = readText(f.autostartEntry);
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("\nExec=/opt/kestavo/bin/kestavo -w\n"), std::string::npos);

    writeText(f.file, "[MAIN]\r\nAUTO=0\r\n");
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);
    EXPECT_FALSE(std::filesystem::exists(f.autostartEntry));
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);  // absent stays absent, no error
    EXPECT_FALSE(std::filesystem::exists(f.autostartEntry));

    f.executable = "/opt/my apps/kestavo";
    ASSERT_FALSE(ApplyAutostart(f, true));
    EXPECT_NE(readText(f.autostartEntry).find("\nExec=\"/opt/my apps/kestavo\" -w\n"), std::string::npos);
}

TEST(ComputerName, TheLabelIsTheFirst15CharactersTrimmed) {
    EXPECT_EQ(computerLabel("  workstation-number-7  "), "workstation-num");
    EXPECT_EQ(computerLabel("abcdefghijklmn opq"), "abcdefghijklmn");
    EXPECT_EQ(computerLabel("pc"), "pc");
}

}  // namespace
}  // namespace kestavo::config
