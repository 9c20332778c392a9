// The headless front end: the same core the window drives, run by a plain loop.
//
//   wait at most 50 ms (or until a worker posts) → run the posted calls → the timer's due ticks
//
// In real time the ticks follow the system's tick count. With fast-paced lines the program's clock
// follows the sound, and FastPace runs the ticks on that time line in step with the blocks.
#include "headless.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>

#include "app/WSK.h"
#include "app/core.h"
#include "app/demo_line.h"
#include "app/fast_pace.h"
#include "app/instance.h"
#include "config/Langs.h"
#include "config/global.h"
#include "platform/dispatcher.h"
#include "platform/folders.h"
#include "platform/locale.h"
#include "platform/messages.h"
#include "platform/sound_system.h"

namespace kestavo::program {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gQuit{false};  // set by SIGINT/SIGTERM and by `kestavo --quit`

extern "C" void onSignal(int) { gQuit.store(true); }

// Wakes the loop early when a worker has posted something.
class Waker {
public:
    void wake() {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        changed_.notify_one();
    }
    void waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return woken_; });
        woken_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
};

class PrintingMessageSink final : public platform::MessageSink {
public:
    void show(const std::string& text) override {
        std::printf("message: %s\n", text.c_str());
        std::fflush(stdout);
    }
};

std::string stamp(const platform::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

// The file a finished recording ended as: the same name, or the name with the recording's last
// detected text added in parentheses; empty when the channel deleted it as too short.
std::string finalFile(const std::string& opened) {
    if (opened.empty()) return {};
    std::error_code ec;
    const fs::path p(opened);
    if (fs::exists(p, ec)) return opened;
    const std::string stem = p.stem().string() + "(";
    for (const auto& e : fs::directory_iterator(p.parent_path(), ec)) {
        const auto name = e.path().filename().string();
        if (name.rfind(stem, 0) == 0 && e.path().extension() == p.extension()) return e.path().string();
    }
    return {};
}

void printActivity(const app::Activity& a) {
    std::string what, file = a.file;
    switch (a.kind) {
        case app::Activity::Kind::Started: what = trimmed(a.text); break;
        case app::Activity::Kind::Stopped:
        case app::Activity::Kind::Closed:
            what = trimmed(a.text) + (a.kind == app::Activity::Kind::Closed ? " (shutdown)" : "");
            file = finalFile(a.file);
            if (file.empty()) file = "(deleted: shorter than the minimum time) " + a.file;
            break;
        case app::Activity::Kind::Detected: what = "detected " + a.text; break;
    }
    std::printf("%s  channel %d  %s  %s\n", stamp(a.time).c_str(), a.channel, what.c_str(), file.c_str());
    std::fflush(stdout);
}

// Language tables shipped beside the program (installed) or in the source tree (a build folder).
void installLanguageTables(const fs::path& programFolder) {
    const fs::path exe = platform::executablePath().parent_path();
    std::vector<fs::path> sources;
    if (const char* share = std::getenv("KESTAVO_SHARE")) sources.emplace_back(share);
    sources.push_back(exe / ".." / "share" / "kestavo");
    sources.push_back(exe / ".." / ".." / "data");
    for (const auto& s : sources) {
        std::error_code ec;
        if (fs::exists(s / "English.txt", ec)) {
            (void)config::InstallLanguageTables(s, programFolder);  // a table that cannot be copied keeps the built-in texts
            return;
        }
    }
}

// A fresh installation recording the demo line: both sides on automatic recording by level.
void writeDemoSettings(const config::ConfigFiles& files) {
    std::error_code ec;
    if (fs::exists(files.file, ec)) return;  // the operator's own settings stay
    config::IniFile ini(files.file, files.decimalSeparator);
    for (int n = 1; n <= 2; ++n) {
        const std::string section = "Channels" + std::to_string(n), k = std::to_string(n);
        (void)ini.writeBool(section, "auto" + k, true);
        (void)ini.writeReal(section, "POROG" + k, -35.0);
        (void)ini.writeReal(section, "zad_stop" + k, 4.0);
        (void)ini.writeInteger(section, "Min_Time" + k, 5);
    }
    (void)ini.flush();
}

}  // namespace

int ListDevices() {
    const auto folders = platform::Folders::fromEnvironment();
    platform::PendingWork pending;
    auto sound = platform::makeSoundSystem(folders, pending);
    for (const auto& side : app::EnumerateInputSides(*sound.input)) std::printf("%s\n", side.name.c_str());
    for (const auto& out : app::EnumerateOutputs(sound.output.get())) std::printf("%s\n", out.name.c_str());
    return 0;
}

