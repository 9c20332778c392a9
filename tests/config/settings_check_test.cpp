// Values the loaders cannot use as written: each is replaced by its default (a text that is not a
// number) or by the nearest allowed value, and named once with its file, section, key, text and
// the value used; and the copy kept of a configuration that built no channel.
#include "config/backup.h"
#include "config/ini_file.h"
#include "config/settings.h"
#include "support/core_services.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

namespace kestavo::config {
namespace {

using Kind = SettingsProblem::Kind;

class SettingsCheck : public ::testing::Test {
protected:
    struct Loaded {
        GeneralSettings general;
        std::vector<ChannelSetupLine> lines;
        std::vector<ChannelSettings> channels;
        std::vector<SettingsProblem> problems;  // general load's, then the channel load's
    };
    Loaded load(std::size_t channels = 1) const {
        Loaded out;
        const GeneralLoad general = LoadGeneralSettings(f, out.general);
        out.lines = general.lines;
        const ChannelLoad loaded = LoadChannelSettings(
            f, channels, out.general, [](auto&) { return 1e12; }, false);
        out.channels = loaded.channels;
        out.problems = general.problems;
        out.problems.insert(out.problems.end(), loaded.problems.begin(), loaded.problems.end());
        return out;
    }

    test::TempDir dir_{"kestavo-check"};
    ConfigFiles f = test::filesIn(dir_.path());
};

TEST_F(SettingsCheck, EachUnusableValueIsReplacedAndNamedWithItsSectionKeyTextAndTheValueUsed) {
    // The expected replacements: the tabulated default (missing key) or fallback (real that does not
    // parse) for texts that are not numbers; for numbers the nearest end of the key's range, the
    // nearest offered MP3 bit rate or sample rate, the nearest of 8 and 16 bits.
    // clang-format off
    struct Case {
        const char* section; const char* key; const char* text;
        Kind kind; const char* used;
        std::function<std::string(const Loaded&)> value;  // the loaded value, as text
    };
    const auto ch = [](auto member) {
        return [member](const Loaded& l) { return std::to_string(l.channels.at(0).*member); };
    };
    const auto real = [](double ChannelSettings::*member) {
        return [member](const Loaded& l) { return formatReal(l.channels.at(0).*member, '.'); };
    };
    const Case cases[] = {
        {"Channels1", "POROG1", "-35 dB", Kind::NotANumber, "0", real(&ChannelSettings::threshold)},
        {"Channels1", "POROG1", "-90", Kind::OutOfRange, "-60", real(&ChannelSettings::threshold)},
        {"Channels1", "POROG1", "6", Kind::OutOfRange, "0", real(&ChannelSettings::threshold)},
        {"Channels1", "POROG1", "-35,5", Kind::NotANumber, "0", real(&ChannelSettings::threshold)},  // '.' is the separator
        {"Channels1", "zad_stop1", "soon", Kind::NotANumber, "10", real(&ChannelSettings::stopDelaySeconds)},
        {"Channels1", "zad_rec1", "-2", Kind::OutOfRange, "0", real(&ChannelSettings::startDelaySeconds)},
        {"Channels1", "K2_1", "x", Kind::NotANumber, "7.6", real(&ChannelSettings::k2)},
        {"Channels1", "PPOROG1", "3", Kind::OutOfRange, "1", real(&ChannelSettings::pulseThreshold)},
        {"Channels1", "Max_Time1", "ten", Kind::NotANumber, "15", ch(&ChannelSettings::maxTimeMinutes)},
        {"Channels1", "Max_Time1", "-1", Kind::OutOfRange, "0", ch(&ChannelSettings::maxTimeMinutes)},
        {"Channels1", "Pred_Time1", "10000000", Kind::OutOfRange, "60", ch(&ChannelSettings::preRecordSeconds)},
        {"Channels1", "Min_Time1", "-5", Kind::OutOfRange, "0", ch(&ChannelSettings::minTimeSeconds)},
        {"Channels1", "VOXmode1", "7", Kind::OutOfRange, "3", ch(&ChannelSettings::recordMode)},
        {"Channels1", "Filebits1", "24", Kind::OutOfRange, "16", ch(&ChannelSettings::fileBits)},
        {"Channels1", "MP3Bitrate1", "100", Kind::OutOfRange, "96", ch(&ChannelSettings::mp3Bitrate)},
        {"Channels1", "MP3Bitrate1", "1000", Kind::OutOfRange, "128", ch(&ChannelSettings::mp3Bitrate)},
        {"Channels1", "MP3Quality1", "0", Kind::OutOfRange, "1", ch(&ChannelSettings::mp3Quality)},
        {"Channels1", "MP3SampleRate1", "11000", Kind::OutOfRange, "11025", ch(&ChannelSettings::mp3SampleRate)},
        {"Channels1", "CompressMode1", "2", Kind::OutOfRange, "1", ch(&ChannelSettings::compressMode)},
        {"Channels1", "auto1", "yes", Kind::NotANumber, "0", ch(&ChannelSettings::autoRecord)},
        {"Disk", "FreeSpace", "150", Kind::OutOfRange, "100", [](const Loaded& l) { return std::to_string(l.general.FreeSpace); }},
        {"DirCh", "Inv_Point", "0", Kind::OutOfRange, "1", [](const Loaded& l) { return std::to_string(l.general.Inv_Point); }},
        {"OUT", "Device", "-7", Kind::OutOfRange, "-1", [](const Loaded& l) { return std::to_string(l.general.Device); }},
        {"MAIN", "DIRS_D", "on", Kind::NotANumber, "1", [](const Loaded& l) { return std::to_string(l.general.DIRS_D); }},
    };
    // clang-format on
    for (const Case& c : cases) {
        const std::string section =
            c.section == std::string("Channels1") ? "[Channels1]" : std::string("[") + c.section + "]";
        test::writeIni(f.file,
                       {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=1", section, std::string(c.key) + "=" + c.text});
        const Loaded l = load();
        ASSERT_EQ(l.problems.size(),
                  c.key == std::string("MP3Bitrate1") || c.key == std::string("MP3Quality1") ||
                          c.key == std::string("MP3SampleRate1") || c.key == std::string("CompressMode1")
                      ? 2u  // read by both loads: the core shows it once
                      : 1u)
            << c.key << "=" << c.text;
        const SettingsProblem& p = l.problems.front();
        EXPECT_EQ(std::tuple(p.kind, p.file, p.section, p.key, p.text, p.used),
                  std::tuple(c.kind, f.file, std::string(c.section), std::string(c.key), std::string(c.text),
                             std::string(c.used)))
            << c.key << "=" << c.text;
        EXPECT_EQ(c.value(l), c.used) << c.key << "=" << c.text;
        if (l.problems.size() == 2) EXPECT_EQ(l.problems[0], l.problems[1]);
    }
}

TEST_F(SettingsCheck, TheSetupLinesCarryTheValuesUsedAndTheChannelCountFollowsItsOwnRules) {
    test::writeIni(f.file,
                   {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=250", "[Channels1]", "MP3Bitrate1=36 kbit",
                    "MP3SampleRate1=96000"});
    Loaded l = load(0);
    ASSERT_EQ(l.lines.size(), 2u);  // above 100: two channels
    EXPECT_EQ(std::tuple(l.lines[0].mp3Bitrate, l.lines[0].mp3SampleRate), std::tuple("16", "48000"));
    ASSERT_EQ(l.problems.size(), 3u);
    EXPECT_EQ(std::tuple(l.problems[0].key, l.problems[0].used, l.problems[0].allowed),
              std::tuple("MAX", "2", "0..100"));
    EXPECT_EQ(std::tuple(l.problems[1].key, l.problems[1].kind), std::tuple("MP3Bitrate1", Kind::NotANumber));
    EXPECT_EQ(std::tuple(l.problems[2].key, l.problems[2].kind), std::tuple("MP3SampleRate1", Kind::OutOfRange));

    test::writeIni(f.file, {"[Channels]", "MAX=-5"});
    l = load(0);
    EXPECT_TRUE(l.lines.empty());
    ASSERT_EQ(l.problems.size(), 1u);
    EXPECT_EQ(std::tuple(l.problems[0].text, l.problems[0].used), std::tuple("-5", "0"));
}

TEST_F(SettingsCheck, MissingKeysAndGoodValuesAreNotReported) {
    test::writeIni(f.file,
                   {"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=1", "[Channels1]", "POROG1=-60", "Pred_Time1=60",
                    "Max_Time1=0x10", "MP3Bitrate1=8", "Filebits1=8", "zad_stop1=0.5"});
    const Loaded l = load();
    EXPECT_TRUE(l.problems.empty());
    EXPECT_EQ(std::tuple(l.channels[0].threshold, l.channels[0].preRecordSeconds, l.channels[0].maxTimeMinutes,
                         l.channels[0].stopDelaySeconds),
              std::tuple(-60.0, 60, 16, 0.5));
}

TEST_F(SettingsCheck, TheMessageNamesFileSectionKeyTextAndValueUsed) {
    test::writeIni(f.file, {"[Channels1]", "POROG1=-35 dB", "Pred_Time1=10000000"});
    const Loaded l = load();
    ASSERT_EQ(l.problems.size(), 2u);  // in reading order: Pred_Time before POROG
    EXPECT_EQ(l.problems[0].message(),
              f.file.string() + " [Channels1] Pred_Time1: \"10000000\" is outside 0..60; using 60");
    EXPECT_EQ(l.problems[1].message(), f.file.string() + " [Channels1] POROG1: \"-35 dB\" is not a number; using 0");
}

TEST_F(SettingsCheck, ASaveWritesTheValuesUsedSoTheNextStartHasNothingToReport) {
    test::writeIni(f.file, {"[Channels]", "MAX=1", "[Channels1]", "POROG1=-35 dB", "Max_Time1=ten", "zad_rec1=99999"});
    const Loaded first = load();
    ASSERT_EQ(first.problems.size(), 3u);
    ASSERT_FALSE(SaveAllSettings(f, first.general, first.channels, false));
    const Loaded second = load();
    EXPECT_TRUE(second.problems.empty());
    EXPECT_EQ(std::tuple(second.channels[0].threshold, second.channels[0].maxTimeMinutes,
                         second.channels[0].startDelaySeconds),
              std::tuple(0.0, 15, 3600.0));
}

TEST_F(SettingsCheck, AFileThatBuiltNoChannelIsKeptBesideItselfUnderANameWithTheTime) {
    const std::string text = "[Channels]\r\nMAX=-5\r\n; the user's own notes\r\n";
    test::writeText(f.file, text);
    const platform::LocalTime at{2026, 1, 2, 3, 4, 5};
    const KeptFile first = KeepUnusableFile(f, at);
    ASSERT_FALSE(first.error);
    EXPECT_EQ(first.path, f.file.parent_path() / "tevra4.ini.unusable-20260102-030405");
    EXPECT_EQ(test::readText(first.path), text);
    EXPECT_EQ(KeepUnusableFile(f, {2026, 1, 3}).path, first.path);  // the same text again: the copy it has
    test::writeText(f.file, text + "; edited\r\n");
    const KeptFile second = KeepUnusableFile(f, at);  // the same second again: a new name
    EXPECT_EQ(second.path, f.file.parent_path() / "tevra4.ini.unusable-20260102-030405-2");
    EXPECT_EQ(test::readText(first.path), text);
    EXPECT_EQ(test::readText(second.path), text + "; edited\r\n");
    ASSERT_FALSE(RestoreFromBackup(f));  // no backup: the working file goes, the copies stay
    EXPECT_FALSE(std::filesystem::exists(f.file));
    EXPECT_EQ(test::readText(second.path), text + "; edited\r\n");
    const KeptFile none = KeepUnusableFile(f, at);  // nothing to keep
    EXPECT_EQ(std::tuple(none.path, bool(none.error)), std::tuple(std::filesystem::path(), false));
}

}  // namespace
}  // namespace kestavo::config
