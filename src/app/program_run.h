#pragma once
// ProgramRun: what both front ends build around the application core, and the timer's schedule.
// Before the core: the program folder, the language tables copied in, the configuration files,
// the sound devices, and — when there is no sound input at all — the demo line with settings that
// record it. Around the core: the main dispatcher, the clock (the system's, or the sound's own in
// fast pace) and the 50 ms ticks run on that clock. The window and the headless loop only call
// Step() from their timer or loop and show what the core holds.
//
// Threads: everything on the main thread; the two wake functions may be called from any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/fast_pace.h"
#include "capture/monitor_output.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/file/file_lines.h"
#include "platform/folders.h"
#include "platform/messages.h"
#include "platform/pending_work.h"
#include "platform/sound_system.h"

namespace kestavo::app {

struct ProgramOptions {
    std::vector<std::string> coreArguments;  // the first may be "-i13", "-start" or "-netstart"
    bool untilLinesEnd = false;              // shut down once every file-backed line has ended
    // The window front end keeps the desktop autostart entry the settings ask for; the headless
    // recorder never writes or removes one.
    bool desktopSession = false;
};

// The program an autostart entry starts: the installed window front end when it exists (a build
// folder's copy never goes into a desktop session), else the running program.
[[nodiscard]] std::filesystem::path AutostartProgram();

class ProgramRun {
public:
    // `wakeDispatcher`: a worker posted a call (schedule a Step soon). `wakeTimer`: the fast pace
    // has ticks waiting. Both may be called from any thread. Null with an error text when the
    // program cannot run as asked.
    static std::unique_ptr<ProgramRun> Prepare(const ProgramOptions& options, platform::MessageSink& messages,
                                               std::function<void()> wakeDispatcher, std::function<void()> wakeTimer,
                                               std::string& error);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Starts the core (the start-up order) with the options' switches.
    void Start();

    struct StepResult {
        bool again = false;  // more work is due at once (fast pace): step again without waiting
        bool quit = false;   // every line has ended and the options ask to close
    };
    // One turn of the timer: runs the posted calls and the ticks that are due; restarts the demo
    // line when it has ended.
    StepResult Step();
    // Closes the fast pace, runs the texts of blocks already done, shuts the core down and closes
    // the dispatcher. Idempotent.
    void Shutdown();

    [[nodiscard]] AppCore& Core() noexcept { return *core_; }
    [[nodiscard]] platform::MainDispatcher& Dispatcher() noexcept { return *dispatcher_; }
    [[nodiscard]] const platform::Folders& Folders() const noexcept { return folders_; }
    [[nodiscard]] const config::ConfigFiles& Files() const noexcept { return files_; }
    [[nodiscard]] bool FastPaced() const noexcept { return pacer_ != nullptr; }
    [[nodiscard]] bool DemoLine() const noexcept { return demo_ != nullptr; }
    // The folder the file-backed lines come from (empty when there are none).
    [[nodiscard]] std::filesystem::path LinesFolder() const {
        return lines_ ? lines_->folder() : std::filesystem::path();
    }
    // The monitoring playback's spectrum inversion, shared with the window's controls.
    [[nodiscard]] capture::SpectrumInversion& Inversion() noexcept { return *inversion_; }
    // What the set-up found worth telling the operator (unusable line files, the demo line).
    [[nodiscard]] const std::vector<std::string>& Notes() const noexcept { return notes_; }

private:
    ProgramRun() = default;

    ProgramOptions options_;
    platform::Folders folders_;
    config::ConfigFiles files_;
    platform::PendingWork pending_;
    platform::SoundSystem sound_;
    std::unique_ptr<platform::FileLineSystem> demo_;
    platform::FileLineSystem* lines_ = nullptr;
    platform::SoundInputSystem* input_ = nullptr;
    std::unique_ptr<platform::MainDispatcher> dispatcher_;
    platform::SystemClock systemClock_;
    std::unique_ptr<FastPace> pacer_;
    std::shared_ptr<capture::SpectrumInversion> inversion_ = std::make_shared<capture::SpectrumInversion>();
    std::unique_ptr<AppCore> core_;
    std::vector<std::string> notes_;
    std::uint32_t nextTick_ = 0;  // tick count of the next 50 ms tick (real time)
    bool shutDown_ = false;
};

// Every input side name (as DEVICE keys take them), and the output devices.
struct DeviceNames {
    std::vector<std::string> inputs, outputs;
};
[[nodiscard]] DeviceNames ListDeviceNames();

}  // namespace kestavo::app
