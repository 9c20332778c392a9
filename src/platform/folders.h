#pragma once
// Folders: where the program keeps its files; also the machine's name and the program's own path.
//
// The program's special folders. The program folder holds everything that lives "beside the
// program" (TEMP, SOUND/n, CONTROL, PLUGINS, plg<n>.ust, time<n>.tim, snd.ini, the language tables,
// the configuration backup); the configuration folder holds tevra4.ini.
#include <filesystem>
#include <string>

namespace kestavo::platform {

struct Folders {
    std::filesystem::path program;    // $KESTAVO_HOME, else $XDG_DATA_HOME/kestavo, else ~/.local/share/kestavo
    std::filesystem::path config;     // $XDG_CONFIG_HOME/kestavo, else ~/.config/kestavo
    std::filesystem::path runtime;    // $XDG_RUNTIME_DIR, else the program folder
    std::filesystem::path autostart;  // $XDG_CONFIG_HOME/autostart, else ~/.config/autostart

    // Reads the environment; creates nothing.
    [[nodiscard]] static Folders fromEnvironment();
};

// The host name, trimmed of blanks (the "computer name").
[[nodiscard]] std::string computerName();
// The full path of the running program.
[[nodiscard]] std::filesystem::path executablePath();

}  // namespace kestavo::platform
