#pragma once
// Tlevel_grid: the threshold window over app::LevelGrid.
//
// The window shows one channel's level graph (LB, redrawn from the model every 300 ms by Timer1),
// the threshold slider (porog_rul) with its value (Label2), and the channel's sound card mixer:
// the line list (ComboBox1), the line's switch (CheckBox1) and its volume (Trackbar, vertical,
// minus the volume). Where the card offers no line, NoMixer says so in place of those controls.
// Every control goes to the model; the window copies the model's state back when it changed.
//
// The window is modeless, belongs to no other window (so a modal settings window does not block
// it and it outlives that window) and frees itself when closed; closing frees the model first,
// which ends "a threshold window exists".
//
// Threads: GUI thread only.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/level_grid.h"

namespace kestavo::ui {

// The paint box: shows the window's bitmap.
class TPaintBox final : public QWidget {
    Q_OBJECT
public:
    TPaintBox(int width, int height, QWidget* parent = nullptr);
    void Show(const QImage& image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class Tlevel_grid final : public QWidget {
    Q_OBJECT
public:
    explicit Tlevel_grid(app::AppCore& core, QWidget* parent = nullptr);
    ~Tlevel_grid() override;

    // Prepares for channel k in `mode` over `mixer` and starts the timer; false for no channel.
    bool Prepare(int k, app::LevelGridMode mode, std::unique_ptr<platform::SoundMixer> mixer);
    // The model while the window is open (null once closed).
    [[nodiscard]] app::LevelGrid* Model() noexcept { return model_.get(); }
    // One timer tick: the mixer's changes, then the graph.
    void Timer1Timer();

    QGroupBox* GroupBox1;
    TPaintBox* LB;
    QLabel* Label4;  // top of the graph
    QLabel* Label3;  // bottom of the graph
    QSlider* Trackbar;
    QLabel* Label5;
    QComboBox* ComboBox1;
    QCheckBox* CheckBox1;
    QLabel* NoMixer;
    QLabel* Label1;
    QLabel* Label2;
    QSlider* porog_rul;
    QTimer* Timer1;

signals:
    // Level mode: the slider moved channel k's threshold to `dB` (the row's slider and cell follow).
    void thresholdChanged(int k, double dB);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void draw_();
    void showMixer_();

    app::AppCore& core_;
    std::unique_ptr<app::LevelGrid> model_;
    QImage bitmap_;
    int shownRevision_ = -1;  // the model's mixer revision last copied
};

}  // namespace kestavo::ui
