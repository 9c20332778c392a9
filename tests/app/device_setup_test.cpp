// Device and channel set-up: side names, the two builds, matching configured names to sides,
// adding and removing channels at run time, monitoring selection.
#include <gtest/gtest.h>

#include "app/device_setup.h"
#include "app_fixture.h"
#include "config/ini_file.h"

using namespace kestavo;
using namespace kestavo::app;
using namespace kestavo::app::testing;

namespace {

std::vector<std::string> rowNames(const AppCore& core) {
    std::vector<std::string> names;
    for (const auto& r : core.Rows()) names.push_back(std::to_string(r->Number()) + "=" + r->Name());
    return names;
}

// A configuration that builds from DEVICE lines (LOADALL off).
void configure(CoreRig& rig, const std::vector<std::string>& devices) {
    std::vector<std::string> ini{"[DEVICES]", "LOADALL=0", "[Channels]", "MAX=" + std::to_string(devices.size())};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const auto n = std::to_string(i + 1);
        ini.push_back("[Channels" + n + "]");
        ini.push_back("DEVICE" + n + "=" + devices[i]);
    }
    writeIni(rig.files.file, ini);
}

struct FakeMonitor final : Monitor {
    std::vector<capture::Tchannel*>* log;
    explicit FakeMonitor(std::vector<capture::Tchannel*>* l) : log(l) {}
    void SelectChannel(capture::Tchannel* c) override { log->push_back(c); }
};

}  // namespace

TEST(SideNames, DeviceNumberProductAndSideWithNumbersUsedUpBySkippedSides) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true), device("CardB", true, false), device("CardC", false, true)};
    rig.start();
    const auto& sides = rig.core->Setup()->InputSides();
    ASSERT_EQ(sides.size(), 4u);
    EXPECT_EQ(sides[0].name, "0 CardA 1 канал");
    EXPECT_EQ(sides[1].name, "0 CardA 2 канал");
    EXPECT_EQ(sides[2].name, "1 CardB 1 канал");
    EXPECT_EQ(sides[3].name, "2 CardC 2 канал");  // stereo without mono: a right side only
    EXPECT_EQ(sides[0].sideNumber, 1);
    EXPECT_EQ(sides[1].sideNumber, 2);
    EXPECT_EQ(sides[2].sideNumber, 3);
    EXPECT_EQ(sides[3].sideNumber, 5);  // 4 went to CardC's missing left side
}

TEST(SideNames, OutputsStartWithTheDefaultMapper) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    rig.start();
    const auto& outs = rig.core->Setup()->OutputDevices();
    ASSERT_FALSE(outs.empty());
    EXPECT_EQ(outs[0].name, "WAVE_MAPPER");
    EXPECT_EQ(outs[0].number, -1);
}

TEST(LoadAll, ChannelsComeInDeviceThenSideOrderWithVoiceQualityMp3) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true), device("CardB", true, true), device("Mic", true, false)};
    rig.start();
    EXPECT_EQ(rowNames(*rig.core),
              (std::vector<std::string>{"1=0 CardA 1 канал", "2=0 CardA 2 канал", "3=1 CardB 1 канал",
                                        "4=1 CardB 2 канал", "5=2 Mic 1 канал"}));
    auto* setup = rig.core->Setup();
    ASSERT_EQ(setup->CaptureCount(), 3u);
    EXPECT_EQ(setup->CaptureFor(0)->ChannelCount(), 2);
    EXPECT_EQ(setup->CaptureFor(0)->LeftChannel(), 1);
    EXPECT_EQ(setup->CaptureFor(0)->RightChannel(), 2);
    EXPECT_EQ(setup->CaptureFor(2)->ChannelCount(), 1);
    // A fresh configuration keeps the new channels' MP3 values (32 kbit/s is the new-channel value
    // only where the file says so; the build itself hands 32 kbit/s VOICE QUALITY to the channel).
    for (const auto& r : rig.core->Rows()) EXPECT_EQ(r->Settings().mp3Quality, 4);
}

TEST(LoadAll, DeviceThatCannotOpenBuildsNoChannel) {
    CoreRig rig;
    rig.input.devices = {device("Broken", true, true), device("Good", true, false)};
    rig.input.devices[0].failOpens = 1;
    rig.start();
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=1 Good 1 канал"}));
}

TEST(FindSide, CardMovedToAnotherSlotIsFoundByTheRestOfItsName) {
    CoreRig rig;
    rig.input.devices = {device("USB Audio CODEC", true, true), device("HDA Intel PCH", true, true)};
    configure(rig, {"1 USB Audio CODEC 2 канал"});  // the card sat at slot 1 when configured
    rig.start();
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=0 USB Audio CODEC 2 канал"}));
}

TEST(FindSide, TwoIdenticalCardsAreClaimedInTurn) {
    CoreRig rig;
    rig.input.devices = {device("Onboard", true, false), device("Line4", true, false), device("Line4", true, false)};
    configure(rig, {"5 Line4 1 канал", "6 Line4 1 канал"});
    rig.start();
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=1 Line4 1 канал", "2=2 Line4 1 канал"}));
}

TEST(FindSide, ScoreCountsEqualCharactersAtEqualPositionsAfterTheDeviceNumber) {
    EXPECT_EQ(PositionalScore("7 abc", "0 abc"), 3);
    EXPECT_EQ(PositionalScore("7 abcd", "0 abx"), 2);     // only as far as the shorter name
    EXPECT_EQ(PositionalScore("1 канал", "2 канал"), 5);  // characters, not bytes
    EXPECT_EQ(PositionalScore("1 xyz", "1 abc"), 0);
}

