#pragma once
// Tspace_shrink: the free-space keeper. Deletes the oldest MP3 recordings, one at a time, until the
// recording disk has its target of free bytes again.
//
// One run gathers candidates and deletes them oldest first, asking the free-space query before each
// deletion and stopping as soon as the target is met:
//   - flat folders: the ".mp3" files directly in each channel's folder, ordered by last write time;
//   - day folders: the channel folders' sub-folders named as the channels name them (DD_MM_YYYY),
//     oldest date first; a run looks into at most as many of them as there are channels, takes
//     their ".mp3" files (oldest first within a folder, folder after folder) and removes a folder
//     that holds no ".mp3" file when it is empty. A folder whose name is not such a date is never
//     touched; a further run continues with the next folders.
// A recording's JSON sidecar ("X.mp3.json") is deleted with it.
// A file the `inUse` predicate names (open for recording, waiting for upload) is never deleted; a
// deletion that fails is skipped. When a run has deleted every file it could and the target is
// still not met with nothing left to look at, `message` is called — once for as long as the
// caller's `toldShort` flag lives, so the operator hears it once, not every 4 s.
// Threads: the constructor starts one keeper thread at idle priority; the owner (the main thread)
// asks Finished() on its timer and destroys the object, which stops the run between two deletions
// and joins. RunOnce is the thread's body, callable directly on any thread.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kestavo::services {

struct SpaceKeeperParams {
    std::vector<std::filesystem::path> channelFolders;  // each channel's recording folder, in channel order
    bool dayFolders = false;                            // MAIN/DIRS_D: recordings in one folder per day
    std::uint64_t keepFreeBytes = 0;                    // the target of free bytes
};

struct SpaceKeeperEnv {
    // Free bytes of the recording disk now; nullopt when it cannot be read (the run then stops).
    std::function<std::optional<std::uint64_t>()> freeBytes;
    // True for a file that must stay: open for recording or waiting for upload. May be empty.
    std::function<bool(const std::filesystem::path&)> inUse;
    // Deletes one file; false when it could not. Empty: std::filesystem::remove.
    std::function<bool(const std::filesystem::path&)> remove;
    // Told once that the target cannot be met by deleting MP3 recordings. May be empty.
    std::function<void(const std::string&)> message;
    // Set when the message has been given; owned by the caller and kept across runs.
    std::atomic<bool>* toldShort = nullptr;
};

// What one run did.
struct SpaceKeeperRun {
    std::vector<std::filesystem::path> deleted;         // in the order deleted
    std::vector<std::filesystem::path> removedFolders;  // empty day folders removed
    bool targetMet = false;                             // the free space reached the target
};

class Tspace_shrink {
public:
    Tspace_shrink(SpaceKeeperParams params, SpaceKeeperEnv env);
    ~Tspace_shrink();  // stops the run between two deletions and joins
    Tspace_shrink(const Tspace_shrink&) = delete;
    Tspace_shrink& operator=(const Tspace_shrink&) = delete;

    [[nodiscard]] bool Finished() const noexcept { return finished_.load(); }
    // Waits for the run to end and gives what it did.
    const SpaceKeeperRun& Wait();

    static SpaceKeeperRun RunOnce(const SpaceKeeperParams& params, const SpaceKeeperEnv& env,
                                  std::stop_token stop = {});

    // The date a day folder's name stands for, as days since 1970-01-01; nullopt for any other name.
    [[nodiscard]] static std::optional<int> DayFolderDate(const std::string& name);

private:
    SpaceKeeperParams params_;
    SpaceKeeperEnv env_;
    SpaceKeeperRun run_;
    std::atomic<bool> finished_{false};
    std::jthread thread_;
};

// Free bytes available on the file system holding `path`, or nullopt.
[[nodiscard]] std::optional<std::uint64_t> FreeBytesAt(const std::filesystem::path& path);

}  // namespace kestavo::services
