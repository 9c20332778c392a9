#include "ui/control_list_dialog.h"

#include <QVBoxLayout>

#include "app/channel_dialog.h"
#include "ui/dialog_parts.h"

namespace kestavo::ui {

TCTL::TCTL(QWidget* parent) : QDialog(parent) {
    setObjectName("CTL");
    setWindowTitle("CTL");
    m1 = new QPlainTextEdit;
    m1->setObjectName("m1");
    m1->setLineWrapMode(QPlainTextEdit::NoWrap);
    m1->setTabChangesFocus(true);
    const QFontMetrics fm(m1->font());
    m1->setMinimumSize(fm.averageCharWidth() * 30, fm.lineSpacing() * 22);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m1, 1);
    layout->addLayout(okCancelRow(*this, BitBtn1, BitBtn2, "OK", "Cancel"));
    BitBtn1->setDefault(false);  // Enter starts a new line in the list
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);
    setTabOrder(m1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
}

void TCTL::Prepare(int k, const std::filesystem::path& file, const std::string& language) {
    file_ = file;
    BitBtn2->setText(cancelText(language));
    if (const std::string caption = app::ControlListText::Caption(language, k); !caption.empty())
        setWindowTitle(QString::fromStdString(caption));
    QStringList lines;
    for (const auto& l : app::ControlListText::Read(file)) lines << QString::fromStdString(l);
    m1->setPlainText(lines.join('\n'));
    m1->setFocus();
}

void TCTL::done(int result) {
    // Either button (and the close box) keeps what was typed.
    std::vector<std::string> lines;
    for (const QString& l : m1->toPlainText().split('\n')) lines.push_back(l.toStdString());
    if (!file_.empty()) saveError_ = app::ControlListText::Write(file_, lines);
    QDialog::done(result);
}

}  // namespace kestavo::ui
