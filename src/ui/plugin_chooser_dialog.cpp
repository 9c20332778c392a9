#include "ui/plugin_chooser_dialog.h"

#include <QHeaderView>
#include <QVBoxLayout>

#include "app/channel_dialog.h"
#include "ui/dialog_parts.h"

namespace kestavo::ui {

TPLUGINFORM::TPLUGINFORM(const std::vector<std::vector<std::string>>& plugins,
                         const std::filesystem::path& programFolder, const std::string& language, QWidget* parent)
    : QDialog(parent) {
    setObjectName("PLUGINFORM");
    static constexpr int kTexts[] = {103, 104, 105, 106, 107};
    const auto t = app::ReadLanguageTexts(programFolder, language, kTexts);
    setWindowTitle(textOr(t, 103, "Управление плагинами"));
    GroupBox1 = new QGroupBox(textOr(t, 107, "Найденные плагины"));
    GroupBox1->setObjectName("GroupBox1");
    PlugView = new QTreeWidget;
    PlugView->setObjectName("PlugView");
    PlugView->setRootIsDecorated(false);
    PlugView->setAllColumnsShowFocus(true);
    PlugView->setHeaderLabels({textOr(t, 104, "Имя"), textOr(t, 105, "Описание"), textOr(t, 106, "Версия")});
    for (const auto& p : plugins) {
        QStringList cells;
        for (const auto& c : p) cells << QString::fromStdString(c);
        PlugView->addTopLevelItem(new QTreeWidgetItem(cells));
    }
    // Columns as designed (150, 250 and 100 of 13-pixel text), or what their texts need.
    const QFontMetrics fm(PlugView->font());
    const int design[] = {150, 250, 100};
    int width = 0;
    for (int c = 0; c < 3; ++c) {
        PlugView->resizeColumnToContents(c);
        const int w = std::max({PlugView->columnWidth(c), fm.height() * design[c] / 13,
                                fm.horizontalAdvance(PlugView->headerItem()->text(c)) + fm.height()});
        PlugView->setColumnWidth(c, w);
        width += w;
    }
    PlugView->setMinimumSize(width + 2 * PlugView->frameWidth() + fm.height(), fm.lineSpacing() * 12);
    if (PlugView->topLevelItemCount() > 0) PlugView->setCurrentItem(PlugView->topLevelItem(0));
    auto* inner = new QVBoxLayout(GroupBox1);
    inner->addWidget(PlugView);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1, 1);
    layout->addLayout(okCancelRow(*this, BitBtn1, BitBtn2, "OK", cancelText(language)));
    connect(PlugView, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    setTabOrder(PlugView, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    PlugView->setFocus();
}

std::string TPLUGINFORM::Selected() const {
    const QTreeWidgetItem* item = PlugView->currentItem();
    return item && item->isSelected() ? item->text(0).toStdString() : std::string();
}

}  // namespace kestavo::ui
