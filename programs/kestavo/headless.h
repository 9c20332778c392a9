#pragma once
// The headless front end: the application core driven by a plain loop, one line printed per
// recording start and stop and per detection, a short status every minute.
#include "app/program_run.h"

namespace kestavo::program {

using HeadlessOptions = app::ProgramOptions;

// Runs until SIGINT, SIGTERM, `kestavo --quit` or (with untilLinesEnd) the end of the lines.
// Returns the process exit code.
int RunHeadless(const HeadlessOptions& options);

// Prints every input side name (as DEVICE keys take them), then the output devices.
int ListDevices();

}  // namespace kestavo::program
