// kestavo-plugin-probe FILE.plg: tries a plug-in in a process of its own for the recorder (see
// services/plugin_vetting.h). Prints "<description>\t<version>" and exits 0 when it passes;
// prints the problem and exits 2 (not loadable, an entry point missing) or 3 (writes past its
// texts). A crash or a hang is seen by the recorder from outside.
#include <cstdio>

#include "services/plugin_vetting.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestavo-plugin-probe FILE.plg\n");
        return 2;
    }
    const auto outcome = kestavo::services::ProbePlugin(argv[1]);
    std::printf("%s\n", outcome.line.c_str());
    return outcome.exitCode;
}
