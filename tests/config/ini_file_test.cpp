// The INI reader and writer: the private-profile behaviour the configuration relies on.
#include "config/settings.h"
#include "platform/locale.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using testing::readText;
using testing::TempFolder;
using testing::writeText;

TEST(IniFile, SectionAndKeyNamesMatchWithoutRegardToCase) {
    TempFolder dir;
    writeText(dir / "t.ini", "[channels1]\r\nk2_1=5\r\n");
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readInteger("Channels1", "K2_1", 0), 5);
    ASSERT_FALSE(ini.writeInteger("CHANNELS1", "K2_1", 6));
    EXPECT_EQ(ini.readInteger("channels1", "k2_1", 0), 6);
    EXPECT_EQ(readText(dir / "t.ini").find("k2_1"), std::string::npos);  // one key, rewritten in place
}

TEST(IniFile, MissingKeysGiveTheDefaultAndLongValuesAreCutAt1023Bytes) {
    TempFolder dir;
    const std::string cyrillic = [] {
        std::string s;
        for (int i = 0; i < 600; ++i) s += "ж";
        return s;
    }();
    writeText(dir / "t.ini", "[A]\nlong=" + std::string(2000, 'a') + "\nru=" + cyrillic + "\n");
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readString("A", "none", "dflt"), "dflt");
    EXPECT_EQ(ini.readString("B", "long", "dflt"), "dflt");
    EXPECT_EQ(ini.readString("A", "long", ""), std::string(1023, 'a'));
    EXPECT_EQ(ini.readString("A", "ru", ""), cyrillic.substr(0, 1022));  // 511 whole two-byte letters
}

TEST(IniFile, IntegersAreDecimalOrHexAndUnreadableOnesGiveTheDefault) {
    TempFolder dir;
    writeText(dir / "t.ini",
              "[I]\na=0x1F\nb=0X10\nc=-12\nd= 42 \ne=12abc\nf=\ng=99999999999\nh=1.5\n"
              "[B]\nt=2\nz=0\nx=yes\nn=-1\n");
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readInteger("I", "a", 7), 31);
    EXPECT_EQ(ini.readInteger("I", "b", 7), 16);
    EXPECT_EQ(ini.readInteger("I", "c", 7), -12);
    EXPECT_EQ(ini.readInteger("I", "d", 7), 42);
    for (const char* bad : {"e", "f", "g", "h"}) EXPECT_EQ(ini.readInteger("I", bad, 7), 7) << bad;
    EXPECT_TRUE(ini.readBool("B", "t", false));
    EXPECT_FALSE(ini.readBool("B", "z", true));
    EXPECT_TRUE(ini.readBool("B", "x", true));
    EXPECT_FALSE(ini.readBool("B", "x", false));
    EXPECT_TRUE(ini.readBool("B", "n", false));
}

TEST(IniFile, RealNumbersFollowTheDecimalSeparatorOfTheLocale) {
    const char comma = platform::decimalSeparatorOf("ru_RU.UTF-8");
    const char point = platform::decimalSeparatorOf("en_US.UTF-8");
    ASSERT_EQ(comma, ',');
    ASSERT_EQ(point, '.');
    EXPECT_EQ(platform::decimalSeparatorOf("xx_NOT.INSTALLED"), '.');

    TempFolder dir;
    writeText(dir / "t.ini", "[R]\nc=-12,5\np=-12.5\nx=1e-3\nn=nan\nw= 7 \n");
    IniFile ru(dir / "t.ini", comma);
    IniFile en(dir / "t.ini", point);
    EXPECT_EQ(ru.readReal("R", "c", "0", 99.0), -12.5);
    EXPECT_EQ(ru.readReal("R", "p", "0", 99.0), 99.0);
    EXPECT_EQ(en.readReal("R", "p", "0", 99.0), -12.5);
    EXPECT_EQ(en.readReal("R", "c", "0", 99.0), 99.0);
    EXPECT_EQ(en.readReal("R", "x", "0", 99.0), 0.001);
    EXPECT_EQ(en.readReal("R", "n", "0", 99.0), 99.0);
    EXPECT_EQ(en.readReal("R", "w", "0", 99.0), 7.0);
    EXPECT_EQ(en.readReal("R", "missing", "1,8", 1.8), 1.8);  // a comma default under "." falls back
    EXPECT_EQ(ru.readReal("R", "missing", "0,008", 5.0), 0.008);

    ASSERT_FALSE(ru.writeReal("R", "out", 0.008));
    EXPECT_NE(readText(dir / "t.ini").find("out=0,008\r\n"), std::string::npos);
    ASSERT_FALSE(en.writeReal("R", "out", 0.1 + 0.2));
    EXPECT_EQ(en.readReal("R", "out", "0", 0.0), 0.1 + 0.2);  // written so that it reads back exactly
}

