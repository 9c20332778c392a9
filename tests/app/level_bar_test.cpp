// The level bar's arithmetic and the elapsed-time text, from the documented edge cases.
#include <gtest/gtest.h>

#include "app/app_core.h"
#include "app/level_bar.h"

using namespace kestavo::app;

namespace {
tbar rowBar() { return tbar(BarRect{0, 0, 300, 15}, BarOrientation::Horizontal, 50); }
}  // namespace

TEST(tbar, LitSegmentsFollowTheSinglePrecisionStepAndTheThresholdSetsTheFirstRed) {
    const std::pair<double, int> lit[] = {{0.0, 50}, {-6.0, 47}, {6.0, 47}, {-60.0, 2}, {-61.0, 1}, {-200.0, 1}};
    for (auto [level, expected] : lit) {
        auto bar = rowBar();
        bar.Update(level);
        EXPECT_EQ(bar.Lit(), expected) << level;
    }
    const std::pair<double, int> red[] = {{0.0, 50}, {-10.0, 42}, {-20.0, 34}, {-30.0, 25}, {-60.0, 1}};
    for (auto [threshold, expected] : red) {
        auto bar = rowBar();
        bar.SetThreshold(threshold);
        EXPECT_EQ(bar.RedFrom(), expected) << threshold;
    }
}

TEST(tbar, PeakHoldsTwoDrawsThenFallsOneSegmentPerTwoDraws) {
    auto bar = rowBar();
    EXPECT_EQ(bar.Peak(), 1);
    bar.Update(0.0);
    std::vector<int> peaks{bar.Peak()};
    for (int i = 0; i < 6; ++i) {
        bar.Update(-60.0);
        peaks.push_back(bar.Peak());
    }
    bar.Update(-6.0);  // a level at or above the marker lifts it at once
    peaks.push_back(bar.Peak());
    EXPECT_EQ(peaks, (std::vector<int>{50, 50, 49, 49, 48, 48, 47, 47}));
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
