#pragma once
// Tdemods: the demodulator results window — every plug-in result as a row (time, identifier,
// extra text), filtered by channel, at most 100 rows. A view of the core's DemodResults: it
// redraws when the list changed and forwards the filter; the core takes the results only while
// the window is open.
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>
#include <cstdint>

#include "app/app_core.h"

namespace kestavo::ui {

class Tdemods final : public QDialog {
    Q_OBJECT
public:
    Tdemods(app::AppCore& core, const std::filesystem::path& programFolder, QWidget* parent = nullptr);

    // Redraws the rows when results arrived since the last call (the main window's timer).
    void Refresh();

    QGroupBox* GroupBox1 = nullptr;
    QTreeWidget* demodView = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fillChannels_();

    app::AppCore& core_;
    std::uint64_t shown_ = ~std::uint64_t(0);
};

}  // namespace kestavo::ui
