// The clock's calendar arithmetic, the reading of local times, and the fake clock.
#include "platform/clock.h"

#include <gtest/gtest.h>

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;
constexpr std::int64_t kDayMs = 86'400'000;

TEST(LocalTimeLine, EpochValuesMatchUnixTime) {
    EXPECT_EQ(toLocalMs(LocalTime{1970, 1, 1, 0, 0, 0, 0}), 0);
    EXPECT_EQ(toLocalMs(LocalTime{2000, 1, 1, 0, 0, 0, 0}), 946'684'800'000);        // date -d 2000-01-01Z +%s
    EXPECT_EQ(toLocalMs(LocalTime{2026, 12, 5, 16, 5, 9, 250}), 1'796'486'709'250);  // date -d 2026-12-05T16:05:09Z +%s
    EXPECT_EQ(fromLocalMs(-1), (LocalTime{1969, 12, 31, 23, 59, 59, 999}));
}

TEST(LocalTimeLine, OneMillisecondCrossesDayMonthAndYearEnds) {
    const std::pair<LocalTime, LocalTime> crossings[] = {{{2026, 12, 31, 23, 59, 59, 999}, {2027, 1, 1, 0, 0, 0, 0}},
                                                         {{2024, 2, 28, 23, 59, 59, 999}, {2024, 2, 29, 0, 0, 0, 0}},
                                                         {{2024, 2, 29, 23, 59, 59, 999}, {2024, 3, 1, 0, 0, 0, 0}},
                                                         {{2026, 2, 28, 23, 59, 59, 999}, {2026, 3, 1, 0, 0, 0, 0}},
                                                         {{2000, 2, 28, 23, 59, 59, 999}, {2000, 2, 29, 0, 0, 0, 0}},
                                                         {{2100, 2, 28, 23, 59, 59, 999}, {2100, 3, 1, 0, 0, 0, 0}},
                                                         {{2026, 4, 30, 23, 59, 59, 999}, {2026, 5, 1, 0, 0, 0, 0}}};
    for (const auto& [end, next] : crossings)
        EXPECT_EQ(fromLocalMs(toLocalMs(end) + 1), next) << end.year << "-" << end.month;
}

TEST(LocalTimeLine, YearsHaveTheirGregorianLengthsAndEveryDayRoundTrips) {
    for (int year = 1999; year <= 2101; ++year) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const std::int64_t start = toLocalMs(LocalTime{year, 1, 1, 0, 0, 0, 0});
        EXPECT_EQ(toLocalMs(LocalTime{year + 1, 1, 1, 0, 0, 0, 0}) - start, (leap ? 366 : 365) * kDayMs) << year;
        for (std::int64_t d = 0; d < 365; ++d) {
            const LocalTime t = fromLocalMs(start + d * kDayMs + 45'296'789);  // 12:34:56.789
            ASSERT_EQ(toLocalMs(t), start + d * kDayMs + 45'296'789);
            ASSERT_EQ(t.hour * 10000 + t.minute * 100 + t.second, 123456);
        }
    }
}

TEST(ParseIsoLocal, ReadsWellFormedLocalTimesAndRejectsMalformedOrImpossibleOnes) {
    EXPECT_EQ(parseIsoLocal("2026-12-05T16:05:09"), (LocalTime{2026, 12, 5, 16, 5, 9, 0}));
    EXPECT_EQ(parseIsoLocal("2024-02-29T00:00:00"), (LocalTime{2024, 2, 29, 0, 0, 0, 0}));
    EXPECT_EQ(parseIsoLocal("2026-12-31T23:59:59"), (LocalTime{2026, 12, 31, 23, 59, 59, 0}));
    for (const char* text :
         {"", "2026-12-05", "2026-12-05T16:05", "2026-12-05T16:05:09Z", "2026/12/05T16:05:09", "2026-12-05T16-05-09",
          "2026-12-5T16:05:09 ", "2026-12-05T1a:00:00", "20x6-12-05T16:05:09", "-026-12-05T16:05:09",
          "2026-12-05T-1:05:09", "2026-12-05T16:-5:09", "2026-12-05T16:05:-9"})  // a sign is not a digit
        EXPECT_FALSE(parseIsoLocal(text)) << "malformed " << text;
    for (const char* text : {"2026-13-01T00:00:00", "2026-00-10T00:00:00", "2026-02-29T00:00:00", "2100-02-29T00:00:00",
                             "2026-04-31T00:00:00", "2026-12-00T00:00:00", "2026-12-05T24:00:00", "2026-12-05T23:60:00",
                             "2026-12-05T23:59:60"})
        EXPECT_FALSE(parseIsoLocal(text)) << "impossible " << text;
}

TEST(FakeClockTicks, TickAndLocalTimeMoveTogetherAndNeverBack) {
    FakeClock clock(LocalTime{2026, 12, 31, 23, 59, 59, 500}, 4'294'967'000u);
    clock.advance(400ms);
    EXPECT_EQ(clock.now(), (LocalTime{2026, 12, 31, 23, 59, 59, 900}));
    clock.advanceTo(1000ms);
    EXPECT_EQ(clock.now(), (LocalTime{2027, 1, 1, 0, 0, 0, 500}));
    EXPECT_EQ(clock.tickMs(), 704u);  // 4294967000 + 1000 wraps past 2^32
    clock.advanceTo(10ms);
    EXPECT_EQ(clock.elapsed(), 1000ms);
}

}  // namespace
}  // namespace kestavo::platform
