#include "ui/gui_main.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/app_core.h"
#include "app/device_setup.h"
#include "app/program_run.h"
#include "config/password.h"
#include "config/settings.h"
#include "platform/folders.h"
#include "platform/messages.h"
#include "platform/single_instance.h"
#include "ui/main_window.h"

namespace kestavo::ui {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gQuit{false};  // SIGINT/SIGTERM

extern "C" void onGuiSignal(int) { gQuit.store(true); }

// The system's message boxes: modal, on the GUI thread.
class BoxMessageSink final : public platform::MessageSink {
public:
    void show(const std::string& text) override {
        QMessageBox::information(QApplication::activeWindow(), "Kestavo", QString::fromStdString(text));
    }
};

}  // namespace

int RunGui(int argc, char** argv, const GuiOptions& options) {
    QApplication app(argc, argv);
    app.setApplicationName("Kestavo");
    app.setQuitOnLastWindowClosed(false);  // the window may sit hidden in the tray; its close quits

    const auto folders = platform::Folders::fromEnvironment();
    std::error_code ec;
    fs::create_directories(folders.program, ec);
    long holder = 0;
    auto lock = platform::InstanceLock::acquire(folders.program, holder, ec);
    if (!lock) {
        QMessageBox::critical(
            nullptr, "Kestavo",
            QString::fromStdString(ec ? ec.message() : platform::AlreadyRunningMessage(folders.program, holder)));
        return 1;
    }
    std::signal(SIGINT, onGuiSignal);
    std::signal(SIGTERM, onGuiSignal);
    // A file size limit makes the write fail (and the sound wait) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);

    TForm1* form = nullptr;  // exists from the core's start until the loop ends
    auto quitListener = platform::QuitListener::start(
        platform::QuitSocketPath(folders.runtime, folders.program),
        [&form] {
            // The listener's thread: the close runs on the GUI thread.
            QMetaObject::invokeMethod(
                qApp,
                [&form] {
                    if (form) form->QuitFromOutside();
                },
                Qt::QueuedConnection);
        },
        ec);
    if (!quitListener)
        std::fprintf(stderr, "kestavo: --quit will not reach this instance (%s)\n", ec.message().c_str());

    BoxMessageSink messages;
    std::string error;
    app::ProgramRun* runPtr = nullptr;
    auto run = app::ProgramRun::Prepare(
        options, messages,
        // A worker posted a call: drain on the GUI thread.
        [&runPtr] {
            QMetaObject::invokeMethod(
                qApp,
                [&runPtr] {
                    if (runPtr) runPtr->Dispatcher().drain();
                },
                Qt::QueuedConnection);
        },
        // The fast pace has ticks waiting: run the timer's work now.
        [&form] {
            QMetaObject::invokeMethod(
                qApp,
                [&form] {
                    if (form) form->Timer1Timer();
                },
                Qt::QueuedConnection);
        },
        error);
    if (!run) {
        std::fprintf(stderr, "kestavo: %s\n", error.c_str());
        return 2;
    }
    runPtr = run.get();
    for (const auto& note : run->Notes()) std::fprintf(stderr, "%s\n", note.c_str());
    const config::ConfigFiles& files = run->Files();

    // The stored password; a missing file is reported and the program runs without one. The
    // report waits until the channels run: a message box must not hold up recording after an
    // unattended start.
    config::PasswordStore password;
    password.file = files.programFolder / "snd.ini";
    const auto stored = config::LoadPassword(password.file);
    if (stored) password.current = *stored;

    app::AppCore& core = run->Core();
    core.SetWindowMode(app::WindowMode::Shown);
    run->Start();

    bool quitAsked = false;
    FormOptions formOptions;
    formOptions.password = &password;
    formOptions.programFolder = files.programFolder;
    formOptions.inversion = &run->Inversion();
    formOptions.tickWork = [&] {
        const auto step = run->Step();
        // Work left within the fast pace's budget: go on at once rather than wait for the timer.
        if (step.again)
            QTimer::singleShot(0, form, [&form] {
                if (form) form->Timer1Timer();
            });
        if ((step.quit || gQuit.load()) && !quitAsked) {
            quitAsked = true;
            QMetaObject::invokeMethod(form, &TForm1::QuitFromOutside, Qt::QueuedConnection);
        }
    };
    formOptions.beforeShutdown = [&] { run->Shutdown(); };

    int code = 0;
    {
        TForm1 window(core, formOptions);
        form = &window;
        QObject::connect(&window, &TForm1::ShutDownDone, &app, &QApplication::quit, Qt::QueuedConnection);
        window.show();
        if (!core.Notices().empty()) {
            QString text;
            for (const auto& notice : core.Notices()) text += QString::fromStdString(notice) + "\n";
            auto* box = new QMessageBox(QMessageBox::Warning, "Kestavo", text.trimmed(), QMessageBox::Ok, &window);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();  // not modal to the program: the timer and the channels go on
        }
        if (!stored) {
            auto* box =
                new QMessageBox(QMessageBox::Warning, QString::fromUtf8(config::kPasswordFileErrorTitle.data()),
                                QString::fromUtf8(config::kPasswordFileErrorText.data()), QMessageBox::Ok, &window);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();  // not modal to the program: the timer and the channels go on
        }
        // The program starts minimised: into the tray where the desktop has one.
        QTimer::singleShot(0, &window, &TForm1::StartMinimised);
        code = app.exec();
        form = nullptr;
    }
    run->Shutdown();  // already done when the window closed; a loop ended otherwise still stops cleanly
    runPtr = nullptr;
    return code;
}

}  // namespace kestavo::ui
