#include "config/autostart.h"

#include "config/settings.h"
#include "config/text_file.h"

#include <filesystem>

namespace kestavo::config {

namespace {

// The Exec value of a desktop entry: the program quoted when it holds reserved characters, with
// the entry format's own escapes, then " -w".
std::string desktopExec(const std::filesystem::path& program) {
    const std::string path = program.string();
    const bool needsQuotes = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    std::string arg;
    if (needsQuotes) {
        arg += '"';
        for (char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
            arg += c;
        }
        arg += '"';
    } else {
        arg = path;
    }
    std::string exec;
    for (char c : arg) {
        if (c == '\\')
            exec += "\\\\";  // string-value escape of the entry format
        else if (c == '%')
            exec += "%%";  // field codes start with %
        else if (c == '\n')
            exec += "\\n";
        else
            exec += c;
    }
    return exec + " -w";
}

}  // namespace

std::error_code ApplyAutostart(const ConfigFiles& files, bool autostart) {
    std::error_code ec;
    if (files.autostartEntry.empty()) return ec;  // no desktop session to start with
    if (!autostart) {
        std::filesystem::remove(files.autostartEntry, ec);  // false when absent: nothing to do
        return ec;
    }
    std::filesystem::create_directories(files.autostartEntry.parent_path(), ec);
    if (ec) return ec;
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Lodvimar\n"
        "Exec=" +
        desktopExec(files.executable) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    return writeFileAtomically(files.autostartEntry, entry);
}

}  // namespace kestavo::config
