#pragma once
// TExpandform: the K1/K2 window over app::ExpandCurve.
//
// The window draws the channel's compressor curve with the point the row's level sits on (lb,
// redrawn from the model every 50 ms by Timer1) and sets K1 (TrackBar1, Label1) and K2
// (TrackBar2, Label2). A move reaches the channel and the row at once, and the window says so
// (coefficientsChanged) so that an open settings window shows the same values.
//
// Modeless, belonging to no other window, freed when closed; closing frees the model first,
// which ends "a K1/K2 window exists".
//
// Threads: GUI thread only.
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/expand_curve.h"
#include "ui/level_grid_window.h"

namespace kestavo::ui {

class TExpandform final : public QWidget {
    Q_OBJECT
public:
    explicit TExpandform(app::AppCore& core, QWidget* parent = nullptr);
    ~TExpandform() override;

    // Prepares for channel k and starts the timer; false for no channel.
    bool Prepare(int k);
    [[nodiscard]] app::ExpandCurve* Model() noexcept { return model_.get(); }
    void Timer1Timer();

    QGroupBox* GroupBox1;
    TPaintBox* lb;
    QSlider* TrackBar1;
    QLabel* Label1;
    QSlider* TrackBar2;
    QLabel* Label2;
    QTimer* Timer1;

signals:
    // K1 or K2 of channel k changed.
    void coefficientsChanged(int k);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void draw_();

    app::AppCore& core_;
    std::unique_ptr<app::ExpandCurve> model_;
    QImage bitmap_;
};

}  // namespace kestavo::ui
