#pragma once
// TPrefix: the small modal question for a new channel's file prefix ("Ввод идентификатора
// канала"). It only shows the field and the button; whoever opens it reads Edit1 once it has
// closed, whichever way, and hands the text to the row RowIndex (see app::ChannelAssignment).
//
// Captions: Russian as designed; under English plain English captions (the language table has
// no texts for this window).
//
// Threads: GUI thread only.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <string>

namespace kestavo::ui {

class TPrefix final : public QDialog {
    Q_OBJECT
public:
    explicit TPrefix(const std::string& language, QWidget* parent = nullptr);

    int RowIndex = -1;  // the 0-based row that receives the prefix

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* BitBtn1;  // "ВВОД": closes the dialog
};

}  // namespace kestavo::ui
