// kestavo: the multi-channel line recorder. With a display it shows its window; without one, or
// with --headless, it runs the headless front end over the same application core.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headless.h"
#include "platform/folders.h"
#include "platform/single_instance.h"
#ifdef KESTAVO_HAVE_UI
#include "ui/gui_main.h"
#endif

namespace {

void usage() {
    std::puts(
        "Usage: kestavo [-i13 | -start | -netstart] [options]\n"
        "  -i13, -start, -netstart  start-up switches (first argument only): local server, server on,\n"
        "                           network server search\n"
        "  --headless               run without a window (the default when there is no display)\n"
        "  --quit                   ask the running recorder to close, without confirmation\n"
        "  --until-lines-end        with file-backed lines: close once every line has ended\n"
        "  --list-devices           print the input side names and the output devices, then exit\n"
        "  --help                   this text\n"
        "Environment: KESTAVO_HOME (program folder), XDG_CONFIG_HOME (tevra4.ini), XDG_RUNTIME_DIR,\n"
        "KESTAVO_LINES (folder of WAV lines), KESTAVO_LINES_PACE=fast, KESTAVO_LINES_START=YYYY-MM-DDTHH:MM:SS,\n"
        "KESTAVO_ALSA=off.");
}

}  // namespace

int main(int argc, char** argv) {
    kestavo::program::HeadlessOptions options;
    bool listDevices = false, quit = false, headless = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        }
        if (a == "--list-devices") {
            listDevices = true;
        } else if (a == "--quit") {
            quit = true;
        } else if (a == "--until-lines-end") {
            options.untilLinesEnd = true;
        } else if (a == "--headless") {
            headless = true;
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "kestavo: unknown option %s (try --help)\n", a.c_str());
            return 2;
        } else {
            options.coreArguments.push_back(a);  // the start-up switch and the autostart's " -w"
        }
    }
    if (listDevices) return kestavo::program::ListDevices();
    if (quit) {
        const auto folders = kestavo::platform::Folders::fromEnvironment();
        if (auto ec =
                kestavo::platform::SendQuit(kestavo::platform::QuitSocketPath(folders.runtime, folders.program))) {
            std::fprintf(stderr, "kestavo: no running recorder answered (%s)\n", ec.message().c_str());
            return 1;
        }
        return 0;
    }
#ifdef KESTAVO_HAVE_UI
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    if (!headless && display) return kestavo::ui::RunGui(argc, argv, options);
#endif
    return kestavo::program::RunHeadless(options);
}
