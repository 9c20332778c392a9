#pragma once
// RunChild: runs a program in a process of its own and collects what it printed, so that code the
// recorder does not trust (a plug-in nobody has tried here yet) can crash, hang or scribble over
// its memory without touching the recorder. The child gets no input, its standard output is
// collected (up to a limit), and it is killed when it outlives the time allowed.
// Threads: any thread; blocks the caller until the child has ended.
#include <chrono>
#include <string>
#include <vector>

namespace kestavo::platform {

struct ChildResult {
    bool started = false;   // false: the program could not be run at all (error says why)
    bool timedOut = false;  // killed after the time allowed
    int exitCode = -1;      // when it exited by itself
    int signal = 0;         // the signal that ended it (a crash), 0 when it exited
    std::string out;        // what it wrote on its standard output
    std::string error;      // why it could not be started
};

// argv[0] is the program's path. Output beyond `maxOutput` bytes is dropped.
[[nodiscard]] ChildResult RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                                   std::size_t maxOutput = 65536);

// The folder of the running program (the link /proc/self/exe), empty when it cannot be read.
[[nodiscard]] std::string ProgramFolder();

}  // namespace kestavo::platform
