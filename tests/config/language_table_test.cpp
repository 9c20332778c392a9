// Tlang: forward-only reading of a language table, and the two tables shipped with the program.
#include "config/language_table.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestavo::config {
namespace {

using namespace test;

const std::filesystem::path kShipped = std::filesystem::path(KESTAVO_SOURCE_DIR) / "data";

TEST(Tlang, ReadsForwardOnlyAndAMissedNumberEndsTheWindowsReading) {
    TempDir dir;
    writeText(dir / "Test.txt",
              "72\tseventy-two\r\n73\tseventy-three\r\n\r\n74\tseventy-four\r\nnot a number\tx\r\n"
              "76\tsix\tafter\ttabs\r\n77\t\r\n78\tlast\n");
    using Requests = std::vector<std::pair<int, std::string>>;  // one window's requests in order, and answers
    for (const Requests& window : {Requests{{74, "seventy-four"}, {73, ""}, {78, ""}},  // 73 read to the end
                                   Requests{{72, "seventy-two"}, {75, ""}, {76, ""}},   // so did the missing 75
                                   Requests{{73, "seventy-three"}, {76, "six\tafter\ttabs"}, {77, ""}, {78, "last"}}}) {
        Tlang lang(dir.path(), "Test");
        ASSERT_TRUE(lang.isOpen());
        for (const auto& [number, text] : window) EXPECT_EQ(lang.GetText(number), text) << number;
    }
    for (const char* name : {"German", "", "../Test", "."}) {
        Tlang lang(dir / "sub", name);
        EXPECT_FALSE(lang.isOpen()) << name;
        EXPECT_EQ(lang.GetText(72), "");
    }
    EXPECT_EQ(kNoLanguageFileText, "Нет файла с названиями");
}

TEST(ShippedLanguageTables, EveryWindowFindsAllItsNumbersInAscendingOrder) {
    const auto range = [](int a, int b, std::vector<int> more = {}) {
        std::vector<int> v;
        for (int n = a; n <= b; ++n) v.push_back(n);
        v.insert(v.end(), more.begin(), more.end());
        return v;
    };
    std::vector<int> main = range(1, 33);
    main.erase(main.begin() + 8);  // the main window has no text 9
                                   // The numbers each window asks for, in its order.
    // clang-format off
    const std::vector<std::vector<int>> windows = {
        main, range(34, 40), range(41, 72, {101, 102, 124, 125, 126, 127, 134}), range(73, 84, {123}),
        {85, 86, 87, 88, 89, 90, 99, 100}, {91, 92, 93}, range(103, 107), range(108, 110), range(113, 117),
        range(128, 130), range(131, 133)};
    // clang-format on
    for (const char* language : {"English", "Russian"}) {
        for (const auto& numbers : windows) {
            Tlang lang(kShipped, language);
            ASSERT_TRUE(lang.isOpen()) << language;
            for (int n : numbers) EXPECT_FALSE(lang.GetText(n).empty()) << language << " " << n;
        }
    }
    Tlang ru(kShipped, "Russian");
    // clang-format off
    for (const auto& [number, text] : std::initializer_list<std::pair<int, const char*>>{
             {1, "Файл"}, {26, " ЗАПИСЬ"}, {64, "Параметры сжатия МР3"},
             {78, "Использовать имя  компьютера в номере канала"}, {101, "Установки канала "}, {134, "Времени"}})
        EXPECT_EQ(ru.GetText(number), text);
    // clang-format on
    EXPECT_EQ(Tlang(kShipped, "English").GetText(26).front(), ' ');  // the record button keeps its blank
}

TEST(ShippedLanguageTables, AreCopiedIntoTheProgramFolderOnlyWhereMissing) {
    TempDir dir;
    writeText(dir / "program" / "Russian.txt", "1\tсвой\r\n");
    ASSERT_FALSE(InstallLanguageTables(kShipped, dir / "program"));
    EXPECT_EQ(readText(dir / "program" / "English.txt"), readText(kShipped / "English.txt"));
    EXPECT_EQ(readText(dir / "program" / "Russian.txt"), "1\tсвой\r\n");
}

}  // namespace
}  // namespace kestavo::config
