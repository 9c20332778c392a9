#pragma once
// Shared set-up of the application tests: a program folder and a configuration folder in a fresh
// temporary folder, an in-memory sound system, a fake clock and a dispatcher drained by the test.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/messages.h"
#include "platform/pending_work.h"
#include "support/fake_sound.h"
#include "support/temp_dir.h"

namespace kestavo::app::testing {

inline config::ConfigFiles filesIn(const std::filesystem::path& root) {
    config::ConfigFiles f;
    f.programFolder = root / "home";
    f.file = root / "config" / "tevra4.ini";
    f.backup = f.programFolder / "tevra4.ini";
    f.autostartEntry = root / "autostart" / "Lodvimar.desktop";
    f.executable = "/usr/bin/kestavo";
    f.decimalSeparator = '.';
    std::filesystem::create_directories(f.programFolder);
    std::filesystem::create_directories(f.file.parent_path());
    return f;
}

// Writes an INI text (lines joined with CR LF).
inline void writeIni(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary);
    for (const auto& l : lines) out << l << "\r\n";
}

inline test::FakeDevice device(std::string name, bool mono, bool stereo) {
    test::FakeDevice d;
    d.info.productName = std::move(name);
    d.info.mono = mono;
    d.info.stereo = stereo;
    return d;
}

// A core over fake devices; the test drives the clock, the ticks and the dispatcher.
struct CoreRig {
    test::TempDir dir{"kestavo-app"};
    config::ConfigFiles files = filesIn(dir.path());
    test::FakeSoundInputSystem input;
    platform::FakeClock clock;  // 2026-12-05 16:05:09
    platform::MainDispatcher dispatcher;
    platform::CollectingMessageSink messages;
    platform::PendingWork pending;
    std::vector<Activity> activity;
    std::unique_ptr<AppCore> core;

    void start(std::vector<std::string> args = {}) {
        CoreServices s;
        s.input = &input;
        s.clock = &clock;
        s.dispatcher = &dispatcher;
        s.messages = &messages;
        s.pending = &pending;
        s.files = files;
        s.computerName = "testhost";
        s.capacity = [](const std::filesystem::path&) { return std::optional<double>(1e12); };
        s.freeBytes = [](const std::filesystem::path&) { return std::optional<double>(5e11); };
        s.captureRetryDelay = std::chrono::milliseconds(1);
        core = std::make_unique<AppCore>(std::move(s));
        core->SetActivityListener([this](const Activity& a) { activity.push_back(a); });
        core->Start(args);
    }
    // `n` timer ticks, the clock moving 50 ms before each, the channels' texts run after each.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            clock.advance(std::chrono::milliseconds(50));
            core->tick();
            dispatcher.drain();
        }
    }
    ~CoreRig() {
        if (core) core->Shutdown();
        dispatcher.close();
    }
};

}  // namespace kestavo::app::testing
