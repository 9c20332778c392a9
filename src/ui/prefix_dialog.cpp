#include "ui/prefix_dialog.h"

#include <QVBoxLayout>
#include <algorithm>

namespace kestavo::ui {

TPrefix::TPrefix(const std::string& language, QWidget* parent) : QDialog(parent) {
    setObjectName("Prefix");
    const bool russian = language == "Russian";
    setWindowTitle(russian ? QString::fromUtf8("Ввод идентификатора канала") : QString("Channel identifier"));
    Label1 = new QLabel(russian ? QString::fromUtf8("Введите идентификатор (префикс) канала:")
                                : QString("Enter the channel identifier (prefix):"));
    Label1->setObjectName("Label1");
    Edit1 = new QLineEdit;
    Edit1->setObjectName("Edit1");
    BitBtn1 = new QPushButton(russian ? QString::fromUtf8("ВВОД") : QString("ENTER"));
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Edit1);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    // 329 x 137 px as designed, larger when the font needs it.
    const QFontMetrics fm(font());
    resize(std::max(329, fm.horizontalAdvance(Label1->text()) + 4 * fm.averageCharWidth()),
           std::max(137, sizeHint().height()));
}

}  // namespace kestavo::ui
