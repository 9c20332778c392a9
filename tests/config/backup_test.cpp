// The backup copy: mirrored from a file that built channels, restored over one that built none.
#include "config/backup.h"
#include "config/settings.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace kestavo::config {
namespace {

using namespace test;

TEST(Backup, MirrorsTheGoodFileAndReplacesOneThatBuiltNoChannel) {
    TempDir dir;
    ConfigFiles f;
    f.file = dir / "config" / "tevra4.ini";
    f.backup = dir / "program" / "tevra4.ini";
    writeText(f.file, "[Channels]\nMAX=2\n");
    ASSERT_FALSE(MirrorToBackup(f));  // the program folder is made on the way
    EXPECT_EQ(readText(f.backup), "[Channels]\nMAX=2\n");
    writeText(f.file, "[Channels]\nMAX=1\n[Channels1]\nDEVICE1=gone\n");  // built no channel
    ASSERT_FALSE(RestoreFromBackup(f));
    EXPECT_EQ(readText(f.file), "[Channels]\nMAX=2\n");
    std::filesystem::remove(f.backup);
    ASSERT_FALSE(RestoreFromBackup(f));  // no backup: the broken file goes, the defaults apply
    EXPECT_FALSE(std::filesystem::exists(f.file));
    ASSERT_FALSE(MirrorToBackup(f));  // nothing to mirror: no backup is made from nothing
    EXPECT_FALSE(std::filesystem::exists(f.backup));
    writeText(f.backup, "old");
    writeText(dir / "blocker", "");
    f.file = dir / "blocker" / "tevra4.ini";
    EXPECT_TRUE(RestoreFromBackup(f));
    EXPECT_EQ(readText(f.backup), "old");
}

}  // namespace
}  // namespace kestavo::config
