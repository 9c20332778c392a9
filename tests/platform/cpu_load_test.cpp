// The CPU load: the counters read from /proc/stat text and the load between two readings, with
// the expected shares worked out by hand from the fields.
#include "platform/cpu_load.h"

#include <gtest/gtest.h>

#include <deque>

namespace kestavo::platform {
namespace {

TEST(ProcStat, IdleIsIdlePlusIowaitTotalStopsBeforeGuestAndLinesThatAreNoProcessorsAreLeftOut) {
    // Fields: user nice system idle iowait irq softirq steal guest guest_nice; a kernel before
    // iowait has four; "cpu2" is cut short and "cpufreq" is no processor.
    const auto stat = ParseProcStat(
        "cpu  1000 50 300 8000 200 10 40 0 0 0\ncpu0 600 20 200 3000 100 5 25 50 7 0\ncpu1 10 0 10 80\n"
        "cpu2 5 5\ncpufreq 1 2 3 4\nintr 123456 0 9 0\nctxt 987654\n");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->machine, (CpuTimes{8200, 9600}));
    EXPECT_EQ(stat->processors, (std::vector<CpuTimes>{{3100, 4000}, {80, 100}}));  // 600+20+200+3000+100+5+25+50
    EXPECT_FALSE(ParseProcStat("intr 1 2 3\nctxt 4\n"));
}

TEST(CpuLoadTest, FirstSampleIsTheAverageSinceBootThenEachIsTheIntervalSinceTheLast) {
    // 1000 ticks later on cpu0: user +300, system +100, idle +500, iowait +100 (guest +30 is inside user).
    const std::string boot = "cpu  1000 50 300 8000 200 10 40 0\ncpu0 600 20 200 3000 100 5 25 50 7 0\n";
    const std::string later = "cpu  1500 50 300 9400 300 10 40 0\ncpu0 900 20 300 3500 200 5 25 50 37 0\n";
    std::deque<std::optional<std::string>> texts{boot, later, std::nullopt, later};
    CpuLoad load([&] {
        auto t = texts.front();
        texts.pop_front();
        return t;
    });
    const auto first = load.Sample();
    EXPECT_EQ(first.processors, 1);
    EXPECT_NEAR(first.firstProcessor, 0.225, 1e-12);      // 1 - 3100/4000
    EXPECT_NEAR(first.machine, 0.14583333333333, 1e-12);  // 1 - 8200/9600
    const auto second = load.Sample();
    EXPECT_NEAR(second.firstProcessor, 0.4, 1e-12);  // 1 - 600/1000
    EXPECT_NEAR(second.machine, 0.25, 1e-12);        // 1 - 1500/2000
    EXPECT_EQ(load.Sample().processors, 0);          // unreadable: no load, the last reading kept
    EXPECT_EQ(load.Sample().firstProcessor, 0.0);    // no time passed since `later`
    // Counters that step back (iowait) or restart give a load within 0..1.
    EXPECT_EQ(LoadBetween(CpuTimes{100, 1000}, CpuTimes{250, 1100}), 0.0);
    EXPECT_EQ(LoadBetween(CpuTimes{100, 1000}, CpuTimes{10, 20}), 0.0);
    EXPECT_GE(CpuLoad().Sample().processors, 1);  // the real file
}

}  // namespace
}  // namespace kestavo::platform
