// Tspace_shrink on temporary folders: files with set write times and sizes, and a disk whose free
// space grows by the size of every file deleted (the injected free-space query).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "services/space_keeper.h"
#include "support/temp_dir.h"

using namespace kestavo;
using services::SpaceKeeperEnv;
using services::SpaceKeeperParams;
using services::Tspace_shrink;
namespace fs = std::filesystem;

namespace {

// A disk of `initialFree` free bytes that gains the size of each file deleted through it.
struct FakeDisk {
    std::uint64_t initialFree = 0;
    std::uint64_t freed = 0;
    std::set<fs::path> failing;  // deletions that fail
    std::set<fs::path> busy;     // open for recording or waiting for upload
    std::vector<std::string> messages;
    std::atomic<bool> told{false};
    int queries = 0;

    SpaceKeeperEnv env() {
        SpaceKeeperEnv e;
        e.freeBytes = [this]() -> std::optional<std::uint64_t> {
            ++queries;
            return initialFree + freed;
        };
        e.remove = [this](const fs::path& p) {
            if (failing.count(p)) return false;
            const auto size = fs::file_size(p);
            if (!fs::remove(p)) return false;
            freed += size;
            return true;
        };
        e.inUse = [this](const fs::path& p) { return busy.count(p) > 0; };
        e.message = [this](const std::string& m) { messages.push_back(m); };
        e.toldShort = &told;
        return e;
    }
};

// A file of `bytes` bytes last written `hoursAgo` hours before a fixed moment.
fs::path file(const fs::path& path, std::uintmax_t bytes, int hoursAgo) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    fs::last_write_time(path, fs::file_time_type(std::chrono::hours(500000 - hoursAgo)));
    return path;
}

std::vector<std::string> names(const std::vector<fs::path>& paths) {
    std::vector<std::string> out;
    for (const auto& p : paths) out.push_back(p.filename().string());
    return out;
}
using Names = std::vector<std::string>;

}  // namespace

