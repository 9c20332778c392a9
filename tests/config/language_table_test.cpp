// Tlang: forward-only reading of a language table, and the two tables shipped with the program.
#include "config/language_table.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace kestavo::config {
namespace {

using namespace test;

const std::filesystem::path kShipped = std::filesystem::path(KESTAVO_SOURCE_DIR) / "data";

TEST(Tlang, ReadsForwardOnlyAndAMissedNumberEndsTheWindowsReading) {
    const std::filesystem::path dir = std::filesystem::path(KESTAVO_TEST_DATA) / "config";  // holds Test.txt
    using Requests = std::vector<std::pair<int, std::string>>;  // one window's requests in order, and answers
    for (const Requests& window : {Requests{{74, "seventy-four"}, {73, ""}, {78, ""}},  // 73 read to the end
                                   Requests{{72, "seventy-two"}, {75, ""}, {76, ""}},   // so did the missing 75
                                   Requests{{73, "seventy-three"}, {76, "six\tafter\ttabs"}, {77, ""}, {78, "last"}}}) {
        Tlang lang(dir, "Test");
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
    std::istringstream windows(fixture("config/window_captions.txt"));  // each window's numbers in its order
    for (std::string line; std::getline(windows, line);) {
        for (const char* language : {"English", "Russian"}) {
            Tlang lang(kShipped, language);
            ASSERT_TRUE(lang.isOpen()) << language;
            std::istringstream numbers(line);
            for (int n; numbers >> n;) EXPECT_FALSE(lang.GetText(n).empty()) << language << " " << n;
        }
    }
    Tlang ru(kShipped, "Russian");
    std::istringstream captions(fixture("config/russian_captions.txt"));  // number TAB caption, ascending
    for (std::string line; std::getline(captions, line);)
        EXPECT_EQ(ru.GetText(std::stoi(line)), line.substr(line.find('\t') + 1)) << line;
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
