#pragma once
// PluginVetting: tries every plug-in in a process of its own before the recorder loads it. The
// probe program (kestavo-plugin-probe, beside the recorder) loads the file, checks the four entry
// points, calls Check_version with guarded buffers, runs Start_plugin, two seconds of samples
// through process with a guarded result record, and Stop_plugin. A plug-in that crashes there,
// hangs, lacks an entry point or writes past its texts is refused with the reason, and the
// recorder never loads it; one that passes is loaded as before. Verdicts are kept per file until
// the file changes.
//
// Without a probe program the checks run in the recorder itself (Check_version only), as before.
// Threads: Check may be called from any thread; calls are serialised.
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace kestavo::services {

struct PluginVerdict {
    bool ok = false;
    std::string description;  // from Check_version
    std::string version;
    std::string problem;  // why it was refused, in plain English
};

class PluginVetting {
public:
    // The path KESTAVO_PLUGIN_PROBE names, else the probe program beside the running program or in
    // its ../libexec/kestavo; empty when there is none.
    [[nodiscard]] static std::filesystem::path DefaultProbe();

    // An empty path (or one that does not exist) checks in this process.
    explicit PluginVetting(std::filesystem::path probe, std::chrono::milliseconds limit = std::chrono::seconds(5));
    [[nodiscard]] PluginVerdict Check(const std::filesystem::path& plugin);
    [[nodiscard]] bool Isolated() const noexcept { return !probe_.empty(); }

private:
    struct Known {
        std::filesystem::file_time_type time;
        std::uintmax_t size;
        PluginVerdict verdict;
    };
    std::filesystem::path probe_;
    std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::map<std::filesystem::path, Known> known_;
};

// What the probe program does, in the calling process: the exit code the probe gives (0 passed,
// 2 not loadable or an entry point missing, 3 wrote past its texts) and the line it prints
// ("<description>\t<version>" or the problem).
struct ProbeOutcome {
    int exitCode = 0;
    std::string line;
};
[[nodiscard]] ProbeOutcome ProbePlugin(const std::filesystem::path& plugin);

}  // namespace kestavo::services
