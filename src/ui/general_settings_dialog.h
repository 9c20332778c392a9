#pragma once
// TForm4: the general settings window ("Общие установки"), over app::GeneralSettingsModel.
//
// The window shows the model's fields and forwards every control to it: the autostart, load-all
// and free-space switches act at once, "Параметры сервера" asks the server library and shows its
// answer, "Изменить пароль" asks the three password questions in TPasswordDlg. "ВВОД", the close
// box and Escape all close the window, and the close hands the other controls to the model once;
// its messages are shown before the window goes. A quit from outside (Abandon) closes it without
// applying anything.
//
// Top to bottom: the server (switch, name, port, look-up), the switches of the recorder, the
// free-space percentage, the computer name, the password button and "ВВОД". CheckBox2 (one
// computer) and CheckBox7 (identical cards) exist but are never shown.
//
// Threads: GUI thread only.
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <memory>

#include "app/app_core.h"
#include "app/general_settings.h"
#include "config/password.h"

namespace kestavo::ui {

class TForm4 final : public QDialog {
    Q_OBJECT
public:
    // `password`: the stored password the change button edits; null disables the button.
    TForm4(app::AppCore& core, config::PasswordStore* password, QWidget* parent = nullptr);
    ~TForm4() override;

    [[nodiscard]] app::GeneralSettingsModel& Model() noexcept { return model_; }

    // Shows one message; a message box unless replaced (tests collect the texts).
    std::function<void(const QString&)> showNote;

    // Components, named as the window was designed.
    QCheckBox* CheckBox1;  // use the server
    QLineEdit* Edit1;      // server name
    QLineEdit* Edit2;      // server port
    QPushButton* BitBtn2;  // look the server up
    QCheckBox* CheckBox2;  // hidden: one computer
    QCheckBox* CheckBox3;  // autostart
    QCheckBox* CheckBox4;  // load all channels
    QCheckBox* CheckBox5;  // watch the free space
    QLabel* Label7;
    QLineEdit* Edit7;      // free space, %
    QCheckBox* CheckBox8;  // one folder per day
    QCheckBox* CheckBox6;  // computer name in the channel number
    QCheckBox* CheckBox7;  // hidden: identical sound cards
    QLabel* Label2;
    QLineEdit* Edit3;      // computer name
    QPushButton* BitBtn3;  // change the password
    QPushButton* BitBtn1;  // "ВВОД"

public slots:
    void reject() override;  // Escape and the close box: the close
    // Closes without applying anything (the core has shut down).
    void Abandon();

private:
    void build_();
    void fill_();
    void applyLanguage_();
    void close_();
    void lookUp_();
    void changePassword_();
    void show_(const std::optional<app::GeneralSettingsNote>& note);

    app::AppCore& core_;
    config::PasswordStore* password_;
    app::GeneralSettingsModel model_;
    bool abandoned_ = false;  // closed by Abandon: the close applies nothing
};

}  // namespace kestavo::ui
