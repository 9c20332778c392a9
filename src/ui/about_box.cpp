#include "ui/about_box.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "app/help.h"

namespace kestavo::ui {

TAbt::TAbt(const std::string& language, QWidget* parent) : QDialog(parent) {
    setObjectName("Abt");
    const app::AboutTexts t = app::AboutBoxTexts(language);
    setWindowTitle(QString::fromStdString(t.caption));
    Label2 = new QLabel(QString::fromStdString(t.title));
    Label2->setObjectName("Label2");
    QFont big = Label2->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    Label2->setFont(big);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label2, 0, Qt::AlignHCenter);
    layout->addSpacing(Label2->fontMetrics().height() / 2);
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        Lines[i] = new QLabel(QString::fromStdString(t.lines[i]));
        Lines[i]->setObjectName(QString("Label%1").arg(i + 3));
        layout->addWidget(Lines[i], 0, Qt::AlignHCenter);
    }
    BitBtn1 = new QPushButton(QString::fromStdString(t.ok));
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(BitBtn1);
    row->addStretch();
    layout->addSpacing(Label2->fontMetrics().height() / 2);
    layout->addLayout(row);
    // At least the size the box was designed with (330 x 155 px), more when the texts need it.
    setMinimumSize(std::max(330, sizeHint().width()), std::max(155, sizeHint().height()));
}

}  // namespace kestavo::ui
