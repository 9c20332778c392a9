// RunChild: a program run in a process of its own gives its output and exit code; a crash is told
// by its signal, and a child that outlives its time is killed, even one that closed its output.
#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <csignal>

namespace kestavo::platform {
namespace {

using namespace std::chrono_literals;

TEST(RunChild, ReportsOutputExitCodeCrashAndKillsAChildThatOutlivesItsTime) {
    const auto sh = [](const char* script, std::chrono::milliseconds limit = 5s) {
        return RunChild({"/bin/sh", "-c", script}, limit);
    };
    const ChildResult ok = sh("echo one; echo two; exit 3");
    EXPECT_EQ(std::tuple(ok.started, ok.timedOut, ok.exitCode, ok.signal, ok.out),
              std::tuple(true, false, 3, 0, "one\ntwo\n"));
    const ChildResult crash = sh("kill -SEGV $$");
    EXPECT_EQ(std::tuple(crash.exitCode, crash.signal, crash.timedOut), std::tuple(-1, SIGSEGV, false));
    for (const char* hang : {"sleep 30", "exec >&-; sleep 30"}) {
        const auto t0 = std::chrono::steady_clock::now();
        const ChildResult r = sh(hang, 300ms);
        EXPECT_TRUE(r.timedOut) << hang;
        EXPECT_EQ(r.signal, 0) << hang;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s) << hang;
    }
    const ChildResult missing = RunChild({"/nonexistent/program"}, 1s);
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.error.empty());
}

}  // namespace
}  // namespace kestavo::platform
