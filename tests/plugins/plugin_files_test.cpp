// The built .plg files as the host sees them: only the four entry points exported, a catalogue
// line each, and one copy per channel (the decoded results through the host: detect_plugins_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "services/plugin_host.h"
#include "support/decoder_signals.h"
#include "support/temp_dir.h"

using namespace kestavo;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPlugins[] = {"fsk_callerid.plg", "dtmf_q24.plg", "ctcss.plg"};

// A program folder with our plug-ins in its PLUGINS folder.
struct ProgramFolder {
    test::TempDir dir{"kestavo-plugins"};
    ProgramFolder() {
        fs::create_directories(dir / "PLUGINS");
        for (const char* p : kPlugins) fs::copy_file(fs::path(KESTAVO_PLUGIN_DIR) / p, dir / "PLUGINS" / p);
    }
};

}  // namespace

TEST(PluginFiles, EachExportsExactlyTheFourEntryPoints) {
    for (const char* p : kPlugins) {
        const std::string command = "nm -D --defined-only " + (fs::path(KESTAVO_PLUGIN_DIR) / p).string();
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::set<std::string> names;
        char address[64], type[8], name[256];
        while (std::fscanf(pipe, "%63s %7s %255s", address, type, name) == 3) names.insert(name);
        EXPECT_EQ(::pclose(pipe), 0) << command;
        EXPECT_EQ(names, (std::set<std::string>{"Check_version", "Start_plugin", "Stop_plugin", "process"})) << p;
    }
}

TEST(PluginFiles, TheCatalogueListsEachWithItsDescriptionAndVersion) {
    ProgramFolder folder;
    const auto lines = services::Tcommon_plugin(folder.dir.path()).ListPlugins();
    ASSERT_EQ(lines.size(), 3u);
    const std::string expectedStart[] = {"ctcss.plg\tCTCSS", "dtmf_q24.plg\tDTMF", "fsk_callerid.plg\tFSK caller ID"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].rfind(expectedStart[i], 0), 0u) << lines[i];
        EXPECT_EQ(lines[i].substr(lines[i].rfind('\t')), "\t1.0") << lines[i];
    }
}

// Two channels with the same plug-in run two copies: each keeps its own tone even when their
// samples are interleaved call by call.
TEST(PluginFiles, TwoChannelsWithCtcssKeepTheirOwnTones) {
    ProgramFolder folder;
    services::Tplugin one(folder.dir.path(), 1, "ctcss.plg"), two(folder.dir.path(), 2, "ctcss.plg");
    ASSERT_TRUE(one.Loaded() && two.Loaded());
    test::Signal a = test::tone(88.5, 0.05, test::samplesOf(1000.0)), b = test::tone(203.5, 0.05, a.size());
    test::append(a, test::silence(test::samplesOf(500.0)));
    test::append(b, test::silence(test::samplesOf(500.0)));
    services::PluginRecord ra{}, rb{};
    std::vector<std::pair<std::string, int>> gotA, gotB;
    for (std::size_t n = 0; n < a.size(); ++n) {
        if (one.Process(ra, a[n])) gotA.emplace_back(services::identifierText(ra), ra.action);
        if (two.Process(rb, b[n])) gotB.emplace_back(services::identifierText(rb), rb.action);
    }
    using Got = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(gotA, (Got{{"88.5", 1}, {"88.5", 0}}));
    EXPECT_EQ(gotB, (Got{{"203.5", 1}, {"203.5", 0}}));
}
