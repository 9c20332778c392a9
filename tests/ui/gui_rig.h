#pragma once
// The main window over a started core whose channels are file-backed lines, one mono WAV file
// each, in a fresh temporary folder. The test moves the core's fake clock and runs the ticks.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "config/language_table.h"
#include "config/password.h"
#include "platform/clock.h"
#include "platform/dispatcher.h"
#include "platform/file/file_lines.h"
#include "platform/messages.h"
#include "platform/pending_work.h"
#include "support/core_services.h"
#include "support/signal_gen.h"
#include "support/temp_dir.h"
#include "support/wav_io.h"
#include "ui/main_window.h"

namespace kestavo::ui::testing {

struct GuiRig {
    test::TempDir dir{"kestavo-ui"};
    config::ConfigFiles files = test::filesIn(dir.path());
    platform::PendingWork pending;
    std::unique_ptr<platform::FileLineSystem> lines;
    platform::FakeClock clock;  // 2026-12-05 16:05:09
    platform::MainDispatcher dispatcher;
    platform::CollectingMessageSink messages;
    config::PasswordStore password;
    std::unique_ptr<app::AppCore> core;
    std::unique_ptr<TForm1> form;

    // `lineCount` mono lines, the window in `language`.
    explicit GuiRig(int lineCount = 2, const std::string& language = "English") {
        (void)config::InstallLanguageTables(std::filesystem::path(KESTAVO_SOURCE_DIR) / "data", files.programFolder);
        test::writeIni(files.file, {"[MAIN]", "Language=" + language, "AUTO=0"});
        const auto lineFolder = dir.path() / "LINES";
        std::filesystem::create_directories(lineFolder);
        for (int i = 1; i <= lineCount; ++i) {  // 4 s of a 1 kHz tone, 6 dB quieter on each line
            std::vector<std::int16_t> s;
            for (double v : test::tone(1000.0, test::amplitudeOf(-6.0 * i), test::samplesOf(4000.0)))
                s.push_back(std::int16_t(std::lround(32767.0 * v)));
            test::writeWav16(lineFolder / ("line" + std::to_string(i) + ".wav"), 1, s);
        }
        lines =
            std::make_unique<platform::FileLineSystem>(lineFolder, platform::LinePace::RealTime, std::nullopt, pending);
        password.file = files.programFolder / "snd.ini";
        core = std::make_unique<app::AppCore>(test::coreServices(*lines, clock, dispatcher, messages, pending, files));
        core->Start();
        auto tick = [this] {
            clock.advance(std::chrono::milliseconds(50));
            core->tick();
            dispatcher.drain();
        };
        form = std::make_unique<TForm1>(
            *core,
            FormOptions{
                .tickWork = tick, .password = &password, .programFolder = files.programFolder, .startTimer = false});
    }
    ~GuiRig() {
        form.reset();
        if (core) core->Shutdown();
        dispatcher.close();
    }
    // `n` timer ticks of 50 ms.
    void ticks(int n) {
        for (int i = 0; i < n; ++i) form->Timer1Timer();
    }
    [[nodiscard]] QString cell(int row, int column) const {
        const auto* item = form->StringGrid1->item(row, column);
        return item ? item->text() : QString();
    }
    [[nodiscard]] QColor cellColour(int row, int column) const {
        return form->StringGrid1->item(row, column)->background().color();
    }
};

}  // namespace kestavo::ui::testing
