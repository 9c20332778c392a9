#pragma once
// Tperiod: the small modal window that asks for a recording period, two times of day typed as
// HH:MM (the first hour digit may be left blank). The channel settings window reads both fields
// after OK and lets its model check them.
//
// Captions: texts 128 (the window), 129 and 130 (the two labels) of the language in use.
//
// Threads: GUI thread only.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <string>

namespace kestavo::ui {

class Tperiod final : public QDialog {
    Q_OBJECT
public:
    Tperiod(const std::filesystem::path& programFolder, const std::string& language, QWidget* parent = nullptr);

    QLabel* StaticText1;  // "Включить запись:"
    QLineEdit* start;
    QLabel* StaticText2;  // "Выключить запись:"
    QLineEdit* stop;
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel
};

}  // namespace kestavo::ui
