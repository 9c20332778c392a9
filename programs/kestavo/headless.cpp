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

#include "app/app_core.h"
#include "app/device_setup.h"
#include "app/program_run.h"
#include "app/single_instance.h"
#include "platform/folders.h"
#include "platform/messages.h"

namespace kestavo::program {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gQuit{false};  // set by SIGINT/SIGTERM and by `kestavo --quit`

extern "C" void onHeadlessSignal(int) { gQuit.store(true); }

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

}  // namespace

int ListDevices() {
    for (const auto& name : app::ListDeviceNames()) std::printf("%s\n", name.c_str());
    return 0;
}

int RunHeadless(const HeadlessOptions& options) {
    const auto folders = platform::Folders::fromEnvironment();
    std::error_code ec;
    std::filesystem::create_directories(folders.program, ec);
    auto lock = app::InstanceLock::acquire(folders.runtime, ec);
    if (!lock) {
        std::fprintf(stderr, "%s\n", ec ? ec.message().c_str() : app::kAlreadyRunningText);
        return 1;
    }
    std::signal(SIGINT, onHeadlessSignal);
    std::signal(SIGTERM, onHeadlessSignal);

    Waker waker;
    auto quitListener = app::QuitListener::start(
        folders.runtime,
        [&] {
            gQuit.store(true);
            waker.wake();
        },
        ec);
    if (!quitListener)
        std::fprintf(stderr, "kestavo: --quit will not reach this instance (%s)\n", ec.message().c_str());

    PrintingMessageSink messages;
    std::string error;
    auto run = app::ProgramRun::Prepare(
        options, messages, [&] { waker.wake(); }, [&] { waker.wake(); }, error);
    if (!run) {
        std::fprintf(stderr, "kestavo: %s\n", error.c_str());
        return 2;
    }
    for (const auto& note : run->Notes()) std::printf("%s\n", note.c_str());
    app::AppCore& core = run->Core();
    core.SetActivityListener(printActivity);
    core.SetWindowMode(app::AppCore::kWindowMinimised);  // nothing draws the bars
    run->Start();

    std::printf("Kestavo headless: %zu channel(s)%s\n", core.Rows().size(),
                run->FastPaced() ? ", fast-paced lines" : "");
    for (const auto& row : core.Rows()) std::printf("  channel %d: %s\n", row->Number(), row->Name().c_str());
    std::fflush(stdout);

    platform::Clock& clock = core.Clock();
    int lastStatusMinute = clock.now().minute;
    bool again = false;
    while (!gQuit.load()) {
        if (!again) waker.waitFor(std::chrono::milliseconds(50));
        const auto step = run->Step();
        again = step.again;
        if (step.quit) break;
        const auto t = clock.now();
        if (t.minute != lastStatusMinute) {
            lastStatusMinute = t.minute;
            int recording = 0;
            for (const auto& row : core.Rows()) recording += row->Recording();
            std::printf("%s  status: %zu channel(s), %d recording, %s\n", stamp(t).c_str(), core.Rows().size(),
                        recording, core.TrayTip().c_str());
            std::fflush(stdout);
        }
    }
    std::printf("%s  shutting down\n", stamp(clock.now()).c_str());
    run->Shutdown();
    std::printf("%s  stopped\n", stamp(clock.now()).c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace kestavo::program
