// The recorder with a recording server: the connect at start-up and from the settings, what every
// channel reports to the server library, and which recordings (and sidecars) are uploaded.
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "config/ini_file.h"
#include "config/password.h"
#include "platform/memory_network.h"
#include "support/fake_server_library.h"
#include "support/upload_receiver.h"

namespace kestavo::app::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A recorder with the logging server library in its program folder and an in-process network on
// which a receiver listens at the port the library gives.
struct ServerRig : CoreRig {
    test::FakeServerLibrary lib{files.programFolder};
    platform::MemoryNetwork net;
    test::UploadReceiver rx{net, 45100};
    ServerRig() {
        lib.env.set("FAKE_NETLOCATE_PORT", "45100");
        lib.env.set("FAKE_NETLOCATE_FOLDER", (dir.path() / "server").string());
        configure = [this](CoreServices& s) { s.network = &net; };
    }
    // Records on channel k for `seconds` of the program's clock, by the record button.
    void record(int k, int seconds) {
        core->RecordButton(k);
        dispatcher.drain();
        ticks(seconds * AppCore::kSecondTicks);
        core->RecordButton(k);
        dispatcher.drain();
    }
};

TEST(ServerRecordings, ShortRecordingIsOnlyDeletedOnTheServerALongOneIsReportedAndUploaded) {
    ServerRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "No_Name=0", "SIDECAR=1", "[SERVER]", "NAME=rec@archive", "USER=desk", "[SEVRER]",
              "ENABLED=1", "[Channels1]", "CompressMode1=0", "Min_Time1=5"});
    rig.start();
    ASSERT_TRUE(rig.core->Settings().ENABLED);
    EXPECT_EQ(rig.core->ServerClient().Host(), "archive");
    rig.ticks(AppCore::kSecondTicks);

    rig.record(1, 4);  // shorter than Min_Time
    const fs::path temp = rig.files.programFolder / "TEMP";
    ASSERT_EQ(rig.lib.calls("start_rec_file").size(), 1u);
    EXPECT_EQ(rig.lib.calls("del_rec"), std::vector<std::string>{"del_rec 100"});
    EXPECT_TRUE(rig.lib.calls("stop_rec_file").empty());
    EXPECT_EQ(rig.core->ServerClient().Uploads().Queued(), 0u);
    const auto shortOnes = test::fileNames(temp);
    EXPECT_EQ(shortOnes.size(), 1u);  // the server was told; the local file is left alone

    rig.record(1, 6);
    const auto stops = rig.lib.calls("stop_rec_file");
    ASSERT_EQ(stops.size(), 1u);
    const auto got = rig.rx.waitFor(2);  // the recording, then its sidecar
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].complete);
    EXPECT_EQ(got[1].name, got[0].name + ".json");
    const auto sidecar = got[1].content();
    EXPECT_NE(
        std::string(reinterpret_cast<const char*>(sidecar.data()), sidecar.size()).find("\"file\": \"" + got[0].name),
        std::string::npos);
    EXPECT_EQ(stops[0], "stop_rec_file 101 0:00:06|" + got[0].name);
    const auto content = got[0].content();
    ASSERT_GE(content.size(), 44u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(content.data()), 4), "RIFF");
    ASSERT_TRUE(rig.core->ServerClient().Uploads().WaitEmpty(10s));
    EXPECT_EQ(test::fileNames(temp), shortOnes);  // the uploaded files are gone, the short one stays (without sidecar)
    const auto starts = rig.lib.calls("start_rec_file");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_NE(starts[1].find("|1"), std::string::npos);  // the label: the channel number alone (No_Name=0)
}

