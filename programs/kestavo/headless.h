#pragma once
// The headless front end: the application core driven by a plain loop, one line printed per
// recording start and stop and per detection, a short status every minute; messages on stderr with
// their level; optionally the JSON event lines, and a batch run's progress on a terminal.
#include "app/program_run.h"

namespace kestavo::program {

struct HeadlessOptions : app::ProgramOptions {
    std::string events;  // --events: "-" (standard output) or a file for the JSON event lines; empty: none
};

// Runs until SIGINT, SIGTERM, `kestavo --quit` or (with untilLinesEnd) the end of the lines.
// Returns the process exit code.
int RunHeadless(const HeadlessOptions& options);

// Prints every input side name (as DEVICE keys take them), then the output devices.
int ListDevices();

}  // namespace kestavo::program