TEST(SpaceKeeper, FlatFoldersLoseTheOldestMp3FilesOfAllChannelsAskingTheFreeSpaceBeforeEachDeletion) {
    test::TempDir dir("kestavo-keeper");
    file(dir / "ch1/a.mp3", 100, 10);
    file(dir / "ch2/b.mp3", 100, 30);  // the oldest
    file(dir / "ch1/c.mp3", 100, 20);
    file(dir / "ch2/d.mp3", 100, 5);
    file(dir / "ch1/old.wav", 100, 99);    // not an MP3: never deleted
    file(dir / "ch1/sub/e.mp3", 100, 99);  // in a sub-folder: not looked at
    file(dir / "ch2/b.mp3.json", 0, 30);   // sidecars: the deleted recording's goes with it
    file(dir / "ch2/d.mp3.json", 0, 5);
    FakeDisk disk;
    disk.initialFree = 50;  // 300 wanted: three files of 100 bytes
    const auto run = Tspace_shrink::RunOnce({{dir / "ch1", dir / "ch2"}, false, 300}, disk.env());
    EXPECT_EQ(names(run.deleted), (Names{"b.mp3", "c.mp3", "a.mp3"}));
    EXPECT_TRUE(run.targetMet);
    EXPECT_EQ(disk.queries, 4);  // before each of three deletions, and the fourth that finds the target
    EXPECT_FALSE(fs::exists(dir / "ch2/b.mp3.json"));
    for (const char* kept : {"ch2/d.mp3", "ch2/d.mp3.json", "ch1/old.wav", "ch1/sub/e.mp3"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
    EXPECT_TRUE(disk.messages.empty());
}

TEST(SpaceKeeper, NothingIsDeletedWhileTheTargetIsFreeOrTheDiskCannotBeMeasured) {
    test::TempDir dir("kestavo-keeper");
    file(dir / "ch1/a.mp3", 100, 10);
    FakeDisk disk;
    disk.initialFree = 1000;
    EXPECT_TRUE(Tspace_shrink::RunOnce({{dir / "ch1"}, false, 1000}, disk.env()).deleted.empty());
    auto env = disk.env();
    env.freeBytes = [] { return std::optional<std::uint64_t>(); };
    EXPECT_TRUE(Tspace_shrink::RunOnce({{dir / "ch1"}, false, 1000}, env).deleted.empty());
    EXPECT_TRUE(fs::exists(dir / "ch1/a.mp3"));
}

TEST(SpaceKeeper, AFileThatCannotBeDeletedOrIsInUseIsSkippedForTheNextOldest) {
    test::TempDir dir("kestavo-keeper");
    const auto failing = file(dir / "ch1/a.mp3", 100, 40);
    const auto recording = file(dir / "ch1/b.mp3", 100, 30);
    const auto queued = file(dir / "ch1/c.mp3", 100, 20);
    file(dir / "ch1/d.mp3", 100, 10);
    file(dir / "ch1/e.mp3", 100, 5);
    FakeDisk disk;
    disk.failing = {failing};
    disk.busy = {recording, queued};
    disk.initialFree = 0;
    const auto run = Tspace_shrink::RunOnce({{dir / "ch1"}, false, 150}, disk.env());
    EXPECT_EQ(names(run.deleted), (Names{"d.mp3", "e.mp3"}));
    for (const auto& p : {failing, recording, queued}) EXPECT_TRUE(fs::exists(p)) << p;
}

TEST(SpaceKeeper, DayFoldersAreTakenOldestDateFirstAtMostOnePerChannelAndEmptyOnesRemoved) {
    test::TempDir dir("kestavo-keeper");
    // Dates from the names, not from the folders' own times.
    fs::create_directories(dir / "ch1/03_03_2025");  // the oldest, empty: removed
    file(dir / "ch2/15_01_2026/x.mp3", 100, 1);      // second oldest
    file(dir / "ch2/15_01_2026/w.mp3", 100, 2);
    file(dir / "ch1/01_02_2026/y.mp3", 100, 300);     // third: not looked at in this run
    fs::create_directories(dir / "ch1/notes");        // not a date: untouched
    fs::create_directories(dir / "ch1/31_02_2020");   // no such day: untouched
    fs::create_directories(dir / "ch2/2020_01_01");   // another pattern: untouched
    file(dir / "ch1/20_01_2026/only.wav", 100, 400);  // a day folder without MP3 but not empty: stays
    FakeDisk disk;
    disk.initialFree = 0;
    const SpaceKeeperParams params{{dir / "ch1", dir / "ch2"}, true, 1000};
    auto run = Tspace_shrink::RunOnce(params, disk.env());
    EXPECT_EQ(names(run.removedFolders), (Names{"03_03_2025"}));
    EXPECT_EQ(names(run.deleted), (Names{"w.mp3", "x.mp3"}));  // oldest first within the folder
    EXPECT_TRUE(fs::exists(dir / "ch1/01_02_2026/y.mp3"));
    EXPECT_FALSE(run.targetMet);
    EXPECT_TRUE(disk.messages.empty());  // older folders remain to be looked at

    // The next runs continue: the emptied folder goes, the WAV-only folder stays, then y.mp3.
    run = Tspace_shrink::RunOnce(params, disk.env());
    EXPECT_EQ(names(run.removedFolders), (Names{"15_01_2026"}));
    run = Tspace_shrink::RunOnce(params, disk.env());
    EXPECT_EQ(names(run.deleted), (Names{"y.mp3"}));
    for (const char* kept : {"ch1/notes", "ch1/31_02_2020", "ch2/2020_01_01", "ch1/20_01_2026/only.wav"})
        EXPECT_TRUE(fs::exists(dir / kept)) << kept;
}

TEST(SpaceKeeper, TheShortfallIsToldOnceWhenNoMp3IsLeft) {
    test::TempDir dir("kestavo-keeper");
    file(dir / "ch1/a.mp3", 100, 10);
    file(dir / "ch1/big.wav", 5000, 10);
    FakeDisk disk;
    disk.initialFree = 0;
    const SpaceKeeperParams params{{dir / "ch1"}, false, 1000};
    EXPECT_EQ(names(Tspace_shrink::RunOnce(params, disk.env()).deleted), Names{"a.mp3"});
    EXPECT_FALSE(Tspace_shrink::RunOnce(params, disk.env()).targetMet);
    ASSERT_EQ(disk.messages.size(), 1u);
    EXPECT_NE(disk.messages[0].find("cannot be met"), std::string::npos) << disk.messages[0];
}

TEST(SpaceKeeper, TheKeeperThreadRunsTheSameAndSaysWhenItIsFinished) {
    test::TempDir dir("kestavo-keeper");
    file(dir / "ch1/a.mp3", 100, 20);
    file(dir / "ch1/b.mp3", 100, 10);
    FakeDisk disk;
    disk.initialFree = 0;
    Tspace_shrink keeper({{dir / "ch1"}, false, 100}, disk.env());
    const auto& run = keeper.Wait();
    EXPECT_TRUE(keeper.Finished());
    EXPECT_EQ(names(run.deleted), Names{"a.mp3"});
}

TEST(SpaceKeeper, DayFolderNamesAreDatesOnlyWhenTheyAreRealDays) {
    EXPECT_EQ(Tspace_shrink::DayFolderDate("01_01_1970"), 0);
    EXPECT_EQ(Tspace_shrink::DayFolderDate("02_01_1970"), 1);
    EXPECT_EQ(Tspace_shrink::DayFolderDate("29_02_2024"), 19782);  // 2024-02-29, a leap day
    for (const char* name :
         {"29_02_2023", "00_01_2026", "32_01_2026", "01_13_2026", "1_1_2026", "01.01.2026", "notes", "01_01_2026x", ""})
        EXPECT_FALSE(Tspace_shrink::DayFolderDate(name)) << name;
}