TEST(ServerRecordings, LocalServerRecordsIntoTheServerFolderAndUploadsNothing) {
    ServerRig rig;
    rig.input.devices = {device("Line", true, false)};
    writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0", "[Channels1]", "CompressMode1=0", "WAW_PATH1=/nonexistent/own"});
    ASSERT_FALSE(config::SavePassword(rig.files.programFolder / "snd.ini", "lock-7"));  // also the server's password
    rig.start({"-start"});
    ASSERT_TRUE(rig.core->Settings().ENABLED);
    EXPECT_TRUE(rig.core->ServerClient().OneComputer());
    EXPECT_EQ(rig.lib.calls("init_base"),
              std::vector<std::string>{"init_base Local server|ptSingleUser|testhost|lock-7"});
    rig.ticks(AppCore::kSecondTicks);
    rig.record(1, 6);
    ASSERT_EQ(rig.lib.calls("stop_rec_file").size(), 1u);
    const auto kept = test::fileNames(rig.dir.path() / "server");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(rig.lib.calls("start_rec_file")[0].find((rig.dir.path() / "server" / kept[0]).string()),
              std::string::npos);
    EXPECT_EQ(rig.core->ServerClient().Uploads().Queued() + rig.core->ServerClient().Uploads().Delivered(), 0u);
    EXPECT_TRUE(rig.rx.waitFor(1, 50ms).empty());
}

TEST(ServerSwitch, OnAndOffAtRunTimeReachesEveryChannelAtOnceAndAFailedConnectKeepsTheFolders) {
    ServerRig rig;
    rig.input.devices = {device("Card", true, true)};
    writeIni(rig.files.file,
             {"[MAIN]", "DIRS_D=0", "Language=English", "[SERVER]", "NAME=rec@archive", "[Channels1]",
              "CompressMode1=0", "[Channels2]", "CompressMode2=0"});
    rig.start();
    ASSERT_EQ(rig.core->Rows().size(), 2u);
    EXPECT_FALSE(rig.core->Settings().ENABLED);
    ASSERT_TRUE(rig.core->SetServerUse(true));
    rig.ticks(AppCore::kSlowTicks);
    EXPECT_EQ(rig.core->StatusPanels()[3], "Server: rec@archive");
    rig.record(1, 6);
    rig.record(2, 6);
    const auto starts = rig.lib.calls("start_rec_file");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_NE(starts[0].find("|testhost 1"), std::string::npos);
    EXPECT_NE(starts[1].find("|testhost 2"), std::string::npos);
    EXPECT_EQ(rig.rx.waitFor(2).size(), 2u);

    rig.core->SetServerUse(false);
    rig.ticks(AppCore::kSlowTicks);
    EXPECT_EQ(rig.core->StatusPanels()[3], "Server: Locally");
    rig.record(1, 6);
    rig.record(2, 6);
    EXPECT_EQ(rig.lib.calls("start_rec_file").size(), 2u);  // no further server calls
    EXPECT_EQ(rig.lib.calls("close").size(), 1u);

    fs::remove(rig.lib.file);  // a connect that cannot work leaves the server off
    EXPECT_FALSE(rig.core->SetServerUse(true));
    EXPECT_FALSE(rig.core->Settings().ENABLED);
    rig.core->Shutdown();
    config::IniFile ini(rig.files.file, '.');
    EXPECT_FALSE(ini.readBool("SEVRER", "ENABLED", true));
    EXPECT_NE(ini.readString("Channels1", "WAW_PATH1", "<none>"), "<none>");  // saved while the server is off
}

TEST(ServerStart, NetworkSearchTakesTheServerFoundOrShowsThatNoneIsSeen) {
    for (const bool found : {false, true}) {
        ServerRig rig;
        rig.input.devices = {device("Line", true, false)};
        writeIni(rig.files.file, {"[MAIN]", "DIRS_D=0"});
        if (found) rig.lib.env.set("FAKE_NETLOCATE_FOUND", "main@192.0.2.9|catalogue");
        rig.start({"-netstart"});
        const auto& s = rig.core->Settings();
        EXPECT_EQ(s.ENABLED, found);
        if (found) {
            EXPECT_EQ(std::pair(s.NAME, s.PORT), std::pair(std::string("main@192.0.2.9"), std::string("catalogue")));
            EXPECT_EQ(rig.core->ServerClient().Host(), "192.0.2.9");
        } else {
            EXPECT_EQ(rig.messages.messages(), std::vector<std::string>{"Не вижу сервера в сети"});
        }
    }
}

}  // namespace
}  // namespace kestavo::app::testing
