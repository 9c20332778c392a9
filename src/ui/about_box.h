#pragma once
// TAbt: the about box — the program's name and version, three lines about it, and OK. The menu
// item "О программе" creates it, shows it modally and frees it. Its texts come from
// app::AboutBoxTexts in the window's language.
//
// Threads: GUI thread only.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <string>

namespace kestavo::ui {

class TAbt final : public QDialog {
    Q_OBJECT
public:
    explicit TAbt(const std::string& language, QWidget* parent = nullptr);

    QLabel* Label2;                // "Kestavo v.<version>", at the top
    std::array<QLabel*, 3> Lines;  // the three lines about the program
    QPushButton* BitBtn1;          // OK
};

}  // namespace kestavo::ui
