#pragma once
// ParseCommandLine: the command-line handling every Kestavo program shares, over CLI11.
//
// --help and --version print to stdout and end the program with 0; anything the program does not
// know (an unknown option, a single-dash word, a missing or malformed value) is refused with one
// line on stderr and exit code 2, before the program touches anything. Main thread, at start.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "kestavo_version.h"

namespace kestavo::program {

inline constexpr int kExitUsage = 2;  // the command line was refused

// Sets the version flag and the exit-code footer every program shows.
inline void AddCommonOptions(CLI::App& app, const std::string& exitCodes) {
    app.set_version_flag("--version", std::string(app.get_name()) + " " + kVersion);
    app.footer("Exit codes:\n" + exitCodes);
}

// Parses `args` (without the program name). Returns the exit code when the program should end now
// (0 after --help or --version, kExitUsage on a refused command line), nothing when it should run.
inline std::optional<int> ParseCommandLine(CLI::App& app, std::vector<std::string> args) {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        for (char& c : what)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "%s: error: %s (try --help)\n", app.get_name().c_str(), what.c_str());
        return kExitUsage;
    }
    return std::nullopt;
}

}  // namespace kestavo::program
