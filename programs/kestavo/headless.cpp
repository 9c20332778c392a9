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
#include "platform/folders.h"
#include "platform/messages.h"
#include "platform/single_instance.h"

namespace kestavo::program {

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

const char* causeWord(capture::RecordCause cause) {
    switch (cause) {
        case capture::RecordCause::Operator: return "operator";
        case capture::RecordCause::Level: return "level";
        case capture::RecordCause::Voice: return "voice";
        case capture::RecordCause::Identifier: return "identifier";
        case capture::RecordCause::Schedule: return "schedule";
        case capture::RecordCause::MaxTime: return "maximum time";
        case capture::RecordCause::Shutdown: return "shutdown";
        case capture::RecordCause::DeviceLost: return "device lost";
        case capture::RecordCause::DeviceBack: return "device back";
    }
    return "";
}

const char* detectionWord(capture::DetectionKind kind) {
    switch (kind) {
        case capture::DetectionKind::CallerId: return "caller ID";
        case capture::DetectionKind::Dtmf: return "DTMF";
        case capture::DetectionKind::Pulse: return "pulse dialling";
        case capture::DetectionKind::Plugin: return "plug-in";
    }
    return "";
}

// One line per report: when, which channel, what happened and why, and the file concerned.
void printActivity(const app::Activity& a) {
    const capture::ChannelReport& r = a.report;
    std::string what, file = r.file;
    switch (r.kind) {
        case capture::ChannelReport::Kind::Started:
            what = std::string("recording (") + causeWord(r.cause) + ")";
            if (file.empty()) file = "(the file could not be created)";
            break;
        case capture::ChannelReport::Kind::Stopped:
            what = std::string("stopped (") + causeWord(r.cause) + ")";
            if (r.outcome == capture::RecordOutcome::TooShort) file = "(deleted: shorter than the minimum time)";
            if (r.outcome == capture::RecordOutcome::NoFile) file = "(no file was written)";
            break;
        case capture::ChannelReport::Kind::Detected:
            what = std::string("detected ") + detectionWord(r.detection) + " " + r.text;
            break;
    }
    std::printf("%s  channel %d  %s  %s\n", stamp(a.time).c_str(), r.channel, what.c_str(), file.c_str());
    std::fflush(stdout);
}

// A lost or returned sound device: one line on stderr naming the device and its channels.
void printDeviceEvent(const app::DeviceEvent& e) {
    std::string channels;
    for (const int c : e.channels) channels += (channels.empty() ? "" : ", ") + std::to_string(c);
    if (e.kind == app::DeviceEvent::Kind::Lost)
        std::fprintf(stderr, "error: device %s lost: %s; channels %s stopped\n", e.device.c_str(),
                     e.reason.message().c_str(), channels.c_str());
    else
        std::fprintf(stderr, "info: device %s back; channels %s capture again\n", e.device.c_str(), channels.c_str());
    std::fflush(stderr);
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
    long holder = 0;
    auto lock = platform::InstanceLock::acquire(folders.program, holder, ec);
    if (!lock) {
        std::fprintf(stderr, "kestavo: %s\n",
                     (ec ? "cannot lock the program folder " + folders.program.string() + ": " + ec.message()
                         : platform::AlreadyRunningMessage(folders.program, holder))
                         .c_str());
        return 1;
    }
    std::signal(SIGINT, onHeadlessSignal);
    std::signal(SIGTERM, onHeadlessSignal);
    // A closed output (a pipe into `head`, an ended ssh session) never stops the recording: writes
    // to it fail quietly instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);

    Waker waker;
    auto quitListener = platform::QuitListener::start(
        platform::QuitSocketPath(folders.runtime, folders.program),
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
    core.SetDeviceListener(printDeviceEvent);
    core.SetWindowMode(app::WindowMode::Minimised);  // nothing draws the bars
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
