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

#include <unistd.h>

#include "app/app_core.h"
#include "app/batch_progress.h"
#include "app/device_setup.h"
#include "app/event_log.h"
#include "app/program_run.h"
#include "platform/folders.h"
#include "platform/messages.h"
#include "platform/single_instance.h"

namespace kestavo::program {

namespace {

std::atomic<bool> gQuit{false};  // set by SIGINT/SIGTERM and by `kestavo --quit`

extern "C" void onHeadlessSignal(int) { gQuit.store(true); }

// Where the activity and status lines go: standard output, unless the JSON events take it.
std::FILE* gOut = stdout;

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

// A message the window would show: a warning on stderr, and a fault in the event log.
class PrintingMessageSink final : public platform::MessageSink {
public:
    std::function<void(const std::string&)> fault;
    void show(const std::string& text) override {
        app::Log(app::LogLevel::Warning, text);
        if (fault) fault(text);
    }
};

std::string stamp(const platform::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
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

// Faults of a recording's file go to stderr, where a service's errors are looked for: the file
// cannot be written (the sound waits in memory), it is written again, or sound was lost.
void printWriteFault(const app::Activity& a) {
    const capture::ChannelReport& r = a.report;
    const std::string when = stamp(a.time);
    char lost[64] = "";
    if (r.lostSeconds > 0) std::snprintf(lost, sizeof lost, "%.1f s of sound lost", r.lostSeconds);
    if (r.kind == capture::ChannelReport::Kind::Fault && r.fileRemade)
        std::fprintf(stderr, "%s  channel %d  warning: %s was removed with its folder; made again with all its sound\n",
                     when.c_str(), r.channel, r.file.c_str());
    else if (r.kind == capture::ChannelReport::Kind::Fault && r.error != 0)
        std::fprintf(stderr, "%s  channel %d  error: cannot write %s: %s; the sound waits in memory\n", when.c_str(),
                     r.channel, r.file.c_str(), r.text.c_str());
    else if (r.kind == capture::ChannelReport::Kind::Fault)
        std::fprintf(stderr, "%s  channel %d  writing %s again%s%s\n", when.c_str(), r.channel, r.file.c_str(),
                     *lost ? "; " : "", lost);
    else if (r.outcome == capture::RecordOutcome::NoFile && r.lostSeconds > 0)
        std::fprintf(stderr, "%s  channel %d  error: the recording could not be written: %s\n", when.c_str(), r.channel,
                     lost);
    else if (*lost)
        std::fprintf(stderr, "%s  channel %d  error: %s in %s\n", when.c_str(), r.channel, lost, r.file.c_str());
    std::fflush(stderr);
}

// One line per report: when, which channel, what happened and why, and the file concerned.
void printActivity(const app::Activity& a) {
    const capture::ChannelReport& r = a.report;
    std::string what, file = r.file;
    switch (r.kind) {
        case capture::ChannelReport::Kind::Started:
            what = std::string("recording (") + app::CauseName(r.cause) + ")";
            if (file.empty()) file = "(the file could not be created)";
            break;
        case capture::ChannelReport::Kind::Stopped:
            what = std::string("stopped (") + app::CauseName(r.cause) + ")";
            if (r.outcome == capture::RecordOutcome::TooShort) file = "(deleted: shorter than the minimum time)";
            if (r.outcome == capture::RecordOutcome::NoFile) file = "(no file was written)";
            break;
        case capture::ChannelReport::Kind::Detected:
            what = std::string("detected ") + detectionWord(r.detection) + " " + r.text;
            break;
        case capture::ChannelReport::Kind::Fault: printWriteFault(a); return;
        case capture::ChannelReport::Kind::PluginRefused: return;  // shown as a message by the core
    }
    std::fprintf(gOut, "%s  channel %d  %s  %s\n", stamp(a.time).c_str(), r.channel, what.c_str(), file.c_str());
    std::fflush(gOut);
    if (r.kind == capture::ChannelReport::Kind::Stopped) printWriteFault(a);
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
    const auto devices = app::ListDeviceNames();
    for (const auto& name : devices.inputs) std::printf("%s\n", name.c_str());
    for (const auto& name : devices.outputs) std::printf("%s\n", name.c_str());
    if (devices.inputs.empty())
        std::printf(
            "No sound input found (no ALSA capture device, no file-backed line).\n"
            "To record WAV files as lines, put them (11025 Hz, 16-bit, mono or stereo) into a folder and\n"
            "name it with KESTAVO_LINES=/path/to/folder (else LINES in the program folder); each file is\n"
            "one input device. Without any input the recorder records its demo line.\n");
    return 0;
}

int RunHeadless(const HeadlessOptions& options) {
    const auto folders = platform::Folders::fromEnvironment();
    std::error_code ec;
    std::filesystem::create_directories(folders.program, ec);
    long holder = 0;
    auto lock = platform::InstanceLock::acquire(folders.program, holder, ec);
    if (!lock) {
        app::Log(app::LogLevel::Error,
                 ec ? "cannot lock the program folder " + folders.program.string() + ": " + ec.message()
                    : platform::AlreadyRunningMessage(folders.program, holder));
        return 1;
    }
    std::unique_ptr<app::EventLog> events;
    if (options.events == "-") gOut = stderr;
    if (!options.events.empty()) {
        std::string error;
        events = app::EventLog::Open(options.events, error);
        if (!events) {
            app::Log(app::LogLevel::Error, error);
            return 2;
        }
    }
    std::signal(SIGINT, onHeadlessSignal);
    std::signal(SIGTERM, onHeadlessSignal);
    // A closed output (a pipe into `head`, an ended ssh session) never stops the recording: writes
    // to it fail quietly instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    // A file size limit makes the write fail (and the sound wait) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);

    Waker waker;
    auto quitListener = platform::QuitListener::start(
        platform::QuitSocketPath(folders.runtime, folders.program),
        [&] {
            gQuit.store(true);
            waker.wake();
        },
        ec);
    if (!quitListener) app::Log(app::LogLevel::Warning, "--quit will not reach this instance (" + ec.message() + ")");

    PrintingMessageSink messages;
    platform::Clock* eventClock = nullptr;  // the core's clock, once it exists
    messages.fault = [&](const std::string& text) {
        if (events) events->Fault(eventClock ? eventClock->now() : platform::SystemClock().now(), text);
    };
    std::string error;
    auto run = app::ProgramRun::Prepare(
        options, messages, [&] { waker.wake(); }, [&] { waker.wake(); }, error);
    if (!run) {
        app::Log(app::LogLevel::Error, error);
        return 2;
    }
    for (const auto& note : run->Notes()) app::Log(app::LogLevel::Info, note);
    app::AppCore& core = run->Core();
    core.SetPluginResultListener([](const app::PluginResult& r) {
        std::fprintf(gOut, "%s  channel %d  plug-in result %s  %s  (action %d)\n", stamp(r.time).c_str(),
                     r.record.channel, std::string(services::identifierText(r.record)).c_str(),
                     std::string(services::extraText(r.record)).c_str(), r.record.action);
        std::fflush(gOut);
    });
    eventClock = &core.Clock();
    // A batch run on a terminal shows its progress and ends with a summary.
    std::unique_ptr<app::BatchProgress> progress;
    if (options.untilLinesEnd && ::isatty(2))
        progress = std::make_unique<app::BatchProgress>(app::BatchProgress::LongestLineSeconds(run->LinesFolder()));
    bool progressShown = false;  // a progress line stands on the terminal
    core.SetActivityListener([&](const app::Activity& a) {
        if (progressShown) std::fputs("\r\033[K", stderr);  // the activity line takes its place
        printActivity(a);
        if (events) events->Record(a);
        if (progress) progress->Count(a);
    });
    core.SetDeviceListener(printDeviceEvent);
    core.SetWindowMode(app::WindowMode::Minimised);  // nothing draws the bars
    run->Start();
    // Settings that could not be used and a configuration kept aside: told once, on stderr.
    for (const auto& notice : core.Notices()) app::Log(app::LogLevel::Warning, notice);
    std::fflush(stderr);

    std::fprintf(gOut, "Kestavo headless: %zu channel(s)%s\n", core.Rows().size(),
                 run->FastPaced() ? ", fast-paced lines" : "");
    for (const auto& row : core.Rows()) std::fprintf(gOut, "  channel %d: %s\n", row->Number(), row->Name().c_str());
    std::fflush(gOut);

    platform::Clock& clock = core.Clock();
    int lastStatusMinute = clock.now().minute;
    const auto soundStart = platform::toLocalMs(clock.now());
    const auto wallStart = std::chrono::steady_clock::now();
    auto lastProgress = wallStart;
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
            std::fprintf(gOut, "%s  status: %zu channel(s), %d recording\n", stamp(t).c_str(), core.Rows().size(),
                         recording);
            std::fflush(gOut);
        }
        // The progress line: once the first second of sound is done, then four times a second.
        const double sound = double(platform::toLocalMs(t) - soundStart) / 1000.0;
        if (progress && sound >= 1.0 &&
            (!progressShown || std::chrono::steady_clock::now() - lastProgress >= std::chrono::milliseconds(250))) {
            progressShown = true;
            lastProgress = std::chrono::steady_clock::now();
            const double wall = std::chrono::duration<double>(lastProgress - wallStart).count();
            std::fprintf(stderr, "\r%s\033[K", progress->Line(sound, wall).c_str());
        }
    }
    if (progress) std::fprintf(stderr, "\r\033[K%s\n", progress->Summary().c_str());
    std::fprintf(gOut, "%s  shutting down\n", stamp(clock.now()).c_str());
    // Blocks a channel could not take because its queue was full: sound lost without a file error.
    for (const auto& row : core.Rows())
        if (const auto* channel = row->Channel())
            std::fprintf(gOut, "summary: channel %d  blocks dropped %llu\n", row->Number(),
                         static_cast<unsigned long long>(channel->Overflows()));
    run->Shutdown();
    std::fprintf(gOut, "%s  stopped\n", stamp(clock.now()).c_str());
    std::fflush(gOut);
    return 0;
}

}  // namespace kestavo::program
