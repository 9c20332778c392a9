#include "ui/period_dialog.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "app/channel_dialog.h"
#include "ui/dialog_parts.h"

namespace kestavo::ui {

Tperiod::Tperiod(const std::filesystem::path& programFolder, const std::string& language, QWidget* parent)
    : QDialog(parent) {
    setObjectName("period");
    static constexpr int kTexts[] = {128, 129, 130};
    const auto t = app::ReadLanguageTexts(programFolder, language, kTexts);
    setWindowTitle(textOr(t, 128, "Ввод периода записи"));
    StaticText1 = new QLabel(textOr(t, 129, "Включить запись:"));
    StaticText1->setObjectName("StaticText1");
    StaticText2 = new QLabel(textOr(t, 130, "Выключить запись:"));
    StaticText2->setObjectName("StaticText2");
    QFont big = font();  // the fields are written a size larger than the labels
    big.setPointSizeF(big.pointSizeF() * 1.25);
    for (QLineEdit** field : {&start, &stop}) {
        auto* e = new QLineEdit;
        e->setFont(big);
        e->setInputMask("09:99;_");  // hours (the first digit optional) and minutes
        e->setMinimumWidth(charsWide(*e, 6));
        *field = e;
    }
    start->setObjectName("start");
    stop->setObjectName("stop");
    StaticText1->setBuddy(start);
    StaticText2->setBuddy(stop);

    auto* grid = new QGridLayout;
    grid->addWidget(StaticText1, 0, 0);
    grid->addWidget(start, 0, 1);
    grid->addWidget(StaticText2, 1, 0);
    grid->addWidget(stop, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch();
    layout->addLayout(okCancelRow(*this, BitBtn1, BitBtn2, "OK", cancelText(language)));
    setTabOrder(start, stop);
    setTabOrder(stop, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    start->setFocus();
}

}  // namespace kestavo::ui
