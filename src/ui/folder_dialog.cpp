#include "ui/folder_dialog.h"

#include <QDir>

#include "app/channel_dialog.h"
#include "ui/dialog_parts.h"

namespace kestavo::ui {

TForm3::TForm3(const QString& start, const std::filesystem::path& programFolder, const std::string& language,
               QWidget* parent)
    : QFileDialog(parent) {
    setObjectName("Form3");
    static constexpr int kTexts[] = {108, 109, 110};
    const auto t = app::ReadLanguageTexts(programFolder, language, kTexts);
    // Qt's own chooser, so the captions apply on every desktop.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setOption(QFileDialog::ShowDirsOnly, true);
    setFileMode(QFileDialog::Directory);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(textOr(t, 108, "Выберите папку"));
    setLabelText(QFileDialog::Accept, textOr(t, 109, "OK"));
    setLabelText(QFileDialog::Reject, textOr(t, 110, "Отмена"));
    setDirectory(QDir(start).exists() ? start : QDir::currentPath());
}

QString TForm3::Folder() const {
    const QStringList chosen = selectedFiles();
    return chosen.isEmpty() ? directory().absolutePath() : chosen.front();
}

}  // namespace kestavo::ui
