// Device and channel set-up: side names, the two builds, matching configured names to sides,
// adding and removing channels at run time, monitoring selection.
#include <gtest/gtest.h>

#include "app/device_setup.h"
#include "app_fixture.h"
#include "config/ini_file.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;
using Names = std::vector<std::string>;

namespace {

Names rowNames(const AppCore& core) {
    Names names;
    for (const auto& r : core.Rows()) names.push_back(std::to_string(r->Number()) + "=" + r->Name());
    return names;
}

// What capture `k` takes from its device: "mono L<n>" or "stereo L<n> R<n>" (-1: that side unused).
std::string captureOf(AppCore& core, std::size_t k) {
    const auto* c = core.Setup()->CaptureFor(k);
    if (!c) return "none";
    const std::string left = " L" + std::to_string(c->LeftChannel());
    return c->ChannelCount() == 1 ? "mono" + left : "stereo" + left + " R" + std::to_string(c->RightChannel());
}

// Logs the number of the channel it is given ("none" for null) and its end, saying whether the
// channels had already been released.
struct FakeMonitor final : Monitor {
    AppCore& core;
    Names& log;
    FakeMonitor(AppCore& c, Names& l) : core(c), log(l) {}
    void SelectChannel(capture::Tchannel* c) override {
        log.push_back("none");
        for (const auto& r : core.Rows())
            if (c && r->Channel() == c) log.back() = std::to_string(r->Number());
    }
    ~FakeMonitor() override { log.push_back(core.Row(1)->Channel() ? "closed" : "closed after the channels"); }
};

// One build: a core over `devices`, configured by DEVICE lines (and `max` channels, 0: one per line)
// unless `configured` is empty (every side of every device); the rows it builds and what its first
// captures take.
void expectBuild(const char* what, std::vector<test::FakeDevice> devices, const Names& configured, std::size_t max,
                 const Names& rows, const Names& captures, const Names& sides = {}) {
    SCOPED_TRACE(what);
    CoreRig rig;
    rig.input.devices = std::move(devices);
    Names ini{"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=" + std::to_string(max ? max : configured.size())};
    for (std::size_t i = 0; i < configured.size(); ++i) {
        const auto n = std::to_string(i + 1);
        ini.insert(ini.end(), {"[Channels" + n + "]", "DEVICE" + n + "=" + configured[i]});
    }
    if (!configured.empty()) writeIni(rig.files.file, ini);
    rig.start();
    EXPECT_EQ(rowNames(*rig.core), rows);
    for (std::size_t k = 0; k < captures.size(); ++k) EXPECT_EQ(captureOf(*rig.core, k), captures[k]);
    for (const auto& r : rig.core->Rows()) {  // every input: 32 kbit/s voice; configured: the keys' defaults
        EXPECT_EQ(r->Settings().mp3Quality, 4);
        EXPECT_EQ(r->Settings().mp3Bitrate, configured.empty() ? 32 : 16);
    }
    Names sideNames;  // side numbers and names, the number a "side" would have being used up as well
    for (const auto& s : rig.core->Setup()->InputSides())
        sideNames.push_back(std::to_string(s.sideNumber) + "=" + s.name);
    if (!sides.empty()) EXPECT_EQ(sideNames, sides);
    const auto& out = rig.core->Setup()->OutputDevices().at(0);  // outputs start with the default mapper
    EXPECT_EQ(out.name + " " + std::to_string(out.number), "WAVE_MAPPER -1");
}

}  // namespace

TEST(Build, ChannelsAndCapturesFollowTheDevicesAndTheConfiguredNames) {
    expectBuild("a stereo device without mono has a right side only; its left one's number is used up",
                {device("CardA", true, true), device("CardB", true, false), device("CardC", false, true)}, {}, 0,
                {"1=0 CardA 1 канал", "2=0 CardA 2 канал", "3=1 CardB 1 канал", "4=2 CardC 2 канал"}, {},
                {"1=0 CardA 1 канал", "2=0 CardA 2 канал", "3=1 CardB 1 канал", "5=2 CardC 2 канал"});
    expectBuild("all sides in device then side order",
                {device("CardA", true, true), device("CardB", true, true), device("Mic", true, false)}, {}, 0,
                {"1=0 CardA 1 канал", "2=0 CardA 2 канал", "3=1 CardB 1 канал", "4=1 CardB 2 канал", "5=2 Mic 1 канал"},
                {"stereo L1 R2", "stereo L3 R4", "mono L5"});
    auto broken = device("Broken", true, true);
    broken.failOpens = 1;
    expectBuild("a device that cannot open builds nothing", {broken, device("Good", true, false)}, {}, 0,
                {"1=1 Good 1 канал"}, {});
    expectBuild("a card moved to another slot is found by the rest of its name",
                {device("USB Audio CODEC", true, true), device("HDA Intel PCH", true, true)},
                {"1 USB Audio CODEC 2 канал"}, 0, {"1=0 USB Audio CODEC 2 канал"}, {"stereo L-1 R1"});
    expectBuild("two identical cards are claimed in turn",
                {device("Onboard", true, false), device("Line4", true, false), device("Line4", true, false)},
                {"5 Line4 1 канал", "6 Line4 1 канал"}, 0, {"1=1 Line4 1 канал", "2=2 Line4 1 канал"}, {});
    expectBuild("a second line naming a claimed side builds nothing", {device("CardA", true, true)},
                {"0 CardA 1 канал", "0 CardA 1 канал"}, 0, {"1=0 CardA 1 канал"}, {"mono L1"});
    expectBuild("a channel count above 100 is taken as 2", {device("CardA", true, true), device("Mic", true, false)},
                {"0 CardA 1 канал", "0 CardA 2 канал", "1 Mic 1 канал"}, 101,
                {"1=0 CardA 1 канал", "2=0 CardA 2 канал"}, {});
    // A side is matched by the characters equal at equal positions after the device number.
    EXPECT_EQ(PositionalScore("7 abc", "0 abc"), 3);
    EXPECT_EQ(PositionalScore("7 abcd", "0 abx"), 2);     // only as far as the shorter name
    EXPECT_EQ(PositionalScore("1 канал", "2 канал"), 5);  // characters, not bytes
    EXPECT_EQ(PositionalScore("1 xyz", "1 abc"), 0);
}

