#pragma once
// Tnarez: the small modal window that asks how many minutes one file of a cut schedule lasts
// (the text starts as "30"). The channel settings window reads the field after OK and lets its
// model check it.
//
// Captions: texts 131 (the window), 132 and 133 (the two lines of the label).
//
// Threads: GUI thread only.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <string>

namespace kestavo::ui {

class Tnarez final : public QDialog {
    Q_OBJECT
public:
    Tnarez(const std::filesystem::path& programFolder, const std::string& language, QWidget* parent = nullptr);

    QLabel* StaticText1;  // "Длительность записи"
    QLabel* StaticText2;  // "одного файла, минут:"
    QLineEdit* Edit1;
    QPushButton* BitBtn1;  // OK
    QPushButton* BitBtn2;  // Cancel
};

}  // namespace kestavo::ui
