#include "services/plugin_vetting.h"

#include <signal.h>
#include <string.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/child_process.h"
#include "platform/dynlib.h"
#include "services/plugin_api.h"

namespace kestavo::services {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kTextBytes = 1024;  // each of Check_version's buffers
constexpr std::size_t kGuardBytes = 4096;
constexpr unsigned char kGuard = 0xA5;
constexpr int kProbeSamples = 2 * 11025;

bool guardIntact(const unsigned char* at) {
    return std::all_of(at, at + kGuardBytes, [](unsigned char b) { return b == kGuard; });
}

// A C string read without running past `limit` bytes.
std::string boundedText(const char* text, std::size_t limit) { return std::string(text, ::strnlen(text, limit)); }

}  // namespace

ProbeOutcome ProbePlugin(const fs::path& plugin) {
    platform::DynamicLibrary lib;
    if (!lib.load(plugin)) return {2, "cannot be loaded: " + lib.error()};
    auto check = lib.entry<CheckVersionFn>("Check_version");
    auto start = lib.entry<StartPluginFn>("Start_plugin");
    auto process = lib.entry<ProcessFn>("process");
    auto stop = lib.entry<StopPluginFn>("Stop_plugin");
    for (const auto& [fn, name] : {std::pair{(void*)check, "Check_version"},
                                   {(void*)start, "Start_plugin"},
                                   {(void*)process, "process"},
                                   {(void*)stop, "Stop_plugin"}})
        if (fn == nullptr) return {2, std::string("lacks the entry point ") + name};

    std::vector<unsigned char> texts(2 * (kTextBytes + kGuardBytes), kGuard);
    char* description = reinterpret_cast<char*>(texts.data());
    char* version = reinterpret_cast<char*>(texts.data() + kTextBytes + kGuardBytes);
    std::fill_n(description, kTextBytes, 0);
    std::fill_n(version, kTextBytes, 0);
    char* d = description;
    char* v = version;
    check(&d, &v);
    if (!guardIntact(texts.data() + kTextBytes) || !guardIntact(texts.data() + 2 * kTextBytes + kGuardBytes))
        return {3, "writes past its description or version text"};

    struct Guarded {
        PluginRecord record;
        unsigned char guard[kGuardBytes];
    };
    auto g = std::make_unique<Guarded>();
    std::memset(&g->record, 0, sizeof g->record);
    std::memset(g->guard, kGuard, sizeof g->guard);
    start(1);
    std::uint32_t noise = 12345;
    for (int i = 0; i < kProbeSamples; ++i) {
        // A second of a tone, then a second of noise: enough to wake most decoders.
        noise = noise * 1664525u + 1013904223u;
        const double x = i < kProbeSamples / 2 ? 0.5 * std::sin(2.0 * 3.14159265358979 * 1000.0 * i / 11025.0)
                                               : (double(noise >> 8) / double(1u << 24) - 0.5) * 0.5;
        g->record.extra[0] = 0;
        (void)process(&g->record, x);
    }
    stop();
    if (!guardIntact(g->guard)) return {3, "writes past its result record"};
    return {0, boundedText(description, kTextBytes) + "\t" + boundedText(version, kTextBytes)};
}

fs::path PluginVetting::DefaultProbe() {
    if (const char* env = std::getenv("KESTAVO_PLUGIN_PROBE"); env && *env) return env;
    const std::string folder = platform::ProgramFolder();
    if (folder.empty()) return {};
    // Beside the program in a build tree; under libexec once installed.
    for (const fs::path candidate : {fs::path(folder) / "kestavo-plugin-probe",
                                     fs::path(folder) / ".." / "libexec" / "kestavo" / "kestavo-plugin-probe"}) {
        std::error_code ec;
        if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal();
    }
    return {};
}

PluginVetting::PluginVetting(fs::path probe, std::chrono::milliseconds limit) : limit_(limit) {
    std::error_code ec;
    if (!probe.empty() && fs::is_regular_file(probe, ec)) probe_ = std::move(probe);
}

PluginVerdict PluginVetting::Check(const fs::path& plugin) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const auto time = fs::last_write_time(plugin, ec);
    const auto size = fs::file_size(plugin, ec);
    if (ec) return {.problem = "cannot be read: " + ec.message()};
    if (const auto it = known_.find(plugin); it != known_.end() && it->second.time == time && it->second.size == size)
        return it->second.verdict;

    ProbeOutcome outcome;
    if (probe_.empty()) {
        outcome = ProbePlugin(plugin);
    } else {
        const platform::ChildResult r = platform::RunChild({probe_.string(), plugin.string()}, limit_);
        if (!r.started)
            outcome = {2, "cannot be tried: " + probe_.string() + ": " + r.error};
        else if (r.timedOut)
            outcome = {4, "did not finish its trial within " + std::to_string(limit_.count() / 1000) + " s"};
        else if (r.signal != 0)
            outcome = {4, std::string("crashed in its trial (") + ::sigabbrev_np(r.signal) + ")"};
        else if (r.exitCode != 0 && r.exitCode != 2 && r.exitCode != 3)
            // The probe answers only 0, 2 or 3; anything else means it died on its way (a crash a
            // sanitizer or the plug-in itself turned into an exit).
            outcome = {4, "crashed in its trial (exit " + std::to_string(r.exitCode) + ")"};
        else
            outcome = {r.exitCode, r.out.substr(0, r.out.find('\n'))};
    }
    PluginVerdict verdict;
    verdict.ok = outcome.exitCode == 0;
    if (verdict.ok) {
        const auto tab = outcome.line.find('\t');
        verdict.description = outcome.line.substr(0, tab);
        verdict.version = tab == std::string::npos ? std::string() : outcome.line.substr(tab + 1);
    } else {
        verdict.problem =
            outcome.line.empty() ? "failed its trial (exit " + std::to_string(outcome.exitCode) + ")" : outcome.line;
    }
    known_[plugin] = Known{time, size, verdict};
    return verdict;
}

}  // namespace kestavo::services
