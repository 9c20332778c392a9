#pragma once
// Shared set-up of the tests that start an application core (tests/app and tests/ui): a program
// folder and a configuration folder under a temporary root, INI texts, and the core's services
// over a disk that never fills. Header only: the including test links the application library.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_core.h"

namespace kestavo::test {

inline config::ConfigFiles filesIn(const std::filesystem::path& root) {
    const config::ConfigFiles f{.file = root / "config" / "tevra4.ini",
                                .backup = root / "home" / "tevra4.ini",
                                .programFolder = root / "home",
                                .autostartEntry = root / "autostart" / "Lodvimar.desktop",
                                .executable = "/usr/bin/kestavo"};
    std::filesystem::create_directories(f.programFolder);
    std::filesystem::create_directories(f.file.parent_path());
    return f;
}

// Writes an INI text (lines joined with CR LF).
inline void writeIni(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines) out << l << "\r\n";
}

// The services of a core on "testhost" with a 1 TB disk of which 500 GB are free.
inline app::CoreServices coreServices(platform::SoundInputSystem& input, platform::Clock& clock,
                                      platform::MainDispatcher& dispatcher, platform::MessageSink& messages,
                                      platform::PendingWork& pending, const config::ConfigFiles& files) {
    app::CoreServices s;
    s.input = &input, s.clock = &clock, s.dispatcher = &dispatcher, s.messages = &messages, s.pending = &pending;
    s.files = files, s.computerName = "testhost";
    s.capacity = [](const std::filesystem::path&) { return std::optional<double>(1e12); };
    s.freeBytes = [](const std::filesystem::path&) { return std::optional<double>(5e11); };
    // No local server waited for; its lock and the server library (none unless a test puts one
    // there) stay inside the test's folder.
    s.localServerWait = std::chrono::milliseconds(0);
    s.serverLock = files.programFolder.parent_path() / "MONSERV.lock";
    s.uploadFirstPause = std::chrono::milliseconds(10);
    return s;
}

}  // namespace kestavo::test
