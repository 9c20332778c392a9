// The CPU load: the counters read from /proc/stat text and the load between two readings, with
// the expected shares worked out by hand from the fields.
#include "platform/cpu_load.h"

#include <gtest/gtest.h>

#include <deque>

namespace kestavo::platform {
namespace {

// A two-processor machine. Fields: user nice system idle iowait irq softirq steal guest guest_nice.
constexpr const char* kBoot =
    "cpu  1000 50 300 8000 200 10 40 0 0 0\n"
    "cpu0 600 20 200 3000 100 5 25 50 7 0\n"
    "cpu1 400 30 100 5000 100 5 15 0 0 0\n"
    "intr 123456 0 9 0\n"
    "ctxt 987654\n"
    "btime 1796486709\n"
    "processes 4242\n";
// 2000 ticks later on the machine: user +500, idle +1400, iowait +100. On cpu0 1000 ticks:
// user +300, system +100, idle +500, iowait +100 (guest +30 is inside user and not added).
constexpr const char* kLater =
    "cpu  1500 50 300 9400 300 10 40 0 0 0\n"
    "cpu0 900 20 300 3500 200 5 25 50 37 0\n"
    "cpu1 600 30 100 5900 100 5 15 0 0 0\n";

TEST(ProcStat, IdleIsIdlePlusIowaitAndTotalStopsBeforeTheGuestFields) {
    const auto stat = ParseProcStat(kBoot);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->machine, (CpuTimes{8200, 9600}));
    ASSERT_EQ(stat->processors.size(), 2u);
    EXPECT_EQ(stat->processors[0], (CpuTimes{3100, 4000}));  // 600+20+200+3000+100+5+25+50
    EXPECT_EQ(stat->processors[1], (CpuTimes{5100, 5650}));
}

TEST(ProcStat, OlderKernelsShortLinesAndTextsWithoutAMachineLine) {
    // A kernel before iowait: four fields. A line cut short and a name that is no processor's are left out.
    const auto old = ParseProcStat("cpu 10 0 10 80\ncpu0 10 0 10 80\ncpu1 5 5\ncpufreq 1 2 3 4\n");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->machine, (CpuTimes{80, 100}));
    EXPECT_EQ(old->processors, std::vector<CpuTimes>{(CpuTimes{80, 100})});
    EXPECT_FALSE(ParseProcStat("intr 1 2 3\nctxt 4\n"));
    EXPECT_FALSE(ParseProcStat(""));
}

TEST(CpuLoadTest, FirstSampleIsTheAverageSinceBootThenEachIsTheIntervalSinceTheLast) {
    std::deque<std::optional<std::string>> texts{kBoot, kLater, std::nullopt, kLater};
    CpuLoad load([&] {
        auto t = texts.front();
        texts.pop_front();
        return t;
    });
    const auto boot = load.Sample();
    EXPECT_EQ(boot.processors, 2);
    EXPECT_NEAR(boot.firstProcessor, 0.225, 1e-12);      // 1 - 3100/4000
    EXPECT_NEAR(boot.machine, 0.14583333333333, 1e-12);  // 1 - 8200/9600
    const auto later = load.Sample();
    EXPECT_NEAR(later.firstProcessor, 0.4, 1e-12);  // 1 - 600/1000
    EXPECT_NEAR(later.machine, 0.25, 1e-12);        // 1 - 1500/2000
    EXPECT_EQ(load.Sample().processors, 0);         // unreadable: no load, the last reading kept
    const auto same = load.Sample();                // no time passed since kLater
    EXPECT_EQ(same.processors, 2);
    EXPECT_EQ(same.firstProcessor, 0.0);
}

TEST(CpuLoadTest, LoadStaysWithinZeroAndOneWhenCountersStepBack) {
    // Total +100 while idle (with iowait) +150: the kernel's iowait stepped back on another line.
    EXPECT_EQ(LoadBetween(CpuTimes{100, 1000}, CpuTimes{250, 1100}), 0.0);
    // Fully busy, and a restart of the counters.
    EXPECT_EQ(LoadBetween(CpuTimes{100, 1000}, CpuTimes{100, 1100}), 1.0);
    EXPECT_EQ(LoadBetween(CpuTimes{100, 1000}, CpuTimes{10, 20}), 0.0);
}

TEST(CpuLoadTest, TheRealFileListsAtLeastOneProcessor) {
    CpuLoad load;
    const auto r = load.Sample();
    EXPECT_GE(r.processors, 1);
    EXPECT_GE(r.firstProcessor, 0.0);
    EXPECT_LE(r.firstProcessor, 1.0);
}

}  // namespace
}  // namespace kestavo::platform
