#pragma once
// MirrorToBackup and RestoreFromBackup: the second copy of the configuration file and its return.
//
// The working file tevra4.ini lives in the configuration folder; a copy of the last file that
// built at least one channel lives in the program folder (ConfigFiles::backup). After the
// channels are built at start-up, the application core calls one of the two: with channels the
// working file becomes the new backup; without any the working file is taken for broken and the
// backup replaces it. Every copy goes through a temporary file and a rename, so neither file is
// ever missing or half written in between. Main thread.
#include <filesystem>
#include <system_error>

#include "platform/clock.h"

namespace kestavo::config {

struct ConfigFiles;

// Where a working file that built no channel was kept.
struct KeptFile {
    std::filesystem::path path;  // the copy; empty when there was no working file to keep
    std::error_code error;       // the copy could not be made: the working file must stay as it is
};

// A start-up that built no channel, before anything writes to the working file: copies it beside
// itself as "<name>.unusable-YYYYMMDD-HHMMSS" (`now`, local time; "-2", "-3" … appended when that
// name is taken), so that what the user wrote is never lost when the backup or the defaults
// replace it. A copy with the same text kept earlier is named instead of making another one, so
// a start-up that builds no channel every time does not fill the folder.
[[nodiscard]] KeptFile KeepUnusableFile(const ConfigFiles& files, const platform::LocalTime& now);

// A start-up that built at least one channel: the working file is copied over the backup (the old
// backup stays until the copy is complete; with no working file the backup is left alone).
[[nodiscard]] std::error_code MirrorToBackup(const ConfigFiles& files);
// A start-up that built no channel: the working file is deleted and the backup copied in its place;
// without a backup nothing replaces it and the next load gives the defaults.
[[nodiscard]] std::error_code RestoreFromBackup(const ConfigFiles& files);

}  // namespace kestavo::config
