// IniFile: the private-profile behaviour the configuration relies on.
#include "config/ini_file.h"
#include "platform/locale.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using namespace test;

TEST(IniFile, MissingKeysAndUnreadableFilesGiveTheDefaultAndLongValuesAreCutAt1023Bytes) {
    TempDir dir;
    std::string cyrillic;
    for (int i = 0; i < 600; ++i) cyrillic += "ж";
    writeText(dir / "t.ini", "[A]\nlong=" + std::string(2000, 'a') + "\nru=" + cyrillic + "\n");
    IniFile ini(dir / "t.ini", '.');
    EXPECT_EQ(ini.readString("A", "none", "dflt"), "dflt");
    EXPECT_EQ(ini.readString("B", "long", "dflt"), "dflt");
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

}  // namespace
}  // namespace kestavo::config
