#pragma once
// TKanalRow, TLevelBar: the widgets of one channel row in the main window's grid.
//
// A channel takes two grid rows: the upper one (2k-1) shows the channel number, the level bar, the
// level in dB, the recording time, the state cell, the last detected text and the monitoring box;
// the lower one (2k) holds the threshold slider, the threshold in dB, the automatic-recording box,
// the record button, the settings button and the threshold window button. TKanalRow creates the
// seven controls, puts each into its cell and forwards their clicks, tagged with the channel
// number, to the main window. Refresh() copies the row state the application core keeps
// (app::Tkanal) into the cells; the widgets hold no state of their own beyond what they show.
//
// TLevelBar paints a copy of the row's tbar: a black background, segments 1..Lit dark green below
// RedFrom and red from it, and the peak segment white. The arithmetic (lit count, red segment,
// peak hold and fall, segment rectangles) is the core's; this widget only paints it.
//
// Threads: GUI thread only.
#include <QCheckBox>
#include <QObject>
#include <QPushButton>
#include <QSlider>
#include <QTableWidget>
#include <QWidget>

#include "app/channel_row.h"

namespace kestavo::ui {

class TLevelBar final : public QWidget {
    Q_OBJECT
public:
    explicit TLevelBar(QWidget* parent = nullptr);

    // Takes the bar to paint; the geometry is recomputed for this widget's size.
    void Show(const app::tbar& bar);
    // The bar as last painted (its segments match this widget's size).
    [[nodiscard]] const app::tbar& Shown() const noexcept { return bar_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    app::tbar bar_;  // copy of the row's bar, placed into this widget's rectangle
};

// The captions of a row's controls (language texts 25 to 29 and the record button's own text).
struct RowCaptions {
    QString autoBox;    // text 25, "АВТО"
    QString settings;   // text 27, "Установки"
    QString monitor;    // text 28, "Контр."
    QString threshold;  // text 29, "Порог"
};

class TKanalRow final : public QObject {
    Q_OBJECT
public:
    static constexpr int kSliderMin = -6000;  // threshold slider: 0.01 dB per step, -60.00 .. 0.00 dB
    static constexpr int kSliderMax = 0;

    // Creates the controls of channel k (1-based) inside `grid` and places them into their cells.
    TKanalRow(QTableWidget& grid, int k);
    // Takes the controls out of the grid and deletes them.
    ~TKanalRow() override;
    TKanalRow(const TKanalRow&) = delete;
    TKanalRow& operator=(const TKanalRow&) = delete;

    [[nodiscard]] int Number() const noexcept { return k_; }
    [[nodiscard]] int UpperRow() const noexcept { return 2 * k_ - 1; }
    [[nodiscard]] int LowerRow() const noexcept { return 2 * k_; }

    void SetCaptions(const RowCaptions& captions);
    // Copies the row's state into the cells. `drawLevels`: the window is shown, so the bar and the
    // level number are redrawn (otherwise they keep what they show).
    void Refresh(const app::Tkanal& row, const std::string& stateText, const std::string& buttonText, bool drawLevels);
    // The threshold slider's position for `dB`, without raising the change.
    void ShowThreshold(double dB);

    TLevelBar* Bar;
    QSlider* ThresholdBar;
    QPushButton* RecordButton;
    QPushButton* SettingsButton;
    QPushButton* ThresholdButton;
    QCheckBox* AutoBox;
    QCheckBox* MonitorBox;

signals:
    void recordClicked(int k);
    void settingsClicked(int k);
    void thresholdWindowClicked(int k);
    void autoClicked(int k, bool on);
    void monitorClicked(int k, bool on);
    void thresholdMoved(int k, int position);

private:
    void setCell_(int row, int column, const QString& text);

    QTableWidget& grid_;
    int k_;
};

}  // namespace kestavo::ui