TEST(Assignment, RemovingAndAddingChannelsRebuildsTheCapturesAndRenumbersTheRestAndMonitoringFollows) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true), device("Mic", true, false)};
    Names log;
    rig.makeMonitor = [&](int outputDevice) -> std::unique_ptr<Monitor> {
        log.push_back("open " + std::to_string(outputDevice));
        return std::make_unique<FakeMonitor>(*rig.core, log);
    };
    rig.start();
    auto select = [&](int k, bool on) {  // then logs which rows are marked monitored
        rig.core->SelectMonitor(k, on);
        log.push_back("rows " + std::to_string(rig.core->Row(1)->Monitoring()) +
                      std::to_string(rig.core->Row(2)->Monitoring()));
    };
    // One channel at a time, opened on demand, detached before each change.
    select(2, true);
    select(1, true);
    select(1, false);
    select(2, true);
    auto* setup = rig.core->Setup();
    const int removedId = rig.core->Row(2)->id;
    setup->RemoveChannelForSide("0 CardA 2 канал");
    EXPECT_EQ(rowNames(*rig.core), (Names{"1=0 CardA 1 канал", "2=1 Mic 1 канал"}));
    // A report the removed channel left behind reaches no row, not even the one now at its place.
    rig.core->OnChannelReport(removedId, {.kind = capture::ChannelReport::Kind::Detected, .text = "999"});
    EXPECT_EQ(rig.core->Row(1)->detectionText + rig.core->Row(2)->detectionText, "");
    EXPECT_TRUE(rig.activity.empty());
    EXPECT_EQ(captureOf(*rig.core, 0), "mono L1");
    // The removed position's keys are reset to the new-channel values.
    config::IniFile ini(rig.files.file, '.');
    EXPECT_EQ(ini.readString("Channels2", "DEVICE2", "?") + "|" + ini.readString("Channels2", "zad_stop2", "?"), "|15");

    setup->RemoveChannelForSide("0 CardA 1 канал");
    EXPECT_EQ(captureOf(*rig.core, 0), "none");  // the device's only channel: no capture left
    EXPECT_EQ(rowNames(*rig.core), (Names{"1=1 Mic 1 канал"}));
    EXPECT_TRUE(rig.core->Row(1)->Channel()->MakeFileName().ends_with("_1"));  // named by its new number
    Names channels, free;
    setup->ListAssignments(channels, free);
    EXPECT_EQ(channels, (Names{"\t1 Mic 1 канал\t1"}));
    EXPECT_EQ(free, (Names{"0 CardA 1 канал", "0 CardA 2 канал"}));
    // Sides added again (the answer is the side number) come after the rows there are; the second
    // one turns the capture stereo.
    EXPECT_EQ(setup->AddChannelForSide("0 CardA 1 канал"), 1);
    EXPECT_EQ(captureOf(*rig.core, 0), "mono L2");
    EXPECT_EQ(setup->AddChannelForSide("0 CardA 2 канал"), 2);
    EXPECT_EQ(setup->AddChannelForSide("0 CardA 2 канал"), -1);  // already in use
    EXPECT_EQ(setup->AddChannelForSide("9 Nothing 1 канал"), -1);
    EXPECT_EQ(rowNames(*rig.core), (Names{"1=1 Mic 1 канал", "2=0 CardA 1 канал", "3=0 CardA 2 канал"}));
    EXPECT_EQ(captureOf(*rig.core, 0), "stereo L2 R3");
    select(1, true);
    rig.core->Shutdown();  // detached while the channels exist, closed once they are gone
    // The monitored channel's removal detached and closed the monitor first.
    EXPECT_EQ(log,
              (Names{"open -1", "2", "rows 01", "none", "1", "rows 10", "none", "closed", "rows 00", "open -1", "2",
                     "rows 01", "none", "closed", "open -1", "1", "rows 10", "none", "closed after the channels"}));
}