TEST(IniFile, AWriteKeepsEveryLineItDoesNotWrite) {
    TempFolder dir;
    const std::string before =
        "; made by hand\r\nstray=before any section\r\n[Other]\r\nkeep=1\r\njunk line\r\n"
        "\r\n[Main]\r\nA=1\r\n\r\n[Main]\r\nA=2\r\n";
    writeText(dir / "t.ini", before);
    IniFile ini(dir / "t.ini", '.');
    ASSERT_FALSE(ini.writeString("main", "B", "x"));
    ASSERT_FALSE(ini.writeString("New", "C", "y"));
    EXPECT_EQ(readText(dir / "t.ini"),
              "; made by hand\r\nstray=before any section\r\n[Other]\r\nkeep=1\r\njunk line\r\n"
              "\r\n[Main]\r\nA=1\r\nB=x\r\n\r\n[Main]\r\nA=2\r\n\r\n[New]\r\nC=y\r\n");
    EXPECT_EQ(ini.readString("Main", "A", ""), "1");  // the first of two equal sections counts
    EXPECT_EQ(ini.readString("Other", "keep", ""), "1");
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path())->path().filename(), "t.ini");  // no temporary left
}

TEST(IniFile, EveryTextReadsBackAsWritten) {
    TempFolder dir;
    IniFile ini(dir / "t.ini", '.');
    for (const std::string& value : {std::string(23, ' '), std::string("\"quoted\""), std::string(" a = b "),
                                     std::string("'x'"), std::string("tab\there"), std::string("Сервер 1")}) {
        ASSERT_FALSE(ini.writeString("SERVER", "NAME", value));
        IniFile other(dir / "t.ini", '.');
        EXPECT_EQ(other.readString("SERVER", "NAME", "?"), value);
    }
    ASSERT_FALSE(ini.writeString("SERVER", "NAME", "two\r\nlines"));
    EXPECT_EQ(ini.readString("SERVER", "NAME", "?"), "two  lines");
    EXPECT_EQ(ini.readString("SERVER", "lines", "?"), "?");  // no key smuggled in by a line break
}

TEST(IniFile, ReadsSeeWritesMadeThroughAnotherObject) {
    TempFolder dir;
    IniFile a(dir / "t.ini", '.');
    IniFile b(dir / "t.ini", '.');
    EXPECT_EQ(b.readInteger("S", "k", 0), 0);
    ASSERT_FALSE(a.writeInteger("S", "k", 1));
    EXPECT_EQ(b.readInteger("S", "k", 0), 1);
    ASSERT_FALSE(b.writeInteger("S", "j", 2));
    EXPECT_EQ(a.readInteger("S", "k", 0), 1);
    ASSERT_FALSE(a.writeInteger("S", "k", 3));
    EXPECT_EQ(b.readInteger("S", "j", 0), 2);  // a's write kept b's key
}

TEST(IniFile, AFailedWriteLeavesTheFileAndNamesIt) {
    TempFolder dir;
    writeText(dir / "blocker", "a file where a folder should be");
    const auto path = dir / "blocker" / "tevra4.ini";
    IniFile ini(path, '.');
    EXPECT_EQ(ini.readInteger("S", "k", 4), 4);
    EXPECT_TRUE(ini.writeInteger("S", "k", 1));
    EXPECT_EQ(unableToWriteText(path), "Unable to write to " + path.string());
}

TEST(IniFile, AFileThatCannotBeReadGivesDefaultsAndIsNeverReplaced) {
    TempFolder dir;
    std::filesystem::create_directories(dir / "tevra4.ini" / "inside");  // not a readable file
    IniFile ini(dir / "tevra4.ini", '.');
    EXPECT_EQ(ini.readString("S", "k", "d"), "d");
    EXPECT_TRUE(ini.writeString("S", "k", "v"));
    EXPECT_TRUE(std::filesystem::exists(dir / "tevra4.ini" / "inside"));
}

}  // namespace
}  // namespace kestavo::config
