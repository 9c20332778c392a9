// What the main window leaves to the core: the monitoring output, the inversion pivot and the
// window height kept from one run to the next, and the CPU panel.
#include <gtest/gtest.h>

#include "app_fixture.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;

namespace {

class NullMonitor final : public Monitor {
public:
    void SelectChannel(capture::Tchannel*) override {}
};

}  // namespace

TEST(SavedAtShutdown, OutputPivotAndHeightChosenDuringARunAreThereAtTheNextStart) {
    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[OUT]", "Device=-1", "[DirCh]", "Inv_Point=1888", "[MAIN]", "HEIGHT=336"});
    std::vector<int> opened;  // the outputs the monitoring playback was opened on
    rig.makeMonitor = [&](int output) -> std::unique_ptr<Monitor> {
        opened.push_back(output);
        return std::make_unique<NullMonitor>();
    };
    rig.start();
    rig.core->SelectMonitor(1, true);
    rig.core->SetMonitorOutput(2);  // the monitored channel moves to the new output at once
    rig.core->SetInversionPivot(3100);
    rig.core->SetWindowHeight(512);
    rig.core->Shutdown();
    rig.start();
    const auto& s = rig.core->Settings();
    EXPECT_EQ(std::vector({s.Device, s.Inv_Point, s.HEIGHT}), std::vector({2, 3100, 512}));
    rig.core->SelectMonitor(1, true);
    EXPECT_EQ(opened, (std::vector<int>{-1, 2, 2}));
}

TEST(CpuPanel, FirstProcessorsPerCentAtStartThenEveryFourSecondsWhileTheWindowIsShown) {
    EXPECT_EQ(CpuPanelText({.processors = 0, .firstProcessor = 0.5}), "");
    EXPECT_EQ(CpuPanelText({.processors = 4, .machine = 0.9, .firstProcessor = 0.07}), "CPU:7%");
    EXPECT_EQ(CpuPanelText({.processors = 1, .firstProcessor = 0.996}), "CPU:100%");
    EXPECT_EQ(CpuPanelText({.processors = 1, .firstProcessor = 0.125}), "CPU:12%");  // a half goes to even

    CoreRig rig;
    rig.input.devices = {device("Line", true, false)};
    // cpu0's counters (user, nice, system, idle), 100 ticks apart: 25 % busy since boot, then 50 %,
    // 90 % and 10 % in each 4 s.
    std::vector<std::string> stat{"cpu  0 0 0 0\ncpu0 20 0 5 75\n", "cpu  0 0 0 0\ncpu0 60 0 15 125\n",
                                  "cpu  0 0 0 0\ncpu0 150 0 15 135\n", "cpu  0 0 0 0\ncpu0 160 0 15 225\n"};
    std::size_t read = 0;
    rig.configure = [&](CoreServices& s) {
        s.cpuStat = [&]() -> std::optional<std::string> {
            if (read == stat.size()) return std::nullopt;
            return stat[read++];
        };
    };
    rig.start();
    const std::string& panel = rig.core->StatusPanels()[4];
    EXPECT_EQ(panel, "CPU:25%");
    rig.ticks(79);
    EXPECT_EQ(panel, "CPU:25%");
    rig.ticks(1);
    EXPECT_EQ(panel, "CPU:50%");
    rig.core->SetWindowMode(WindowMode::Minimised);
    rig.ticks(80);
    EXPECT_EQ(panel, "CPU:50%");
    rig.core->SetWindowMode(WindowMode::Shown);
    rig.ticks(80);  // the last 4 s (10 %), not the time since the window was hidden (50 %)
    EXPECT_EQ(panel, "CPU:10%");
    rig.ticks(80);  // nothing readable: no processor reported
    EXPECT_EQ(panel, "");
}
