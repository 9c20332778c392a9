// The two lists a channel consults while it runs, each kept in a text file per channel:
// Tperiods, the recording schedule (timeN.tim): CheckTime's decisions, cutting the day, deleting with
// tolerance; Tctrol, the caller-id control list (CONTROL/N.ctl): "*" matching and the file.
#include "config/id_control_list.h"
#include "config/schedule.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using namespace test;

double hm(int h, int m, int s = 0) { return (h * 3600 + m * 60 + s) / 86400.0; }

TEST(Tperiods, EnteringAPeriodStopsOnceThenRecordsAndTheSamePeriodNextDayRecordsAtOnce) {
    // clang-format off
    struct Case { std::vector<std::pair<double, double>> periods; std::vector<std::pair<double, int>> checks; };
    const Case cases[] = {
        // Back to back, the start inclusive: at 10:00 both contain the time and the second takes
        // over; the remembered period is never reset, so on the next day it records at once.
        {{{hm(9, 0), hm(10, 0)}, {hm(10, 0), hm(11, 0)}},
         {{hm(8, 59, 59), -1}, {hm(9, 0), -1}, {hm(9, 30), 1}, {hm(9, 59, 59), 1}, {hm(10, 0), -1},
          {hm(10, 0, 1), 1}, {hm(10, 30), 1}, {hm(12, 0), -1}, {46000.0 + hm(10, 15), 1}}},
        // Overlapping: the remembered index flips on every check and never records.
        {{{hm(9, 0), hm(11, 0)}, {hm(10, 0), hm(12, 0)}}, {{hm(10, 0), -1}, {hm(10, 1), -1}, {hm(10, 59), -1}}},
        // A start after its stop contains nothing.
        {{{hm(22, 0), hm(2, 0)}}, {{hm(23, 0), -1}, {hm(1, 0), -1}, {hm(22, 0), -1}, {hm(2, 0), -1}, {hm(23, 0), -1}}},
        {{}, {{hm(12, 0), -1}}}};
    // clang-format on
    for (const Case& c : cases) {
        TempDir dir;
        Tperiods p(1, dir.path());
        for (const auto& [start, stop] : c.periods) ASSERT_FALSE(p.AddPeriod("", false, start, stop));
        for (const auto& [time, answer] : c.checks) EXPECT_EQ(p.CheckTime(time), answer) << FormatTimeOfDay(time);
    }
}

TEST(Tperiods, ASevenMinuteCutGives206PeriodsEndingPastMidnightAndAnHourCut24) {
    TempDir dir;
    Tperiods p(4, dir.path());
    ASSERT_FALSE(p.CutIntoPeriods(7));
    EXPECT_EQ(readText(dir / "time4.tim"), fixture("config/seven_minute_cut.tim"));
    EXPECT_EQ(p.CheckTime(hm(23, 59, 59)), -1);
    EXPECT_EQ(p.CheckTime(hm(23, 59, 59)), 1);  // the last period matches until midnight
    EXPECT_EQ(p.CheckTime(hm(0, 1)), -1);       // ... and not after it: 0:01 is the first period
    for (int minutes : {0, -5}) ASSERT_FALSE(p.CutIntoPeriods(minutes));  // no cut
    EXPECT_EQ(p.periods().size(), 206u);
    ASSERT_FALSE(p.CutIntoPeriods(60));
    EXPECT_EQ(readText(dir / "time4.tim"), fixture("config/hour_cut.tim"));
}

TEST(Tperiods, DeletingMatchesWithinAboutOneSecond) {
    TempDir dir;
    Tperiods p(1, dir.path());
    ASSERT_FALSE(p.AddPeriod("", false, hm(9, 0), hm(10, 0)));
    ASSERT_FALSE(p.AddPeriod("", false, hm(9, 0), hm(10, 0)));
    ASSERT_FALSE(p.DeletePeriod(hm(9, 0, 1), hm(10, 0)));  // 1 s = 0.0000116 day: too far
    EXPECT_EQ(p.periods().size(), 2u);
    ASSERT_FALSE(p.DeletePeriod(hm(9, 0) + 0.000009, 3.0 + hm(10, 0)));  // the date part is dropped
    EXPECT_EQ(p.periods().size(), 1u);                                   // only the first one goes
    EXPECT_EQ(readText(dir / "time1.tim"), "9:00:00\t10:00:00\t\r\n");   // saved
    ASSERT_FALSE(p.CutIntoPeriods(7));
    const auto last = p.FillList().back();  // typed again from the list
    ASSERT_FALSE(p.DeletePeriod(*ParseTimeOfDay(last.first), *ParseTimeOfDay(last.second)));
    EXPECT_EQ(p.periods().size(), 205u);
}

TEST(Tperiods, UnreadableLinesAreSkippedAndTheRestKeptForTheLocalClock) {
    TempDir dir;
    writeText(dir / "time3.tim", fixture("config/unreadable_lines.tim"));
    Tperiods p(3, dir.path());
    EXPECT_FALSE(p.loadError());
    EXPECT_EQ(p.periods(),
              (std::vector<SchedulePeriod>{{hm(9, 0), hm(10, 0), ""},
                                           {hm(11, 0), hm(12, 30), "text\twith\ttabs"},
                                           {hm(13, 0), hm(14, 0), ""},
                                           {hm(23, 55), 1442.0 / 1440, ""}}));
    const platform::LocalTime t{2026, 12, 6, 11, 15, 0, 0};
    EXPECT_EQ(p.CheckTime(t), -1);
    EXPECT_EQ(p.CheckTime(t), 1);
    Tperiods none(9, dir.path());  // no file: an empty schedule, no error
    EXPECT_TRUE(none.periods().empty());
    EXPECT_FALSE(none.loadError());
}

TEST(TimeOfDay, ReadsLongAndShortFormsAndWritesTheLongOne) {
    for (const auto& [text, time] : {std::pair{"9:00:00", hm(9, 0)},
                                     {" 9:05", hm(9, 5)},
                                     {"23:59:59", hm(23, 59, 59)},
                                     {"24:02:00", 1442.0 / 1440}})
        EXPECT_EQ(ParseTimeOfDay(text), time) << text;
    for (const char* bad : {"", "9", "9:", "9:60", "9:00:60", "48:00", "-1:00", "9:00:00:00", "a:bc", "123:00"})
        EXPECT_FALSE(ParseTimeOfDay(bad)) << bad;
    for (const auto& [time, text] :
         {std::pair{0.0, "0:00:00"}, {0.5, "12:00:00"}, {hm(9, 5, 7), "9:05:07"}, {0.99999999, "24:00:00"}})
        EXPECT_EQ(FormatTimeOfDay(time), text);
}

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
