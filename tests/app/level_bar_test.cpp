// The level bar's arithmetic and the elapsed-time text, from the documented edge cases.
#include <gtest/gtest.h>
#include <optional>

#include "app/app_core.h"
#include "app/level_bar.h"

using namespace kestavo::app;

namespace {
// A row's bar (300 by 15 px, 50 segments) after `levels` (dB), its threshold moved to `threshold` dB if given.
tbar rowBar(std::vector<double> levels = {}, std::optional<double> threshold = {}) {
    tbar bar(BarRect{0, 0, 300, 15}, BarOrientation::Horizontal, 50);
    if (threshold) bar.SetThreshold(*threshold);
    for (double level : levels) bar.Update(level);
    return bar;
}
}  // namespace

TEST(tbar, LitSegmentsFollowTheSinglePrecisionStepAndTheThresholdSetsTheFirstRed) {
    for (auto [db, n] : {std::pair{0.0, 50}, {-6.0, 47}, {6.0, 47}, {-60.0, 2}, {-61.0, 1}, {-200.0, 1}})
        EXPECT_EQ(rowBar({db}).Lit(), n) << db;
    for (auto [db, n] : {std::pair{0.0, 50}, {-10.0, 42}, {-20.0, 34}, {-30.0, 25}, {-60.0, 1}})
        EXPECT_EQ(rowBar({}, db).RedFrom(), n) << db;
}

TEST(tbar, PeakHoldsTwoDrawsThenFallsOneSegmentPerTwoDraws) {
    // The marker after no draw, then after each of 0 dB, six times -60 dB and -6 dB (at or above it: lifted at once).
    std::vector<double> levels;
    std::vector<int> peaks{rowBar().Peak()};
    for (double level : {0.0, -60.0, -60.0, -60.0, -60.0, -60.0, -60.0, -6.0}) {
        levels.push_back(level);
        peaks.push_back(rowBar(levels).Peak());
    }
    EXPECT_EQ(peaks, (std::vector<int>{1, 50, 50, 49, 49, 48, 48, 47, 47}));
}

TEST(tbar, SegmentsAreFiveOrFourPixelsWithOnePixelGapsVerticalOnesFromTheBottom) {
    EXPECT_EQ(rowBar().Segment(1), (BarRect{0, 0, 5, 15}));
    EXPECT_EQ(rowBar().Segment(2), (BarRect{6, 0, 11, 15}));
    EXPECT_EQ(rowBar().Segment(50), (BarRect{294, 0, 299, 15}));
    tbar column(BarRect{0, 0, 10, 200}, BarOrientation::Vertical, 50);
    EXPECT_EQ(column.Segment(1), (BarRect{0, 196, 10, 200}));
    EXPECT_EQ(column.Segment(2), (BarRect{0, 191, 10, 195}));
}

TEST(FormatElapsed, HoursMinutesSecondsAsATimeOfDay) {
    EXPECT_EQ(FormatElapsed(899'999), "0:14:59");                    // whole seconds
    EXPECT_EQ(FormatElapsed(25LL * 3600 * 1000 + 1000), "1:00:01");  // wraps after a day
}
