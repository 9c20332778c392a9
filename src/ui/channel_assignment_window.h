#pragma once
// TZvuk: the channel assignment window ("Назначение каналов"). Free input sides on the left
// (ListView1), working channels on the right (ListView2: number, channel, prefix). A double click
// on a line of the left list or the upper arrow (SpeedButton1) gives the selected side a channel
// and asks its prefix in TPrefix; a double click on a line of the right list or the lower arrow
// (SpeedButton2) removes the selected channel. A double click on an empty part of a list does
// nothing. "ВЫХОД" (BitBtn1) also clears the load-all flag; every close saves the configuration
// with the channel count. The lists and every action are app::ChannelAssignment's; the window
// shows them and says when the channels changed, so the main window shows the new rows at once.
//
// Captions from the language table: 38 the title, 34 and 35 the left columns, 40, 36 and 39 the
// right columns, 37 the button.
//
// Threads: GUI thread only.
#include <QDialog>
#include <QPushButton>
#include <QTableWidget>
#include <filesystem>

#include "app/channel_assignment.h"

namespace kestavo::ui {

class TZvuk final : public QDialog {
    Q_OBJECT
public:
    // `core` outlives the window; `programFolder` holds the language tables.
    TZvuk(app::AppCore& core, const std::filesystem::path& programFolder, QWidget* parent = nullptr);
    ~TZvuk() override;

    [[nodiscard]] app::ChannelAssignment& Model() noexcept { return model_; }

    QTableWidget* ListView1;  // free sides
    QTableWidget* ListView2;  // working channels
    QPushButton* SpeedButton1;
    QPushButton* SpeedButton2;
    QPushButton* BitBtn1;  // "ВЫХОД"

signals:
    // A channel was added or removed (or its prefix set): the rows have changed.
    void channelsChanged();

public slots:
    void done(int result) override;

private:
    void fill_();
    void add_();
    void remove_();

    app::AppCore& core_;
    app::ChannelAssignment model_;
};

}  // namespace kestavo::ui
