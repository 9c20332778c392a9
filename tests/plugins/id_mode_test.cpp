// A radio channel recording by identifier with ctcss.plg attached: it records while its listed
// tone is present, and an unlisted tone records nothing.
#include <gtest/gtest.h>

#include <fstream>

#include "support/channel_fixture.h"

using namespace kestavo;
namespace fs = std::filesystem;

namespace {

class CtcssIdMode : public test::ChannelFixture {
protected:
    // Channel 1 in ID mode with "88.5" on its control list and ctcss.plg attached.
    std::unique_ptr<capture::Tchannel> radioChannel() {
        fs::create_directories(dir / "PLUGINS"), fs::create_directories(dir / "CONTROL");
        fs::copy_file(fs::path(KESTAVO_PLUGIN_DIR) / "ctcss.plg", dir / "PLUGINS" / "ctcss.plg",
                      fs::copy_options::skip_existing);
        std::ofstream(dir / "CONTROL" / "1.ctl") << "88.5 Fire brigade\n";
        auto c = make({.channelNumber = 1});
        c->SetMinTime(0);
        c->ReloadControlList();
        c->AddPlugin("ctcss.plg");
        c->SetRecordMode(capture::RecordMode::Id);
        return c;
    }
    // 1 s of quiet, the tone for 3 s at -26 dBFS, 2 s of quiet.
    static test::Signal transmission(double hz) {
        test::Signal s = test::silence(test::samplesOf(1000.0));
        test::append(s, test::tone(hz, 0.05, test::samplesOf(3000.0)));
        test::append(s, test::silence(test::samplesOf(2000.0)));
        return s;
    }
};

}  // namespace

TEST_F(CtcssIdMode, TheChannelRecordsWhileItsListedToneIsPresent) {
    auto c = radioChannel();
    ASSERT_EQ(c->PluginNames(), std::vector<std::string>{"ctcss.plg"});
    process(*c, transmission(88.5));
    std::vector<capture::ChannelEvent> seen;
    {
        std::lock_guard lock(mutex);
        seen = events;
    }
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front().kind, Kind::Start);
    EXPECT_EQ(seen.back().kind, Kind::Stop);
    // Started once the tone was held 250 ms, stopped within 300 ms of its end.
    const std::size_t on = test::samplesOf(1000.0), off = test::samplesOf(4000.0);
    EXPECT_GE(seen.front().sample, on + test::samplesOf(250.0));
    EXPECT_LE(seen.front().sample, on + test::samplesOf(450.0));
    EXPECT_GE(seen.back().sample, off);
    EXPECT_LE(seen.back().sample, off + test::samplesOf(300.0));
    c.reset();
    EXPECT_EQ(test::completeWavFiles(dir / "SOUND").size(), 1u);
}

TEST_F(CtcssIdMode, AnUnlistedToneRecordsNothing) {
    auto c = radioChannel();
    process(*c, transmission(91.5));
    std::lock_guard lock(mutex);
    for (const auto& e : events) EXPECT_NE(e.kind, Kind::Start);
}
