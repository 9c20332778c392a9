// Tctrol: the control list file and "*" matching.
#include "config/id_control_list.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using namespace test;

TEST(Tctrol, TheFirstMatchingLineAnswersEachStarMatchesOneCharacterAndAnEmptyListNothing) {
    TempDir dir;
    writeText(dir / "CONTROL" / "1.ctl", fixture("config/control.ctl"));  // saved with a byte-order mark
    Tctrol list(1, dir.path());
    EXPECT_TRUE(list.active());
    EXPECT_EQ(list.entries().size(), 7u);
    // A line without a blank answers itself ("123", before "1*3"); "1234" is listed with an empty answer and
    // starts nothing; the answer is everything after the first blank.
    // clang-format off
    for (const auto& [id, answer] : std::initializer_list<std::pair<const char*, const char*>>{
             {"84951234567", "Moscow mobile"}, {"8495*******", "Moscow mobile"}, {"8495123456", ""},
             {"849512345678", ""}, {"84961234567", ""}, {"", ""}, {"123", "123"}, {"124", "second"}, {"1x3", "third"},
             {"1234", ""}, {"55", "a b c"}, {"Борт-7", "found"}, {"Борт-Ж", "found"}, {"Борт-77", ""}})
        EXPECT_EQ(list.Check(id), answer) << id;
    // clang-format on
    EXPECT_TRUE(ControlPatternMatches("\xFF*", "\xFFz"));  // bytes that are not UTF-8 count singly
    // A missing or empty list is created and matches nothing.
    Tctrol four(4, dir.path());
    EXPECT_FALSE(four.loadError());
    EXPECT_FALSE(four.active());
    EXPECT_EQ(readText(dir / "CONTROL" / "4.ctl"), "");
    EXPECT_TRUE(std::filesystem::exists(dir / "CONTROL" / "4.ctl"));
    writeText(dir / "CONTROL" / "4.ctl", "4 four\n");  // the editor saved a list
    ASSERT_FALSE(four.Reload());
    EXPECT_EQ(four.Check("4"), "four");
    writeText(dir / "CONTROL" / "4.ctl", "\r\n\r\n");
    ASSERT_FALSE(four.Reload());
    EXPECT_FALSE(four.active());
    EXPECT_EQ(four.Check("4"), "");
    EXPECT_EQ(readText(dir / "CONTROL" / "4.ctl"), "\r\n\r\n");
    writeText(dir / "other" / "CONTROL", "a file where the folder should be");
    Tctrol unusable(1, dir / "other");
    EXPECT_TRUE(unusable.loadError());
    EXPECT_EQ(unusable.Check("1"), "");
}

}  // namespace
}  // namespace kestavo::config
