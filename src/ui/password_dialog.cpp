#include "ui/password_dialog.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "config/language_table.h"

namespace kestavo::ui {

TPasswordDlg::TPasswordDlg(config::PasswordStore& store, const std::filesystem::path& programFolder,
                           const std::string& language, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), logic_(store) {
    setObjectName("PasswordDlg");
    setWindowTitle(QString::fromUtf8("Запрос пароля"));
    Label = new QLabel(QString::fromUtf8("Введите пароль:"));
    Label->setObjectName("Label1");
    Password = new QLineEdit;
    Password->setObjectName("Password");
    Password->setEchoMode(QLineEdit::Password);
    OKBtn = new QPushButton("OK");
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QString::fromUtf8("Отмена"));
    CancelBtn->setObjectName("CancelBtn");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label);
    layout->addWidget(Password);
    layout->addLayout(buttons);

    config::Tlang table(programFolder, language);
    if (auto t = table.GetText(91); !t.empty()) setWindowTitle(QString::fromStdString(t));
    if (auto t = table.GetText(92); !t.empty()) Label->setText(QString::fromStdString(t));
    if (auto t = table.GetText(93); !t.empty()) CancelBtn->setText(QString::fromStdString(t));

    connect(OKBtn, &QPushButton::clicked, this, &TPasswordDlg::ok_);
    connect(CancelBtn, &QPushButton::clicked, this, &TPasswordDlg::cancel_);
}

void TPasswordDlg::ok_() {
    logic_.Ok(Password->text().toStdString());
    Password->clear();
    done(logic_.ModalResult());
}

void TPasswordDlg::cancel_() {
    logic_.Cancel();
    Password->clear();
    done(logic_.ModalResult());
}

}  // namespace kestavo::ui
