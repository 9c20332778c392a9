#pragma once
// TPasswordDlg: the small modal password question. The comparison, the flags and the saving are
// config::PasswordDialog's; this window only shows the field and the two buttons and hands the
// typed text to it. In mode 0 (unlock) exec() returns 100 when the password was right, else 101.
//
// Its captions come from the language table (texts 91 to 93) when the window is created.
//
// Threads: GUI thread only.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <string>

#include "config/password.h"

namespace kestavo::ui {

class TPasswordDlg final : public QDialog {
    Q_OBJECT
public:
    // `programFolder` and `language` select the language table for the captions.
    TPasswordDlg(config::PasswordStore& store, const std::filesystem::path& programFolder, const std::string& language,
                 QWidget* parent = nullptr);

    [[nodiscard]] config::PasswordDialog& Logic() noexcept { return logic_; }

    QLabel* Label;
    QLineEdit* Password;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    void reject() override { cancel_(); }  // Esc and the window's close button act as Cancel

private:
    void ok_();
    void cancel_();

    config::PasswordDialog logic_;
};

}  // namespace kestavo::ui
