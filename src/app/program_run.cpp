#include "app/program_run.h"

#include <cstdlib>

#include "app/demo_line.h"
#include "app/device_setup.h"
#include "app/monitor_playback.h"
#include "config/ini_file.h"
#include "config/language_table.h"
#include "platform/locale.h"

namespace kestavo::app {

namespace fs = std::filesystem;

namespace {

// Language tables shipped beside the program (installed) or in the source tree (a build folder).
// The manual stays where it is shipped (app/help.h finds it).
void installLanguageTables(const fs::path& programFolder) {
    const fs::path exe = platform::executablePath().parent_path();
    std::vector<fs::path> sources;
    if (const char* share = std::getenv("KESTAVO_SHARE")) sources.emplace_back(share);
    sources.push_back(exe / ".." / "share" / "kestavo");
    sources.push_back(exe / ".." / ".." / "data");
    for (const auto& s : sources) {
        std::error_code ec;
        if (fs::exists(s / "English.txt", ec)) {
            (void)config::InstallLanguageTables(
                s, programFolder);  // a table that cannot be copied keeps the built-in texts
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

fs::path AutostartProgram() {
#ifdef KESTAVO_INSTALLED_PROGRAM
    std::error_code ec;
    if (const fs::path installed = KESTAVO_INSTALLED_PROGRAM; fs::exists(installed, ec)) return installed;
#endif
    return platform::executablePath();
}

DeviceNames ListDeviceNames() {
    const auto folders = platform::Folders::fromEnvironment();
    platform::PendingWork pending;
    auto sound = platform::makeSoundSystem(folders, pending);
    DeviceNames names;
    for (const auto& side : EnumerateInputSides(*sound.input)) names.inputs.push_back(side.name);
    for (const auto& out : EnumerateOutputs(sound.output.get())) names.outputs.push_back(out.name);
    return names;
}

std::unique_ptr<ProgramRun> ProgramRun::Prepare(const ProgramOptions& options, platform::MessageSink& messages,
                                                std::function<void()> wakeDispatcher, std::function<void()> wakeTimer,
                                                std::string& error) {
    std::unique_ptr<ProgramRun> run(new ProgramRun);
    run->options_ = options;
    run->folders_ = platform::Folders::fromEnvironment();
    std::error_code ec;
    fs::create_directories(run->folders_.program, ec);
    installLanguageTables(run->folders_.program);
    run->files_ = config::ConfigFiles::fromFolders(run->folders_, AutostartProgram(), platform::decimalSeparator());
    if (!options.desktopSession) run->files_.autostartEntry.clear();
    run->sound_ = platform::makeSoundSystem(run->folders_, run->pending_);
    for (const auto& p : run->sound_.problems) run->notes_.push_back("lines: " + p);

    // No sound input at all: the demo line stands in, replayed from its start whenever it ends.
    run->lines_ = run->sound_.lines;
    run->input_ = run->sound_.input.get();
    if (run->input_->inputDevices().empty()) {
        const fs::path demoFile = run->folders_.program / kDemoFolder / kDemoFile;
        if (!fs::exists(demoFile, ec)) ec = WriteDemoLine(demoFile);
        if (ec) {
            messages.show("No sound input, and the demo line could not be written: " + ec.message());
        } else {
            const auto settings = platform::LinesSettings::fromEnvironment(run->folders_.program);
            run->demo_ = std::make_unique<platform::FileLineSystem>(demoFile.parent_path(), settings.pace,
                                                                    settings.start, run->pending_);
            run->lines_ = run->demo_.get();
            run->input_ = run->demo_.get();
            writeDemoSettings(run->files_);
            run->notes_.push_back("No sound input found: recording the demo line " + demoFile.string());
        }
    }
    if (options.untilLinesEnd && (!run->lines_ || run->lines_->inputDevices().empty())) {
        error = "--until-lines-end needs file-backed lines";
        return nullptr;
    }

    run->dispatcher_ = std::make_unique<platform::MainDispatcher>(std::move(wakeDispatcher));
    if (run->lines_ && run->lines_->clock())
        run->pacer_ = std::make_unique<FastPace>(*run->lines_->clock(), run->pending_, std::move(wakeTimer));

    CoreServices services;
    services.input = run->input_;
    services.output = run->sound_.output.get();
    services.clock = run->pacer_ ? static_cast<platform::Clock*>(&run->pacer_->clock()) : &run->systemClock_;
    services.dispatcher = run->dispatcher_.get();
    services.messages = &messages;
    services.pending = &run->pending_;
    services.files = run->files_;
    services.computerName = platform::computerName();
    if (services.output)
        services.makeMonitor = makeMonitorFactory(
            *services.output, [&messages](const std::string& m) { messages.show(m); }, run->inversion_);
    if (run->pacer_)
        services.makeSink = [pacer = run->pacer_.get()](capture::Tchannel& c, const platform::Event& stop) {
            return pacer->wrap([&c](const std::byte* b, std::uint32_t n) { c.PutData(b, n); }, stop);
        };
#ifdef KESTAVO_INSTALLED_SERVER_LIBRARY
    // The server access library: the program folder's own, else the one installed with the program.
    if (const fs::path installed = KESTAVO_INSTALLED_SERVER_LIBRARY;
        !fs::exists(run->folders_.program / services::kLibraryFileName, ec) && fs::exists(installed, ec))
        services.serverLibrary = installed;
#endif
    run->core_ = std::make_unique<AppCore>(services);
    return run;
}

ProgramRun::~ProgramRun() { Shutdown(); }

void ProgramRun::Start() {
    core_->Start(options_.coreArguments);
    inversion_->hertz.store(core_->Settings().Inv_Point);
    nextTick_ = core_->Clock().tickMs() + 50;
}

ProgramRun::StepResult ProgramRun::Step() {
    StepResult result;
    if (shutDown_) return result;
    dispatcher_->drain();
    platform::Clock& clock = core_->Clock();
    if (pacer_) {
        result.again = pacer_->pump(*dispatcher_, [&] { core_->tick(); });
    } else {
        const std::uint32_t now = clock.tickMs();
        if (std::int32_t(now - nextTick_) > 1000) nextTick_ = now;  // far behind (suspended): no burst of ticks
        while (std::int32_t(clock.tickMs() - nextTick_) >= 0) {
            core_->tick();
            nextTick_ += 50;
        }
    }
    if (lines_ && lines_->allLinesEnded() && pending_.count() == 0) {
        if (options_.untilLinesEnd)
            result.quit = true;
        else if (demo_ && !pacer_)
            core_->Setup()->RestartCaptures();
    }
    return result;
}

void ProgramRun::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (pacer_) pacer_->close();
    dispatcher_->drain();  // texts of blocks already done
    core_->Shutdown();
    dispatcher_->close();
}

}  // namespace kestavo::app
