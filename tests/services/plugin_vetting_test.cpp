// PluginVetting and the catalogue: every plug-in is tried in a process of its own; one that
// crashes as it loads, hangs, lacks an entry point or writes past its texts is refused with the
// reason, and only the others are listed.
#include "services/plugin_vetting.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "services/plugin_host.h"
#include "support/temp_dir.h"

namespace kestavo::services {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kBad = KESTAVO_BAD_PLUGINS;

TEST(PluginVetting, APlugInThatMisbehavesInItsTrialIsRefusedWithTheReasonAndAGoodOneIsDescribed) {
    PluginVetting vetting(KESTAVO_PLUGIN_PROBE, 1500ms);
    ASSERT_TRUE(vetting.Isolated());
    const std::pair<const char*, const char*> bad[] = {
        {"bad_crash_at_load.plg", "crashed in its trial"},
        {"bad_no_stop.plg", "lacks the entry point Stop_plugin"},
        {"bad_long_text.plg", "writes past its description or version text"},
        {"bad_record.plg", "writes past its result record"},
        {"bad_hang.plg", "did not finish its trial within 1 s"},
    };
    for (const auto& [file, reason] : bad) {
        const PluginVerdict v = vetting.Check(kBad / file);
        EXPECT_FALSE(v.ok) << file;
        EXPECT_NE(v.problem.find(reason), std::string::npos) << file << ": " << v.problem;
    }
    const PluginVerdict good = vetting.Check(KESTAVO_TEST_PLUGIN);
    EXPECT_TRUE(good.ok) << good.problem;
    EXPECT_EQ(std::tuple(good.description, good.version), std::tuple("Test demodulator", "1.0"));
}

TEST(PluginVetting, TheCatalogueListsOnlyPlugInsThatPassedAndNamesTheOthers) {
    test::TempDir dir;
    fs::create_directories(dir / "PLUGINS");
    fs::copy_file(KESTAVO_TEST_PLUGIN, dir / "PLUGINS" / "demod.plg");
    fs::copy_file(kBad / "bad_record.plg", dir / "PLUGINS" / "bad_record.plg");
    fs::copy_file(kBad / "bad_crash_at_load.plg", dir / "PLUGINS" / "crash.plg");
    PluginVetting vetting(KESTAVO_PLUGIN_PROBE);
    Tcommon_plugin catalogue(dir.path(), &vetting);
    EXPECT_EQ(catalogue.ListPlugins(), std::vector<std::string>{"demod.plg\tTest demodulator\t1.0"});
    ASSERT_EQ(catalogue.Refused().size(), 2u);
    EXPECT_EQ(catalogue.Refused()[0], "bad_record.plg\twrites past its result record");
    EXPECT_EQ(catalogue.Refused()[1].rfind("crash.plg\tcrashed in its trial", 0), 0u) << catalogue.Refused()[1];
}

TEST(PluginVetting, WithoutAProbeProgramPlugInsAreTriedInThisProcess) {
    PluginVetting vetting("/nonexistent/kestavo-plugin-probe");
    EXPECT_FALSE(vetting.Isolated());
    EXPECT_TRUE(vetting.Check(KESTAVO_TEST_PLUGIN).ok);
    const PluginVerdict v = vetting.Check(kBad / "bad_no_stop.plg");
    EXPECT_EQ(std::tuple(v.ok, v.problem), std::tuple(false, "lacks the entry point Stop_plugin"));
}

}  // namespace
}  // namespace kestavo::services
