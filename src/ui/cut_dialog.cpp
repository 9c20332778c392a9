#include "ui/cut_dialog.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "app/channel_dialog.h"
#include "ui/dialog_parts.h"

namespace kestavo::ui {

Tnarez::Tnarez(const std::filesystem::path& programFolder, const std::string& language, QWidget* parent)
    : QDialog(parent) {
    setObjectName("narez");
    static constexpr int kTexts[] = {131, 132, 133};
    const auto t = app::ReadLanguageTexts(programFolder, language, kTexts);
    setWindowTitle(textOr(t, 131, "Длительность 1 файла, мин"));
    StaticText1 = new QLabel(textOr(t, 132, "Длительность записи"));
    StaticText1->setObjectName("StaticText1");
    StaticText2 = new QLabel(textOr(t, 133, "одного файла, минут:"));
    StaticText2->setObjectName("StaticText2");
    Edit1 = new QLineEdit(QString::fromUtf8(app::kDefaultCutMinutes.data(), int(app::kDefaultCutMinutes.size())));
    Edit1->setObjectName("Edit1");
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    Edit1->setFont(big);
    Edit1->setMinimumWidth(charsWide(*Edit1, 5));
    StaticText2->setBuddy(Edit1);

    auto* grid = new QGridLayout;
    grid->addWidget(StaticText1, 0, 0);
    grid->addWidget(StaticText2, 1, 0);
    grid->addWidget(Edit1, 0, 1, 2, 1, Qt::AlignVCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(okCancelRow(*this, BitBtn1, BitBtn2, "OK", cancelText(language)));
    setTabOrder(Edit1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    Edit1->selectAll();
    Edit1->setFocus();
}

}  // namespace kestavo::ui
