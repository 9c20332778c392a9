// The channel assignment: both lists, adding and removing channels while the rest go on, the
// files that follow a channel's number, the prefix, the load-all flag and the save on closing.
#include <gtest/gtest.h>

#include "app/channel_assignment.h"
#include "app_fixture.h"
#include "config/ini_file.h"
#include "config/schedule.h"
#include "support/file_text.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
using Names = std::vector<std::string>;
using Lines = std::vector<WorkingLine>;
namespace fs = std::filesystem;

namespace {

// Where channel n's schedule starts: n hours, so each channel's file is told from the others.
double scheduleStart(Tkanal& row) {
    double start = -1.0;
    row.Channel()->EditSchedule([&](config::Tperiods& p) {
        if (!p.periods().empty()) start = p.periods().front().start;
    });
    return start;
}

}  // namespace

TEST(ChannelAssignment, RemovingAChannelMovesTheLaterOnesWithTheirFilesAndANewOneGetsItsPrefix) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true), device("Mic", true, false)};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "[DEVICES]", "LOADALL=0", "[Channels]", "MAX=3", "[Channels1]",
              "DEVICE1=0 CardA 1 канал", "PREFIX1=A", "[Channels2]", "DEVICE2=0 CardA 2 канал", "[Channels3]",
              "DEVICE3=1 Mic 1 канал", "PREFIX3=M"});
    const auto control = [&](int n) { return rig.files.programFolder / "CONTROL" / (std::to_string(n) + ".ctl"); };
    for (int n : {1, 2, 3}) {
        config::Tperiods schedule(n, rig.files.programFolder);
        ASSERT_FALSE(schedule.AddPeriod("", true, n / 24.0, n / 24.0 + 0.01));
        fs::create_directories(control(n).parent_path());
        test::writeText(control(n), "id" + std::to_string(n) + " answer\n");
    }
    rig.start();
    ChannelAssignment assignment(*rig.core);
    EXPECT_EQ(assignment.Working(),
              (Lines{{"1", "0 CardA 1 канал", "A"}, {"2", "0 CardA 2 канал", ""}, {"3", "1 Mic 1 канал", "M"}}));
    EXPECT_TRUE(assignment.Free().empty());

    ASSERT_TRUE(assignment.Remove(1));
    EXPECT_EQ(assignment.Working(), (Lines{{"1", "0 CardA 1 канал", "A"}, {"2", "1 Mic 1 канал", "M"}}));
    EXPECT_EQ(assignment.Free(), Names{"0 CardA 2 канал"});
    EXPECT_EQ(rig.core->Settings().MAX, 2);
    // The Mic channel, now number 2, names its files by it and keeps its own schedule and list.
    Tkanal& mic = *rig.core->Row(2);
    EXPECT_TRUE(mic.Channel()->MakeFileName().ends_with("_2"));
    EXPECT_NEAR(scheduleStart(mic), 3 / 24.0, 1e-6);
    EXPECT_EQ(test::readText(control(2)), "id3 answer\n");
    EXPECT_FALSE(fs::exists(control(3)) || fs::exists(rig.files.programFolder / "time3.tim"));
    EXPECT_NEAR(scheduleStart(*rig.core->Row(1)), 1 / 24.0, 1e-6);

    // The side added again becomes channel 3, the row the prefix is asked for, with no schedule
    // and its own folder.
    EXPECT_EQ(assignment.Add(0), std::optional<int>(2));
    assignment.SetPrefix(2, "NEW");
    EXPECT_EQ(assignment.Working().back(), (WorkingLine{"3", "0 CardA 2 канал", "NEW"}));
    EXPECT_TRUE(assignment.Free().empty());
    EXPECT_EQ(rig.core->Settings().MAX, 3);
    Tkanal& added = *rig.core->Row(3);
    EXPECT_EQ(scheduleStart(added), -1.0);
    EXPECT_EQ(fs::path(added.Channel()->MakeFileName()).parent_path(), rig.files.programFolder / "SOUND" / "3");
    EXPECT_TRUE(fs::path(added.Channel()->MakeFileName()).filename().string().starts_with("NEW"));
    EXPECT_TRUE(fs::is_directory(rig.files.programFolder / "SOUND" / "3"));
}

TEST(ChannelAssignment, NoSelectionADeviceThatDoesNotOpenAndAMissingRowChangeNothing) {
    CoreRig rig;
    auto broken = device("Broken", true, false);
    broken.failOpens = 1000;
    rig.input.devices = {device("Mic", true, false), broken};
    rig.start();  // every input: the broken one builds nothing
    ChannelAssignment assignment(*rig.core);
    const Lines working{{"1", "0 Mic 1 канал", ""}};
    EXPECT_EQ(assignment.Working(), working);
    EXPECT_EQ(assignment.Free(), Names{"1 Broken 1 канал"});
    EXPECT_EQ(assignment.Add(-1), std::nullopt);
    EXPECT_FALSE(assignment.Remove(-1));
    EXPECT_FALSE(assignment.Remove(1));
    EXPECT_EQ(assignment.Add(0), std::nullopt);  // the set-up refuses: no prefix is asked
    EXPECT_EQ(assignment.Working(), working);
    EXPECT_EQ(assignment.Free(), Names{"1 Broken 1 канал"});
    EXPECT_EQ(rig.core->Settings().MAX, 1);
    for (int row : {-1, 1}) assignment.SetPrefix(row, "X");
    EXPECT_EQ(assignment.Working(), working);
    // An empty prefix is a prefix like any other.
    assignment.SetPrefix(0, "P");
    EXPECT_EQ(assignment.Working()[0].prefix, "P");
    assignment.SetPrefix(0, "");
    EXPECT_EQ(assignment.Working(), working);
    EXPECT_EQ(rig.core->Row(1)->Settings().filePrefix, "");
}

TEST(ChannelAssignment, EveryCloseSavesTheChannelCountAndOnlyExitClearsLoadAll) {
    for (bool exit : {false, true}) {
        SCOPED_TRACE(exit ? "EXIT" : "closed otherwise");
        CoreRig rig;
        rig.input.devices = {device("CardA", true, true)};
        rig.start();  // every input: two channels
        ChannelAssignment assignment(*rig.core);
        ASSERT_TRUE(assignment.Remove(0));
        if (exit) assignment.Exit();
        EXPECT_TRUE(assignment.Close());
        config::IniFile ini(rig.files.file, '.');
        EXPECT_EQ(ini.readString("Channels", "MAX", "?"), "1");
        EXPECT_EQ(ini.readString("Channels1", "DEVICE1", "?"), "0 CardA 2 канал");
        EXPECT_EQ(ini.readString("DEVICES", "LOADALL", "?"), exit ? "0" : "1");
    }
}
