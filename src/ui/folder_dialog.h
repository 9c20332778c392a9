#pragma once
// TForm3: the folder picker of the channel settings window, a Qt folder chooser with the captions
// of the language in use: text 108 for the window, 109 and 110 for its two buttons.
//
// Threads: GUI thread only.
#include <QFileDialog>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>

namespace kestavo::ui {

class TForm3 final : public QFileDialog {
    Q_OBJECT
public:
    // Opens on `start` (the folder shown in the settings window) when it exists.
    TForm3(const QString& start, const std::filesystem::path& programFolder, const std::string& language,
           QWidget* parent = nullptr);

    // The chosen folder after OK.
    [[nodiscard]] QString Folder() const;
};

}  // namespace kestavo::ui
