#pragma once
// ApplyAutostart: the desktop autostart entry that starts the recorder with the user's session.
//
// MAIN/AUTO chooses whether the program starts by itself. On a desktop that follows the XDG
// autostart rules this is a file $XDG_CONFIG_HOME/autostart/Lodvimar.desktop whose Exec line runs
// the program with "-w"; the entry is written whole (temporary file and rename) or removed. The
// program path is quoted and escaped by the desktop-entry rules, so any path starts the program.
// A program without a desktop session (the headless recorder, a service) leaves the entry path
// empty: then nothing is written or removed. Main thread.
#include <system_error>

namespace kestavo::config {

struct ConfigFiles;

// AUTO true: writes the autostart entry (Exec = the program's full path followed by " -w"); false:
// removes it (an absent entry stays absent, no error). An empty entry path touches nothing. Main thread.
[[nodiscard]] std::error_code ApplyAutostart(const ConfigFiles& files, bool autostart);

}  // namespace kestavo::config