int RunHeadless(const HeadlessOptions& options) {
    const auto folders = platform::Folders::fromEnvironment();
    std::error_code ec;
    fs::create_directories(folders.program, ec);
    auto lock = app::InstanceLock::acquire(folders.runtime, ec);
    if (!lock) {
        std::fprintf(stderr, "%s\n", ec ? ec.message().c_str() : app::kAlreadyRunningText);
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Waker waker;
    auto quitListener = app::QuitListener::start(folders.runtime, [&] { gQuit.store(true); waker.wake(); }, ec);
    if (!quitListener) std::fprintf(stderr, "kestavo: --quit will not reach this instance (%s)\n", ec.message().c_str());

    installLanguageTables(folders.program);
    const auto files = config::ConfigFiles::fromFolders(folders, platform::executablePath(), platform::decimalSeparator());
    platform::PendingWork pending;
    auto sound = platform::makeSoundSystem(folders, pending);
    for (const auto& p : sound.problems) std::printf("lines: %s\n", p.c_str());

    // No sound input at all: the demo line stands in, replayed from its start whenever it ends.
    std::unique_ptr<platform::FileLineSystem> demo;
    platform::FileLineSystem* lines = sound.lines;
    platform::SoundInputSystem* input = sound.input.get();
    if (input->inputDevices().empty()) {
        const fs::path demoFile = folders.program / app::kDemoFolder / app::kDemoFile;
        if (!fs::exists(demoFile, ec)) ec = app::WriteDemoLine(demoFile);
        if (ec) {
            std::printf("No sound input, and the demo line could not be written: %s\n", ec.message().c_str());
        } else {
            const auto settings = platform::LinesSettings::fromEnvironment(folders.program);
            demo = std::make_unique<platform::FileLineSystem>(demoFile.parent_path(), settings.pace, settings.start, pending);
            lines = demo.get();
            input = demo.get();
            writeDemoSettings(files);
            std::printf("No sound input found: recording the demo line %s\n", demoFile.c_str());
        }
    }
    if (options.untilLinesEnd && (!lines || lines->inputDevices().empty())) {
        std::fprintf(stderr, "kestavo: --until-lines-end needs file-backed lines\n");
        return 2;
    }

    platform::MainDispatcher dispatcher([&] { waker.wake(); });
    platform::SystemClock systemClock;
    std::unique_ptr<app::FastPace> pacer;
    if (lines && lines->clock()) pacer = std::make_unique<app::FastPace>(*lines->clock(), pending, [&] { waker.wake(); });
    PrintingMessageSink messages;

    app::CoreServices services;
    services.input = input;
    services.output = sound.output.get();
    services.clock = pacer ? static_cast<platform::Clock*>(&pacer->clock()) : &systemClock;
    services.dispatcher = &dispatcher;
    services.messages = &messages;
    services.pending = &pending;
    services.files = files;
    services.computerName = platform::computerName();
    if (pacer)
        services.makeSink = [&](capture::Tchannel& c, const platform::Event& stop) {
            return pacer->wrap([&c](const std::byte* b, std::uint32_t n) { c.PutData(b, n); }, stop);
        };
    app::AppCore core(services);
    core.SetActivityListener(printActivity);
    core.SetWindowMode(app::AppCore::kWindowMinimised);  // nothing draws the bars
    core.Start(options.coreArguments);

    std::printf("Kestavo headless: %zu channel(s)%s\n", core.Rows().size(), pacer ? ", fast-paced lines" : "");
    for (const auto& row : core.Rows()) std::printf("  channel %d: %s\n", row->Number(), row->Name().c_str());
    std::fflush(stdout);

    platform::Clock& clock = core.Clock();
    std::uint32_t nextTick = clock.tickMs() + 50;
    int lastStatusMinute = clock.now().minute;
    bool again = false;
    while (!gQuit.load()) {
        if (!again) waker.waitFor(std::chrono::milliseconds(50));
        dispatcher.drain();
        if (pacer) {
            again = pacer->pump(dispatcher, [&] { core.tick(); });
        } else {
            const std::uint32_t now = clock.tickMs();
            if (std::int32_t(now - nextTick) > 1000) nextTick = now;  // far behind (suspended): no burst of ticks
            while (std::int32_t(clock.tickMs() - nextTick) >= 0) {
                core.tick();
                nextTick += 50;
            }
        }
        const auto t = clock.now();
        if (t.minute != lastStatusMinute) {
            lastStatusMinute = t.minute;
            int recording = 0;
            for (const auto& row : core.Rows()) recording += row->Recording();
            std::printf("%s  status: %zu channel(s), %d recording, %s\n", stamp(t).c_str(), core.Rows().size(), recording,
                        core.TrayTip().c_str());
            std::fflush(stdout);
        }
        if (lines && lines->allLinesEnded() && pending.count() == 0) {
            if (options.untilLinesEnd) break;
            if (demo && !pacer) {
                core.Setup()->RestartCaptures();
                std::printf("%s  demo line: from its start again\n", stamp(t).c_str());
            }
        }
    }
    std::printf("%s  shutting down\n", stamp(clock.now()).c_str());
    if (pacer) pacer->close();
    dispatcher.drain();  // texts of blocks already done
    core.Shutdown();
    dispatcher.close();
    std::printf("%s  stopped\n", stamp(clock.now()).c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace kestavo::program
