// Channels with a demodulator plug-in attached: private working copies, the list file, recording
// by identifier against the control list, and a plug-in text that must not become a path.
#include <gtest/gtest.h>

#include <fstream>

#include "support/channel_fixture.h"

using namespace kestavo;
namespace fs = std::filesystem;

namespace {

class ChannelPlugins : public test::ChannelFixture {
protected:
    std::mutex sync;  // "SYNC"
    std::vector<services::PluginRecord> logged;

    void SetUp() override {
        fs::create_directories(dir / "PLUGINS");
        fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg");
    }
    std::unique_ptr<capture::Tchannel> make(int n) {
        auto e = env();
        e.pluginLock = &sync;
        e.pluginLog = [this](const services::PluginRecord& r) { logged.push_back(r); };
        auto c = ChannelFixture::make({.channelNumber = n}, e);
        c->SetMinTime(0);
        return c;
    }
    // A channel recording by identifier, its control list holding `listed`; the plug-in answers a
    // sample of +0.75 with "84951234567" and start, +0.625 with a text holding a path, -0.75 with
    // "END" and stop.
    std::unique_ptr<capture::Tchannel> idChannel(const std::string& listed) {
        fs::create_directories(dir / "CONTROL");
        std::ofstream(dir / "CONTROL" / "1.ctl") << listed << " Moscow\n";
        auto c = make(1);
        c->ReloadControlList();
        c->AddPlugin("demod.plg");
        c->SetRecordMode(capture::RecordMode::Id);
        return c;
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

TEST_F(ChannelPlugins, IdModeStartsOnAListedIdentifierOnlyAndStopsOnActionZero) {
    auto unlisted = idChannel("7495*******");
    test::Signal s(4000, 0.0);
    s[100] = 0.75, s[200] = 0.625, s[300] = -0.75;
    process(*unlisted, test::Signal(s.begin(), s.begin() + 150));
    EXPECT_EQ(logged.size(), 1u);
    EXPECT_FALSE(unlisted->Recording());
    unlisted.reset();
    logged.clear();

    auto c = idChannel("8495*******");
    process(*c, s);
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(logged[0].channel, 1);
    EXPECT_EQ(services::identifierText(logged[0]), "84951234567");
    EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::Start, Kind::Plugin, Kind::Plugin, Kind::Stop}));
    EXPECT_EQ(events[0].sample, 100u);
    EXPECT_EQ(events[3].sample, 300u);

    // The stop renamed the file with the last text, which may not lead out of the folder.
    const auto files = test::wavFiles(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].parent_path(), dir / "SOUND");
    const std::string name = files[0].filename().string();
    EXPECT_EQ(name.find('\n'), std::string::npos);
    EXPECT_NE(name.find("etc"), std::string::npos);
    EXPECT_NE(name.find("evil"), std::string::npos);
}

TEST(PluginRecord, TextFieldsAreNeverReadPastTheirEnd) {
    services::PluginRecord r{};
    std::memset(r.identifier, '7', sizeof r.identifier);
    std::memset(r.unused1, '8', sizeof r.unused1);
    EXPECT_EQ(services::identifierText(r), std::string(101, '7'));
    r.identifier[5] = 0;
    EXPECT_EQ(services::identifierText(r), "77777");
}
