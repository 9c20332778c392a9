#pragma once
// TCTL: the modal editor of one channel's identifier list, CONTROL/<k>.ctl beside the program,
// one entry per line. Prepare(k) loads the file; closing the window by OK, Cancel, Escape or its
// close box saves the text back to the same file. The caller then makes the channel read the list
// again.
//
// Caption: "Включение записи по ID для канала k" in Russian, "Start recording while ID detected k"
// in English.
//
// Threads: GUI thread only.
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>
#include <string>
#include <system_error>

namespace kestavo::ui {

class TCTL final : public QDialog {
    Q_OBJECT
public:
    explicit TCTL(QWidget* parent = nullptr);

    // Channel k's list in `file`; the caption in `language`.
    void Prepare(int k, const std::filesystem::path& file, const std::string& language);
    // The error of the last save, if any.
    [[nodiscard]] std::error_code SaveError() const noexcept { return saveError_; }

    QPlainTextEdit* m1;
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel

    void done(int result) override;

private:
    std::filesystem::path file_;
    std::error_code saveError_;
};

}  // namespace kestavo::ui
