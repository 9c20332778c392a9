// kestavo: the multi-channel line recorder. With a display it shows its window; without one, or
// with --headless, it runs the headless front end over the same application core.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "headless.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#ifdef KESTAVO_HAVE_UI
#include "ui/gui_main.h"
#endif

namespace {

constexpr const char* kDescription =
    "Records telephone and radio lines: every input side of every sound card (or every WAV file of the\n"
    "file-backed lines folder) is a channel that records by level, voice, identifier or schedule.\n"
    "Start-up switches, written alone: -i13 (local server, off), -start (local server, on), -netstart\n"
    "(search the network for a server); -w (written by the autostart entry) is accepted and ignored.";

constexpr const char* kExitCodes =
    "  0  the recorder ended in order (signal, --quit, end of the lines), or --help/--version\n"
    "  1  it could not run: another recorder owns the program folder, or (with --quit) none answered\n"
    "  2  the command line was refused, or asks what cannot be done (--until-lines-end without lines)\n"
    "Environment: KESTAVO_HOME (program folder), XDG_CONFIG_HOME (tevra4.ini), XDG_RUNTIME_DIR,\n"
    "KESTAVO_LINES (folder of WAV lines), KESTAVO_LINES_PACE=fast, KESTAVO_LINES_START=YYYY-MM-DDTHH:MM:SS,\n"
    "KESTAVO_ALSA=off. Settings: see the configuration manual (docs/configuration.md).";

bool isStartSwitch(const std::string& a) { return a == "-i13" || a == "-start" || a == "-netstart"; }

}  // namespace

int main(int argc, char** argv) {
    kestavo::program::HeadlessOptions options;
    bool listDevices = false, quit = false, headless = false;

    // The start-up switches and the autostart's "-w" keep their single-dash form: they are taken
    // out before the parser sees the rest.
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-w") continue;
        if (isStartSwitch(a)) {
            if (!options.coreArguments.empty()) {
                std::fprintf(stderr, "kestavo: error: only one of -i13, -start, -netstart may be given (try --help)\n");
                return kestavo::program::kExitUsage;
            }
            options.coreArguments.push_back(a);
            continue;
        }
        rest.push_back(a);
    }

    CLI::App app(kDescription, "kestavo");
    kestavo::program::AddCommonOptions(app, kExitCodes);
    app.add_flag("--headless", headless, "run without a window (the default when there is no display)");
    app.add_flag("--quit", quit, "ask the running recorder to close, without confirmation");
    app.add_flag("--until-lines-end", options.untilLinesEnd, "with file-backed lines: close once every line has ended");
    app.add_flag("--list-devices", listDevices, "print the input side names and the output devices, then exit");
    app.add_option("--events", options.events,
                   "write one JSON object per line for every recording started, stopped, number detected\n"
                   "and fault to FILE (appended), or to standard output for - (the activity lines then go to\n"
                   "standard error)")
        ->type_name("FILE");
    if (const auto code = kestavo::program::ParseCommandLine(app, rest)) return *code;

    if (listDevices) return kestavo::program::ListDevices();
    if (quit) {
        const auto folders = kestavo::platform::Folders::fromEnvironment();
        if (auto ec =
                kestavo::platform::SendQuit(kestavo::platform::QuitSocketPath(folders.runtime, folders.program))) {
            std::fprintf(stderr, "kestavo: error: no running recorder answered (%s)\n", ec.message().c_str());
            return 1;
        }
        return 0;
    }
#ifdef KESTAVO_HAVE_UI
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (!headless && display) {
        options.desktopSession = true;  // only the window keeps the desktop autostart entry
        return kestavo::ui::RunGui(argc, argv, options);
    }
#endif
    return kestavo::program::RunHeadless(options);
}