TEST(FindSide, SecondLineNamingAClaimedSideExactlyBuildsNoChannel) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    configure(rig, {"0 CardA 1 канал", "0 CardA 1 канал"});
    rig.start();
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=0 CardA 1 канал"}));
    EXPECT_EQ(rig.core->Setup()->CaptureFor(0)->ChannelCount(), 1);
}

TEST(FindSide, ConfiguredRightSideHearsTheRightSide) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    configure(rig, {"0 CardA 2 канал"});
    rig.start();
    const auto* capture = rig.core->Setup()->CaptureFor(0);
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->ChannelCount(), 2);
    EXPECT_EQ(capture->LeftChannel(), -1);
    EXPECT_EQ(capture->RightChannel(), 1);
}

TEST(Assignment, RemovingOneOfTwoChannelsRebuildsMonoCaptureForTheOther) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true), device("Mic", true, false)};
    rig.start();
    ASSERT_EQ(rig.core->Rows().size(), 3u);
    auto* setup = rig.core->Setup();
    setup->RemoveChannelForSide("0 CardA 2 канал");
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=0 CardA 1 канал", "2=1 Mic 1 канал"}));
    ASSERT_NE(setup->CaptureFor(0), nullptr);
    EXPECT_EQ(setup->CaptureFor(0)->ChannelCount(), 1);
    EXPECT_EQ(setup->CaptureFor(0)->LeftChannel(), 1);
    // The removed position's keys are reset to the new-channel values.
    config::IniFile ini(rig.files.file, '.');
    EXPECT_EQ(ini.readString("Channels2", "DEVICE2", "?"), "");
    EXPECT_EQ(ini.readString("Channels2", "zad_stop2", "?"), "15");

    setup->RemoveChannelForSide("0 CardA 1 канал");
    EXPECT_EQ(setup->CaptureFor(0), nullptr);  // the only channel of the device: no capture left
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=1 Mic 1 канал"}));
    // The channel that moved up names its recordings by its new number.
    const std::string name = rig.core->Row(1)->Channel()->MakeFileName();
    EXPECT_EQ(name.substr(name.size() - 2), "_1");
    std::vector<std::string> channels, free;
    setup->ListAssignments(channels, free);
    EXPECT_EQ(channels, (std::vector<std::string>{"\t1 Mic 1 канал\t1"}));
    EXPECT_EQ(free, (std::vector<std::string>{"0 CardA 1 канал", "0 CardA 2 канал"}));
}

TEST(Assignment, AddingTheSecondSideTurnsTheCaptureStereo) {
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    configure(rig, {"0 CardA 1 канал"});
    rig.start();
    auto* setup = rig.core->Setup();
    EXPECT_EQ(setup->AddChannelForSide("0 CardA 2 канал"), 2);
    EXPECT_EQ(setup->AddChannelForSide("0 CardA 2 канал"), -1);  // already in use
    EXPECT_EQ(setup->AddChannelForSide("9 Nothing 1 канал"), -1);
    EXPECT_EQ(rowNames(*rig.core), (std::vector<std::string>{"1=0 CardA 1 канал", "2=0 CardA 2 канал"}));
    EXPECT_EQ(setup->CaptureFor(0)->ChannelCount(), 2);
    EXPECT_EQ(setup->CaptureFor(0)->RightChannel(), 2);
}

TEST(Monitoring, OneChannelAtATimeAndEmptyNameStops) {
    std::vector<capture::Tchannel*> log;
    CoreRig rig;
    rig.input.devices = {device("CardA", true, true)};
    rig.start();
    // The rig's core has no monitor factory: selection only marks the row.
    rig.core->SelectMonitor(1, true);
    EXPECT_TRUE(rig.core->Row(1)->Monitoring());
    rig.core->SelectMonitor(2, true);
    EXPECT_FALSE(rig.core->Row(1)->Monitoring());
    EXPECT_TRUE(rig.core->Row(2)->Monitoring());
    rig.core->SelectMonitor(2, false);
    EXPECT_FALSE(rig.core->Row(2)->Monitoring());
    EXPECT_EQ(rig.core->Setup()->ActiveMonitor(), nullptr);
}

TEST(Monitoring, PlaybackIsOpenedOnDemandAndDisconnectedBeforeEachChange) {
    std::vector<capture::Tchannel*> log;
    int opened = 0;
    test::FakeSoundInputSystem input;
    input.devices = {device("CardA", true, true)};
    platform::Event stop;
    RowList rows;
    platform::FakeClock clock;
    WskEnv env;
    env.input = &input;
    env.stop = &stop;
    env.rows = &rows;
    env.makeRow = [&](const RowPlan& plan) {
        capture::ChannelEnv ce;
        ce.clock = &clock;
        capture::ChannelGlobals g;
        g.programFolder = std::filesystem::temp_directory_path();
        return std::make_unique<Tkanal>(plan, ce, g);
    };
    env.makeMonitor = [&](int device) -> std::unique_ptr<Monitor> {
        ++opened;
        EXPECT_EQ(device, -1);
        return std::make_unique<FakeMonitor>(&log);
    };
    TWWSK wsk(env, {}, true);
    wsk.SelectMonitorChannel("0 CardA 2 канал", -1);
    wsk.SelectMonitorChannel("0 CardA 1 канал", -1);
    EXPECT_EQ(opened, 1);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0], rows[1]->Channel());
    EXPECT_EQ(log[1], nullptr);
    EXPECT_EQ(log[2], rows[0]->Channel());
    wsk.Shutdown();
    EXPECT_EQ(log.back(), nullptr);
    EXPECT_EQ(wsk.ActiveMonitor(), nullptr);
    EXPECT_TRUE(stop.isSet());
    EXPECT_EQ(rows[0]->Channel(), nullptr);  // channels stopped before the monitor went
}
