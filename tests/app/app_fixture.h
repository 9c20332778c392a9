#pragma once
// Shared set-up of the application tests: a core over an in-memory sound system in a fresh
// temporary folder, with a fake clock and a dispatcher the test drains.
#include "support/core_services.h"  // the core with the clock, dispatcher, messages and pending work it is built on
#include "support/fake_sound.h"
#include "support/temp_dir.h"

namespace kestavo::app::testing {

using test::writeIni;

inline test::FakeDevice device(std::string name, bool mono, bool stereo) { return {{std::move(name), mono, stereo}}; }

// A core over fake devices; the test drives the clock, the ticks and the dispatcher.
struct CoreRig {
    test::TempDir dir{"kestavo-app"};
    config::ConfigFiles files = test::filesIn(dir.path());
    test::FakeSoundInputSystem input;  // counts the buffers delivered in `requeued`
    platform::FakeClock clock;         // 2026-12-05 16:05:09
    platform::MainDispatcher dispatcher;
    platform::CollectingMessageSink messages;
    platform::PendingWork pending;
    std::vector<Activity> activity;
    MonitorFactory makeMonitor;                    // null: no monitoring playback
    platform::SoundInputSystem* lines = nullptr;   // set: these lines instead of the fake devices
    platform::Clock* lineClock = nullptr;          // set: this clock instead of the fake one
    decltype(CoreServices::makeSink) makeSink;     // null: blocks go straight to the channels
    std::function<void(CoreServices&)> configure;  // last changes to the services before the core is made
    std::unique_ptr<AppCore> core;

    void start(std::vector<std::string> args = {}) {
        CoreServices s = test::coreServices(lines ? *lines : input, lineClock ? *lineClock : clock, dispatcher,
                                            messages, pending, files);
        s.captureRetryDelay = std::chrono::milliseconds(1);
        s.makeMonitor = makeMonitor;
        s.makeSink = makeSink;
        if (configure) configure(s);
        core = std::make_unique<AppCore>(std::move(s));
        core->SetActivityListener([this](const Activity& a) { activity.push_back(a); });
        core->Start(args);
    }
    // `n` timer ticks, the clock moving 50 ms before each; returns the number of channel texts run after them.
    std::size_t ticks(int n) {
        std::size_t ran = 0;
        for (int i = 0; i < n; ++i) {
            clock.advance(std::chrono::milliseconds(50));
            core->tick();
            ran += dispatcher.drain();
        }
        return ran;
    }
    ~CoreRig() {
        if (core) core->Shutdown();
        dispatcher.close();
    }
};

}  // namespace kestavo::app::testing
