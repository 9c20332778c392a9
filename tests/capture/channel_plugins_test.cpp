// Channels with a demodulator plug-in attached: private working copies, the list file, recording
// by identifier against the control list, and a plug-in text that must not become a path.
#include <gtest/gtest.h>

#include <fstream>

#include "capture/channel.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"

using namespace kestavo;
namespace fs = std::filesystem;
using Kind = capture::ChannelEvent::Kind;

namespace {

class ChannelPlugins : public ::testing::Test {
protected:
    test::TempDir dir{"kestavo-plugins"};
    platform::FakeClock clock;
    platform::MainDispatcher dispatcher;
    std::mutex sync;  // "SYNC"
    std::vector<services::PluginRecord> logged;
    std::vector<capture::ChannelEvent> events;

    void SetUp() override {
        fs::create_directories(dir / "PLUGINS");
        fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg");
    }
    std::unique_ptr<capture::Tchannel> make(int n) {
        capture::ChannelEnv env;
        env.clock = &clock;
        env.dispatcher = &dispatcher;
        env.pluginLock = &sync;
        env.pluginLog = [this](const services::PluginRecord& r) { logged.push_back(r); };
        env.observer = [this](const capture::ChannelEvent& e) { events.push_back(e); };
        capture::ChannelGlobals g;
        g.programFolder = dir.path();
        capture::ChannelParams p;
        p.channelNumber = n;
        auto c = std::make_unique<capture::Tchannel>(p, env, g);
        c->SetRecordDir((dir / "SOUND").string());
        c->SetMinTime(0);
        return c;
    }
    static void run(capture::Tchannel& c, std::vector<std::int16_t> pcm) {
        c.ProcessBlockNow(reinterpret_cast<std::byte*>(pcm.data()), std::uint32_t(pcm.size() * 2));
    }
};

}  // namespace

TEST_F(ChannelPlugins, EachChannelWorksOnItsOwnCopyAndTheListSurvivesARestart) {
    {
        auto c1 = make(1);
        auto c2 = make(2);
        c1->AddPlugin("demod.plg");
        c1->AddPlugin("demod.plg");  // twice changes nothing
        c2->AddPlugin("demod.plg");
        c2->AddPlugin("missing.plg");
        EXPECT_EQ(c1->PluginNames(), std::vector<std::string>{"demod.plg"});
        EXPECT_EQ(c2->PluginNames(), std::vector<std::string>{"demod.plg"});
        EXPECT_TRUE(fs::exists(dir / "PLUGINS" / "WORK" / "demod1.plg"));
        EXPECT_TRUE(fs::exists(dir / "PLUGINS" / "WORK" / "demod2.plg"));
    }
    // At the end of a channel its copy is deleted and its list written.
    EXPECT_FALSE(fs::exists(dir / "PLUGINS" / "WORK" / "demod1.plg"));
    std::ifstream list(dir / "plg1.ust");
    std::string line;
    ASSERT_TRUE(std::getline(list, line));
    EXPECT_EQ(line, "demod.plg");
    auto again = make(1);
    EXPECT_EQ(again->PluginNames(), std::vector<std::string>{"demod.plg"});
    again->RemovePlugin("demod.plg");
    EXPECT_TRUE(again->PluginNames().empty());
}

TEST_F(ChannelPlugins, IdModeStartsOnAListedIdentifierAndStopsOnActionZero) {
    fs::create_directories(dir / "CONTROL");
    std::ofstream(dir / "CONTROL" / "1.ctl") << "8495******* Moscow\n";
    auto c = make(1);
    c->ReloadControlList();
    c->AddPlugin("demod.plg");
    c->SetRecordMode(capture::RecordMode::Id);
    std::vector<std::int16_t> pcm(4000, 0);
    pcm[100] = 24576;   // +0.75: "84951234567", start
    pcm[200] = 20480;   // +0.625: a text with a path in it
    pcm[300] = -24576;  // -0.75: "END", stop
    run(*c, pcm);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0].channel, 1);
    EXPECT_EQ(services::identifierText(logged[0]), "84951234567");
    std::vector<Kind> kinds;
    for (const auto& e : events) kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Start, Kind::Plugin, Kind::Plugin, Kind::Stop}));
    EXPECT_EQ(events[0].sample, 100u);
    EXPECT_EQ(events[3].sample, 300u);

    // The stop renamed the file with the last text, which may not lead out of the folder.
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file() && e.path().extension() == ".wav") files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].parent_path(), dir / "SOUND");
    const std::string name = files[0].filename().string();
    EXPECT_EQ(name.find('\n'), std::string::npos);
    EXPECT_NE(name.find("etc"), std::string::npos);
    EXPECT_NE(name.find("evil"), std::string::npos);
}

TEST_F(ChannelPlugins, AnUnlistedIdentifierStartsNothing) {
    fs::create_directories(dir / "CONTROL");
    std::ofstream(dir / "CONTROL" / "1.ctl") << "7495******* Moscow\n";
    auto c = make(1);
    c->ReloadControlList();
    c->AddPlugin("demod.plg");
    c->SetRecordMode(capture::RecordMode::Id);
    std::vector<std::int16_t> pcm(1000, 0);
    pcm[10] = 24576;
    run(*c, pcm);
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_FALSE(c->Recording());
}

TEST(PluginRecord, TextFieldsAreNeverReadPastTheirEnd) {
    services::PluginRecord r{};
    std::memset(r.identifier, '7', sizeof r.identifier);
    std::memset(r.unused1, '8', sizeof r.unused1);
    EXPECT_EQ(services::identifierText(r), std::string(101, '7'));
    r.identifier[5] = 0;
    EXPECT_EQ(services::identifierText(r), "77777");
}
