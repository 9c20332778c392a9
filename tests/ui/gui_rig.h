#pragma once
// GuiRig: the main window over a started core whose channels are file-backed lines, one mono WAV
// file each, in a fresh temporary folder. At real-time pace the test moves the core's fake clock
// and runs the ticks; at fast pace the sound moves only while the test pumps the pace, so nothing
// is processed before the windows have been used. Everything runs on the test's (main) thread.
#include <QApplication>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "app/fast_pace.h"
#include "config/language_table.h"
#include "config/password.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/file/file_lines.h"
#include "platform/messages.h"
#include "platform/pending_work.h"
#include "support/channel_fixture.h"
#include "support/core_services.h"
#include "support/signal_gen.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"
#include "ui/main_window.h"

namespace kestavo::ui::testing {

// 4 s of a 1 kHz tone on each of `count` lines, 6 dB quieter on each.
inline std::vector<test::Signal> quieterTones(int count) {
    std::vector<test::Signal> out;
    for (int i = 1; i <= count; ++i)
        out.push_back(test::tone(1000.0, test::amplitudeOf(-6.0 * i), test::samplesOf(4000.0)));
    return out;
}

struct GuiRigOptions {
    std::string language = "English";
    std::vector<test::Signal> lines = quieterTones(2);  // line1.wav, line2.wav, …
    std::vector<std::string> ini = {};                  // tevra4.ini lines after "[MAIN]", "Language=…", "AUTO=0"
    bool fastPace = false;                              // else real time over the fake clock
};

struct GuiRig {
    test::TempDir dir{"kestavo-ui"};
    config::ConfigFiles files = test::filesIn(dir.path());
    platform::PendingWork pending;
    std::unique_ptr<platform::FileLineSystem> lines;
    platform::FakeClock clock;  // 2026-12-05 16:05:09, at real-time pace
    std::unique_ptr<app::FastPace> pace;
    platform::MainDispatcher dispatcher;
    platform::CollectingMessageSink messages;
    config::PasswordStore password;
    std::unique_ptr<app::AppCore> core;
    std::unique_ptr<TForm1> form;
    std::vector<std::vector<std::int16_t>> pcm;  // what each line plays

    // `lineCount` lines of quieterTones(), the window in `language`.
    explicit GuiRig(int lineCount = 2, const std::string& language = "English")
        : GuiRig(GuiRigOptions{.language = language, .lines = quieterTones(lineCount)}) {}

    explicit GuiRig(const GuiRigOptions& o) {
        (void)config::InstallLanguageTables(std::filesystem::path(KESTAVO_SOURCE_DIR) / "data", files.programFolder);
        std::vector<std::string> ini{"[MAIN]", "Language=" + o.language, "AUTO=0"};
        ini.insert(ini.end(), o.ini.begin(), o.ini.end());
        test::writeIni(files.file, ini);
        const auto lineFolder = dir.path() / "LINES";
        std::filesystem::create_directories(lineFolder);
        for (std::size_t i = 0; i < o.lines.size(); ++i) {
            pcm.push_back(test::pcm16(o.lines[i]));
            test::writeWav16(lineFolder / ("line" + std::to_string(i + 1) + ".wav"), 1, pcm.back());
        }
        password.file = files.programFolder / "snd.ini";
        std::function<void()> tick;
        if (o.fastPace) {
            lines = std::make_unique<platform::FileLineSystem>(lineFolder, platform::LinePace::Fast,
                                                               platform::LocalTime{2026, 12, 5, 16, 5, 9, 0}, pending);
            pace = std::make_unique<app::FastPace>(*lines->clock(), pending, [] {});
            auto services = test::coreServices(*lines, pace->clock(), dispatcher, messages, pending, files);
            services.makeSink = [this](capture::Tchannel& c, const platform::Event& stop) {
                return pace->wrap([&c](const std::byte* b, std::uint32_t n) { c.PutData(b, n); }, stop);
            };
            core = std::make_unique<app::AppCore>(std::move(services));
            tick = [this] { (void)pace->pump(dispatcher, [this] { core->tick(); }); };
        } else {
            lines = std::make_unique<platform::FileLineSystem>(lineFolder, platform::LinePace::RealTime, std::nullopt,
                                                               pending);
            core =
                std::make_unique<app::AppCore>(test::coreServices(*lines, clock, dispatcher, messages, pending, files));
            tick = [this] {
                clock.advance(std::chrono::milliseconds(50));
                core->tick();
                dispatcher.drain();
            };
        }
        core->Start();
        form = std::make_unique<TForm1>(
            *core,
            FormOptions{
                .tickWork = tick, .password = &password, .programFolder = files.programFolder, .startTimer = false});
    }
    ~GuiRig() {
        form.reset();
        if (pace) pace->close();  // a capture thread waiting for the timer goes on
        if (core) core->Shutdown();
        dispatcher.close();
    }
    // `n` timer ticks of 50 ms.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) form->Timer1Timer();
    }
    // About `ms` of real time with the window's timer running.
    void run(int ms) {
        for (int t = 0; t < ms; t += 50) {
            QTest::qWait(50);
            form->Timer1Timer();
        }
    }
    // At fast pace: until the lines have delivered everything and every block is done (a hang
    // fails by timeout).
    void playToTheEnd() {
        while (!(lines->allLinesEnded() && pending.count() == 0))
            if (!pace->pump(dispatcher, [this] { core->tick(); }))
                (void)lines->allLinesEndedEvent().wait(std::chrono::milliseconds(1));
        dispatcher.drain();
    }
    [[nodiscard]] QString cell(int row, int column) const {
        const auto* item = form->StringGrid1->item(row, column);
        return item ? item->text() : QString();
    }
    [[nodiscard]] QColor cellColour(int row, int column) const {
        return form->StringGrid1->item(row, column)->background().color();
    }
};

// Runs `answer` on the next modal window once the event loop shows it.
inline void onNextModal(std::function<void(QWidget&)> answer) {
    QTimer::singleShot(0, [answer] {
        if (QWidget* dialog = QApplication::activeModalWidget()) answer(*dialog);
    });
}

// The folder KESTAVO_UI_SCREENSHOTS names, empty when pictures are not wanted.
inline QString screenshotFolder() { return QString::fromUtf8(qgetenv("KESTAVO_UI_SCREENSHOTS")); }

// Shows `w` and saves its picture as <folder>/<name>.png; false when that fails.
inline bool saveShot(QWidget& w, const QString& folder, const QString& name) {
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return false;
    QTest::qWait(100);
    return w.grab().save(folder + "/" + name + ".png");
}

}  // namespace kestavo::ui::testing
