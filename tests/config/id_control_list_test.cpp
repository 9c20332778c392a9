// Tctrol: the control list file and "*" matching.
#include "config/id_control_list.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using testing::readText;
using testing::TempFolder;
using testing::writeText;

TEST(Tctrol, EightFourNineFiveAndSevenStarsMatchElevenCharactersOnly) {
    TempFolder dir;
    writeText(dir / "CONTROL" / "1.ctl", "8495******* Moscow mobile\r\n");
    Tctrol list(1, dir.path());
    EXPECT_TRUE(list.active());
    EXPECT_EQ(list.Check("84951234567"), "Moscow mobile");
    EXPECT_EQ(list.Check("8495*******"), "Moscow mobile");
    EXPECT_EQ(list.Check("8495123456"), "");
    EXPECT_EQ(list.Check("849512345678"), "");
    EXPECT_EQ(list.Check("84961234567"), "");
    EXPECT_EQ(list.Check(""), "");
}

TEST(Tctrol, ALineWithoutABlankAnswersItselfAndTheFirstMatchWins) {
    TempFolder dir;
    writeText(dir / "CONTROL" / "2.ctl", "123\n\n12* second\n1*3 third\n1234 \n55 a b c\n");
    Tctrol list(2, dir.path());
    ASSERT_EQ(list.entries().size(), 5u);
    EXPECT_EQ(list.Check("123"), "123");
    EXPECT_EQ(list.Check("124"), "second");
    EXPECT_EQ(list.Check("1234"), "");     // listed with an empty answer: starts nothing
    EXPECT_EQ(list.Check("55"), "a b c");  // the answer is everything after the first blank
}

TEST(Tctrol, OneStarMatchesOneLetterOfAnyAlphabet) {
    TempFolder dir;
    writeText(dir / "CONTROL" / "3.ctl",
              "\xEF\xBB\xBF"
              "Борт-* found\n");  // saved with a byte-order mark
    Tctrol list(3, dir.path());
    EXPECT_EQ(list.Check("Борт-7"), "found");
    EXPECT_EQ(list.Check("Борт-Ж"), "found");
    EXPECT_EQ(list.Check("Борт-77"), "");
    EXPECT_TRUE(ControlPatternMatches("\xFF*", "\xFFz"));  // bytes that are not UTF-8 count singly
}

TEST(Tctrol, AMissingOrEmptyFileIsCreatedAndNothingMatches) {
    TempFolder dir;
    Tctrol list(4, dir.path());
    EXPECT_FALSE(list.loadError());
    EXPECT_FALSE(list.active());
    EXPECT_TRUE(std::filesystem::exists(dir / "CONTROL" / "4.ctl"));
    EXPECT_EQ(list.Check("4"), "");

    writeText(dir / "CONTROL" / "4.ctl", "4 four\n");  // the editor saved a list
    ASSERT_FALSE(list.Reload());
    EXPECT_EQ(list.Check("4"), "four");
    writeText(dir / "CONTROL" / "4.ctl", "\r\n\r\n");
    ASSERT_FALSE(list.Reload());
    EXPECT_FALSE(list.active());
    EXPECT_EQ(list.Check("4"), "");
    EXPECT_EQ(readText(dir / "CONTROL" / "4.ctl"), "\r\n\r\n");
}

TEST(Tctrol, AnUnusableFolderIsReportedAndMatchesNothing) {
    TempFolder dir;
    writeText(dir / "CONTROL", "a file where the folder should be");
    Tctrol list(1, dir.path());
    EXPECT_TRUE(list.loadError());
    EXPECT_EQ(list.Check("1"), "");
}

}  // namespace
}  // namespace kestavo::config
