// The desktop autostart entry: written or removed as MAIN/AUTO says, with an Exec line that runs the program.
#include "config/autostart.h"
#include "config/settings.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using namespace test;

TEST(Autostart, TheEntryRunsTheProgramWithDashWAndQuotesItByTheDesktopEntryRules) {
    // Reserved characters need the quoted form; inside quotes \ " ` $ take a backslash, and the
    // entry's string escapes then double every backslash; a literal % is written %%.
    // clang-format off
    for (const auto& [program, exec] : {std::pair{"/opt/kestavo/bin/kestavo", "/opt/kestavo/bin/kestavo -w"},
             {"/opt/my apps/kestavo", "\"/opt/my apps/kestavo\" -w"}, {"/opt/100%/kestavo", "/opt/100%%/kestavo -w"},
             {"/opt/$x/k", "\"/opt/\\\\$x/k\" -w"}, {"/opt/a\\b", "\"/opt/a\\\\\\\\b\" -w"}}) {
        // clang-format on
        TempDir dir;
        ConfigFiles f;
        f.autostartEntry = dir / "autostart" / "Lodvimar.desktop";
        f.executable = program;
        ASSERT_FALSE(ApplyAutostart(f, true)) << program;
        EXPECT_EQ(readText(f.autostartEntry),
                  std::string("[Desktop Entry]\nType=Application\nName=Lodvimar\nExec=") + exec +
                      "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    }
}

TEST(Autostart, LoadingTheSettingsFollowsAuto) {
    TempDir dir;
    ConfigFiles f;
    f.file = dir / "tevra4.ini";
    f.autostartEntry = dir / "autostart" / "Lodvimar.desktop";
    GeneralSettings s;
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);  // AUTO is on by default
    EXPECT_TRUE(std::filesystem::exists(f.autostartEntry));
    writeText(f.file, "[MAIN]\r\nAUTO=0\r\n");
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);
    EXPECT_FALSE(std::filesystem::exists(f.autostartEntry));
    ASSERT_FALSE(LoadGeneralSettings(f, s).autostartError);  // absent stays absent, no error
    writeText(dir / "blocker", "");
    f.autostartEntry = dir / "blocker" / "Lodvimar.desktop";
    EXPECT_TRUE(ApplyAutostart(f, true));
}

}  // namespace
}  // namespace kestavo::config
