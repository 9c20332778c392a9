#include "ui/gui_main.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/WSK.h"
#include "app/core.h"
#include "app/demo_line.h"
#include "app/fast_pace.h"
#include "app/instance.h"
#include "config/Langs.h"
#include "config/global.h"
#include "config/password.h"
#include "platform/dispatcher.h"
#include "platform/folders.h"
#include "platform/locale.h"
#include "platform/messages.h"
#include "platform/sound_system.h"
#include "ui/Unit1.h"

namespace kestavo::ui {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gQuit{false};  // SIGINT/SIGTERM

extern "C" void onSignal(int) { gQuit.store(true); }

// The system's message boxes: modal, on the GUI thread.
class BoxMessageSink final : public platform::MessageSink {
public:
    void show(const std::string& text) override {
        QMessageBox::information(QApplication::activeWindow(), "Kestavo", QString::fromStdString(text));
    }
};

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

int RunGui(int argc, char** argv, const GuiOptions& options) {
    QApplication app(argc, argv);
    app.setApplicationName("Kestavo");
    app.setQuitOnLastWindowClosed(false);  // the window may sit hidden in the tray; its close quits

    const auto folders = platform::Folders::fromEnvironment();
    std::error_code ec;
    fs::create_directories(folders.program, ec);
    auto lock = app::InstanceLock::acquire(folders.runtime, ec);
    if (!lock) {
        QMessageBox::critical(nullptr, "Kestavo", ec ? QString::fromStdString(ec.message()) : QString(app::kAlreadyRunningText));
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    TForm1* form = nullptr;  // exists from the core's start until the loop ends
    auto quitListener = app::QuitListener::start(
        folders.runtime,
        [&form] {
            // The listener's thread: the close runs on the GUI thread.
            QMetaObject::invokeMethod(qApp, [&form] { if (form) form->QuitFromOutside(); }, Qt::QueuedConnection);
        },
        ec);
    if (!quitListener) std::fprintf(stderr, "kestavo: --quit will not reach this instance (%s)\n", ec.message().c_str());

    installLanguageTables(folders.program);
    const auto files = config::ConfigFiles::fromFolders(folders, platform::executablePath(), platform::decimalSeparator());
    platform::PendingWork pending;
    auto sound = platform::makeSoundSystem(folders, pending);
    for (const auto& p : sound.problems) std::fprintf(stderr, "lines: %s\n", p.c_str());

    BoxMessageSink messages;
    // No sound input at all: the demo line stands in, replayed from its start whenever it ends.
    std::unique_ptr<platform::FileLineSystem> demo;
    platform::FileLineSystem* lines = sound.lines;
    platform::SoundInputSystem* input = sound.input.get();
    if (input->inputDevices().empty()) {
        const fs::path demoFile = folders.program / app::kDemoFolder / app::kDemoFile;
        if (!fs::exists(demoFile, ec)) ec = app::WriteDemoLine(demoFile);
        if (ec) {
            messages.show("No sound input, and the demo line could not be written: " + ec.message());
        } else {
            const auto settings = platform::LinesSettings::fromEnvironment(folders.program);
            demo = std::make_unique<platform::FileLineSystem>(demoFile.parent_path(), settings.pace, settings.start, pending);
            lines = demo.get();
            input = demo.get();
            writeDemoSettings(files);
        }
    }
    if (options.untilLinesEnd && (!lines || lines->inputDevices().empty())) {
        std::fprintf(stderr, "kestavo: --until-lines-end needs file-backed lines\n");
        return 2;
    }

    // The stored password; a missing file is reported and the program runs without one.
    config::PasswordStore password;
    password.file = files.programFolder / "snd.ini";
    if (auto stored = config::LoadPassword(password.file)) {
        password.current = *stored;
    } else {
        QMessageBox::warning(nullptr, QString::fromUtf8(config::kPasswordFileErrorTitle.data()),
                             QString::fromUtf8(config::kPasswordFileErrorText.data()));
    }

    platform::MainDispatcher* dispatcherPtr = nullptr;
    platform::MainDispatcher dispatcher([&dispatcherPtr] {
        QMetaObject::invokeMethod(qApp, [&dispatcherPtr] { if (dispatcherPtr) dispatcherPtr->drain(); }, Qt::QueuedConnection);
    });
    dispatcherPtr = &dispatcher;
    platform::SystemClock systemClock;
    std::unique_ptr<app::FastPace> pacer;
    if (lines && lines->clock())
        pacer = std::make_unique<app::FastPace>(*lines->clock(), pending, [&form] {
            QMetaObject::invokeMethod(qApp, [&form] { if (form) form->Timer1Timer(); }, Qt::QueuedConnection);
        });

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
    core.SetWindowMode(app::AppCore::kWindowShown);
    core.Start(options.coreArguments);

    platform::Clock& clock = core.Clock();
    std::uint32_t nextTick = clock.tickMs() + 50;
    bool quitAsked = false;
    FormOptions formOptions;
    formOptions.password = &password;
    formOptions.programFolder = files.programFolder;
    formOptions.tickWork = [&] {
        dispatcher.drain();
        if (pacer) {
            // Work left within the pump's budget: go on at once rather than wait for the timer.
            if (pacer->pump(dispatcher, [&] { core.tick(); }))
                QTimer::singleShot(0, form, [&form] { if (form) form->Timer1Timer(); });
        } else {
            const std::uint32_t now = clock.tickMs();
            if (std::int32_t(now - nextTick) > 1000) nextTick = now;  // far behind (suspended): no burst of ticks
            while (std::int32_t(clock.tickMs() - nextTick) >= 0) {
                core.tick();
                nextTick += 50;
            }
        }
        bool quit = gQuit.load();
        if (lines && lines->allLinesEnded() && pending.count() == 0) {
            if (options.untilLinesEnd) quit = true;
            else if (demo && !pacer) core.Setup()->RestartCaptures();
        }
        if (quit && !quitAsked) {
            quitAsked = true;
            QMetaObject::invokeMethod(form, &TForm1::QuitFromOutside, Qt::QueuedConnection);
        }
    };
    formOptions.beforeShutdown = [&] {
        if (pacer) pacer->close();
        dispatcher.drain();  // texts of blocks already done
    };

    int code = 0;
    {
        TForm1 window(core, formOptions);
        form = &window;
        QObject::connect(&window, &TForm1::ShutDownDone, &app, &QApplication::quit, Qt::QueuedConnection);
        window.show();
        // The program starts minimised: into the tray where the desktop has one.
        QTimer::singleShot(0, &window, &TForm1::StartMinimised);
        code = app.exec();
        form = nullptr;
    }
    core.Shutdown();  // already done when the window closed; a loop ended otherwise still stops cleanly
    dispatcher.close();
    return code;
}

}  // namespace kestavo::ui
