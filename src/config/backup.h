#pragma once
// MirrorToBackup and RestoreFromBackup: the second copy of the configuration file and its return.
//
// The working file tevra4.ini lives in the configuration folder; a copy of the last file that
// built at least one channel lives in the program folder (ConfigFiles::backup). After the
// channels are built at start-up, the application core calls one of the two: with channels the
// working file becomes the new backup; without any the working file is taken for broken and the
// backup replaces it. Every copy goes through a temporary file and a rename, so neither file is
// ever missing or half written in between. Main thread.
#include <system_error>

namespace kestavo::config {

struct ConfigFiles;

// A start-up that built at least one channel: the working file is copied over the backup (the old
// backup stays until the copy is complete; with no working file the backup is left alone).
[[nodiscard]] std::error_code MirrorToBackup(const ConfigFiles& files);
// A start-up that built no channel: the working file is deleted and the backup copied in its place;
// without a backup nothing replaces it and the next load gives the defaults.
[[nodiscard]] std::error_code RestoreFromBackup(const ConfigFiles& files);

}  // namespace kestavo::config
