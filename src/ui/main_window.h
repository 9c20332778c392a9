#pragma once
// TForm1: the main window over the application core.
//
// Top to bottom: the menu (MainMenu1), the channel grid (StringGrid1: a header row, then two rows
// per channel with the row controls of TKanalRow in their cells), the monitoring panel (Panel1:
// channel assignment button, monitoring output, spectrum inversion switch and pivot) and the
// status bar (StatusBar1, five panels: disk total, free share, channels, server, CPU).
//
// The window holds no logic of its own. Its 50 ms timer (Timer1) runs the core's timer work and
// then copies what the core keeps — row states, levels and bars, status panels, tray state — into
// the widgets; bars and level numbers are redrawn only while the window is shown. Operator
// actions go straight to the core (record button, automatic switch, threshold slider, monitoring,
// language, monitoring output and inversion pivot); a row's settings button opens the channel's
// settings window (TForm2), its threshold button the threshold window (Tlevel_grid), "Channel
// assignment" the assignment window (TZvuk); the menu opens the general settings (TForm4), Help
// the manual of the window's language and About the about box (TAbt). The window's height, as the
// operator leaves it, goes to the core for the shutdown's save.
//
// Sizes: the pixel sizes the layout was designed with are scaled by the height of the font in use,
// and every column, row and panel is made at least as large as its captions need, so English and
// Russian texts fit whatever the font.
//
// Tray: only where the desktop has one. Minimising then hides the window into the tray; a double
// click brings it back — at once during the first second after start, afterwards only after the
// stored password (if any) is entered. Without a tray the window minimises normally.
//
// Closing asks texts 32/33 (OK/Cancel) unless the quit came from outside, then runs the core's
// shutdown.
//
// Threads: GUI thread only.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "capture/monitor_output.h"
#include "config/password.h"
#include "ui/channel_row_widget.h"

namespace kestavo::ui {

class TForm2;
class TForm4;

struct FormOptions {
    // The timer's work before the widgets are refreshed; null runs core.tick(). The program's
    // entry passes the dispatcher drain and the fast-pace pump here.
    std::function<void()> tickWork;
    // Runs when the window closes, just before the core's shutdown (the entry closes the pacer).
    std::function<void()> beforeShutdown;
    // The stored password; null: no lock.
    config::PasswordStore* password = nullptr;
    // The language tables' folder, for the password dialog's captions.
    std::filesystem::path programFolder;
    // Off in tests: they call Timer1Timer() themselves.
    bool startTimer = true;
    // The monitoring playback's spectrum inversion ("Инверсия спектра", inv_bar); null: none.
    capture::SpectrumInversion* inversion = nullptr;
};

class TForm1 final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kTimerMs = 50;
    static constexpr std::uint32_t kDebounceMs = 500;  // monitoring box and output list

    // `core` has been started; the window shows its rows and applies its language.
    TForm1(app::AppCore& core, FormOptions options, QWidget* parent = nullptr);
    ~TForm1() override;

    // One timer tick: the core's work, then the widgets.
    void Timer1Timer();
    // Copies the core's state into the widgets (rows rebuilt when the core's rows changed).
    void Refresh();
    // The program starts minimised: into the tray when there is one.
    void StartMinimised();
    // The tray icon's double click.
    void TrayDoubleClick();
    // Brings the window back from the tray or the task bar.
    void RestoreWindow();

    [[nodiscard]] app::WindowMode CurrentWindowMode() const noexcept { return windowMode_; }
    [[nodiscard]] bool HideToTray() const noexcept {
        return TrayIcon != nullptr && QSystemTrayIcon::isSystemTrayAvailable();
    }
    [[nodiscard]] const std::vector<std::unique_ptr<TKanalRow>>& Rows() const noexcept { return rows_; }
    [[nodiscard]] TKanalRow* Row(int k) const noexcept;
    [[nodiscard]] int MonitorDevice() const noexcept { return core_.Settings().Device; }
    // Called with the settings window of a row once it is loaded, before it is shown (tests).
    std::function<void(TForm2&)> settingsDialogShown;
    // Called with the general settings window before it is shown (tests).
    std::function<void(TForm4&)> generalSettingsShown;

    // Components, named as the window was designed.
    QTableWidget* StringGrid1;
    QFrame* Panel1;
    QPushButton* BitBtn1;
    QLabel* Label1;
    QComboBox* ComboBox1;
    QCheckBox* CheckBox1;
    QLabel* Label2;
    QSlider* inv_bar;
    QLineEdit* Edit1;
    QStatusBar* StatusBar1;
    std::array<QLabel*, 5> StatusPanels{};
    QMenuBar* MainMenu1;
    QMenu* N1;     // Файл
    QAction* N2;   // Выход
    QAction* N3;   // Общие установки
    QMenu* N8;     // Плагины
    QAction* N9;   // Показать все
    QAction* N10;  // Окно демодуляторов
    QMenu* N11;    // Язык
    QAction* English1;
    QAction* N12;  // Русский
    QMenu* N4;     // Помощь
    QAction* N5;   // Помощь программы записи
    QAction* N7;   // О программе
    QTimer* Timer1;
    QSystemTrayIcon* TrayIcon = nullptr;  // null where the desktop has no tray
    std::array<QIcon, 2> ImageList1;      // tray images: 0 waiting, 1 recording

public slots:
    // The quit request from outside: closes without the confirmation.
    void QuitFromOutside();

signals:
    // The window has closed and the core is shut down.
    void ShutDownDone();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenu_();
    void buildPanel_();
    void buildStatusBar_();
    void buildTray_();
    void syncRows_();
    void applyLanguage_();
    void applyRowCaptions_();
    void fitSizes_();
    void refreshTray_();
    void shutdown_();
    void setWindowMode_(app::WindowMode mode);
    QString text_(int n) const;

    void recordClicked_(int k);
    void autoClicked_(int k, bool on);
    void monitorClicked_(int k, bool on);
    void thresholdMoved_(int k, int position);
    void settingsClicked_(int k);
    // The threshold window for channel k (the pulse threshold when `pulse`): the open one is
    // prepared again, or, when `anew`, closed and a new one made. The K1/K2 window likewise,
    // never anew.
    void thresholdWindow_(int k, bool pulse, bool anew);
    void coefficientsWindow_(int k);
    void outputChosen_(int index);
    void languageChosen_(const std::string& language);
    bool debounced_(std::optional<std::uint32_t>& last);

    app::AppCore& core_;
    FormOptions options_;
    QPointer<class Tdemods> demods_;                // the results window while it is open
    std::vector<std::unique_ptr<TKanalRow>> rows_;  // index = channel number - 1
    std::vector<int> rowIds_;                       // the core rows they show
    app::WindowMode windowMode_ = app::WindowMode::Shown;
    bool closeWithoutAsking_ = false;
    bool shutDown_ = false;
    std::optional<std::uint32_t> lastMonitorClick_;  // tick of the last accepted monitoring click
    std::optional<std::uint32_t> lastOutputChange_;  // tick of the last accepted output change
    std::array<std::string, 5> shownPanels_;         // the core's panels as last copied
    std::optional<bool> shownTrayRecording_;
    std::string shownTrayTip_;
};

}  // namespace kestavo::ui
