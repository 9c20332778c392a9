#pragma once
// The headless front end: the application core driven by a plain loop, one line printed per
// recording start and stop and per detection, a short status every minute.
#include <string>
#include <vector>

namespace kestavo::program {

struct HeadlessOptions {
    std::vector<std::string> coreArguments;  // the first may be "-i13", "-start" or "-netstart"
    bool untilLinesEnd = false;              // shut down once every file-backed line has ended
};

// Runs until SIGINT, SIGTERM, `kestavo --quit` or (with untilLinesEnd) the end of the lines.
// Returns the process exit code.
int RunHeadless(const HeadlessOptions& options);

// Prints every input side name (as DEVICE keys take them), then the output devices.
int ListDevices();

}  // namespace kestavo::program
