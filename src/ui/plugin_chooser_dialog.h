#pragma once
// TPLUGINFORM: the modal list of the plug-ins found in PLUGINS beside the program, one line each
// with name, description and version. The channel settings window's "Добавить" attaches the line
// selected when OK is pressed.
//
// Captions: texts 103 (the window), 104 to 106 (the columns) and 107 (the group).
//
// Threads: GUI thread only.
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <string>
#include <vector>

namespace kestavo::ui {

class TPLUGINFORM final : public QDialog {
    Q_OBJECT
public:
    // `plugins`: one row per plug-in, (file name, description, version).
    TPLUGINFORM(const std::vector<std::vector<std::string>>& plugins, const std::filesystem::path& programFolder,
                const std::string& language, QWidget* parent = nullptr);

    // The file name of the selected line; empty when none is selected.
    [[nodiscard]] std::string Selected() const;

    QGroupBox* GroupBox1;
    QTreeWidget* PlugView;
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel
};

}  // namespace kestavo::ui
