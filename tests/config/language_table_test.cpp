// Tlang: forward-only reading of a language table, and the two tables shipped with the program.
#include "config/language_table.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestavo::config {
namespace {

using testing::readText;
using testing::TempFolder;
using testing::writeText;

class LanguageTable : public ::testing::Test {
protected:
    void SetUp() override {
        writeText(dir_ / "Test.txt",
                  "72\tseventy-two\r\n73\tseventy-three\r\n\r\n74\tseventy-four\r\nnot a number\tx\r\n"
                  "76\tsix\tafter\ttabs\r\n77\t\r\n78\tlast\n");
    }
    TempFolder dir_;
};

TEST_F(LanguageTable, AnEarlierNumberAfterALaterOneComesBackEmpty) {
    Tlang lang(dir_.path(), "Test");
    ASSERT_TRUE(lang.isOpen());
    EXPECT_EQ(lang.GetText(74), "seventy-four");
    EXPECT_EQ(lang.GetText(73), "");
    EXPECT_EQ(lang.GetText(78), "");  // the request for 73 read to the end
}

TEST_F(LanguageTable, AMissingNumberEndsTheWindowsReading) {
    Tlang lang(dir_.path(), "Test");
    EXPECT_EQ(lang.GetText(72), "seventy-two");
    EXPECT_EQ(lang.GetText(75), "");
    EXPECT_EQ(lang.GetText(76), "");
}

TEST_F(LanguageTable, TextsKeepTheirTabsAndOddLinesAreSkipped) {
    Tlang lang(dir_.path(), "Test");
    EXPECT_EQ(lang.GetText(73), "seventy-three");
    EXPECT_EQ(lang.GetText(76), "six\tafter\ttabs");  // past an empty and a non-numeric line
    EXPECT_EQ(lang.GetText(77), "");
    EXPECT_EQ(lang.GetText(78), "last");
}

TEST_F(LanguageTable, AMissingTableStaysClosed) {
    for (const char* name : {"German", "", "../Test", "."}) {
        Tlang lang(dir_.path(), name);
        EXPECT_FALSE(lang.isOpen()) << name;
        EXPECT_EQ(lang.GetText(72), "");
    }
    EXPECT_EQ(kNoLanguageFileText, "Нет файла с названиями");
}

TEST(ShippedLanguageTables, EveryWindowFindsAllItsNumbersInAscendingOrder) {
    // The numbers each window asks for, in its order.
    std::vector<std::vector<int>> windows;
    const auto range = [](int a, int b) {
        std::vector<int> v;
        for (int n = a; n <= b; ++n) v.push_back(n);
        return v;
    };
    auto main = range(1, 33);
    main.erase(std::find(main.begin(), main.end(), 9));  // the main window has no text 9
    windows.push_back(main);
    windows.push_back(range(34, 40));
    auto settings = range(41, 72);
    for (int n : {101, 102, 124, 125, 126, 127, 134}) settings.push_back(n);
    windows.push_back(settings);
    auto general = range(73, 84);
    general.push_back(123);
    windows.push_back(general);
    windows.push_back({85, 86, 87, 88, 89, 90, 99, 100});
    windows.push_back({91, 92, 93});
    windows.push_back(range(103, 107));
    windows.push_back(range(108, 110));
    windows.push_back(range(113, 117));
    windows.push_back(range(128, 130));
    windows.push_back(range(131, 133));

    const std::filesystem::path data = std::filesystem::path(KESTAVO_SOURCE_DIR) / "data";
    for (const char* language : {"English", "Russian"}) {
        for (const auto& numbers : windows) {
            Tlang lang(data, language);
            ASSERT_TRUE(lang.isOpen()) << language;
            for (int n : numbers) EXPECT_FALSE(lang.GetText(n).empty()) << language << " " << n;
        }
    }
}

TEST(ShippedLanguageTables, RussianTextsAreTheDesignCaptions) {
    const std::filesystem::path data = std::filesystem::path(KESTAVO_SOURCE_DIR) / "data";
    Tlang ru(data, "Russian");
    EXPECT_EQ(ru.GetText(1), "Файл");
    EXPECT_EQ(ru.GetText(26), " ЗАПИСЬ");
    EXPECT_EQ(ru.GetText(64), "Параметры сжатия МР3");
    EXPECT_EQ(ru.GetText(78), "Использовать имя  компьютера в номере канала");
    EXPECT_EQ(ru.GetText(101), "Установки канала ");
    EXPECT_EQ(ru.GetText(134), "Времени");
    Tlang en(data, "English");
    EXPECT_EQ(en.GetText(26).front(), ' ');  // record button text keeps its leading blank
}

TEST(ShippedLanguageTables, AreCopiedIntoTheProgramFolderOnlyWhereMissing) {
    TempFolder dir;
    writeText(dir / "program" / "Russian.txt", "1\tсвой\r\n");
    const std::filesystem::path data = std::filesystem::path(KESTAVO_SOURCE_DIR) / "data";
    ASSERT_FALSE(InstallLanguageTables(data, dir / "program"));
    EXPECT_EQ(readText(dir / "program" / "English.txt"), readText(data / "English.txt"));
    EXPECT_EQ(readText(dir / "program" / "Russian.txt"), "1\tсвой\r\n");
}

}  // namespace
}  // namespace kestavo::config
