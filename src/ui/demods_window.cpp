#include "ui/demods_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "config/language_table.h"

namespace kestavo::ui {

Tdemods::Tdemods(app::AppCore& core, const std::filesystem::path& programFolder, QWidget* parent)
    : QDialog(parent), core_(core) {
    setObjectName("demods");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QString::fromUtf8("Результаты демодуляции"));
    GroupBox1 = new QGroupBox(QString::fromUtf8("Результаты демодуляции"), this);
    demodView = new QTreeWidget(GroupBox1);
    demodView->setObjectName("demodView");
    demodView->setRootIsDecorated(false);
    demodView->setHeaderLabels({QString::fromUtf8("Время"), "ID", QString::fromUtf8("Дополнительно")});
    Label1 = new QLabel(QString::fromUtf8("Показать канал:"), this);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);

    // Captions from the language table, where it gives them.
    config::Tlang table(programFolder, core.Settings().Language);
    const auto apply = [&](int n, auto&& set) {
        if (const std::string t = table.GetText(n); !t.empty()) set(QString::fromStdString(t));
    };
    apply(113, [&](const QString& t) { setWindowTitle(t); });
    apply(114, [&](const QString& t) { demodView->headerItem()->setText(0, t); });
    apply(115, [&](const QString& t) { demodView->headerItem()->setText(1, t); });
    apply(116, [&](const QString& t) { GroupBox1->setTitle(t); });
    apply(117, [&](const QString& t) { Label1->setText(t); });

    auto* inner = new QVBoxLayout(GroupBox1);
    inner->addWidget(demodView);
    auto* filter = new QHBoxLayout;
    filter->addWidget(Label1);
    filter->addWidget(ComboBox1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1, 1);
    layout->addLayout(filter);

    // Column widths and the window's size follow the font, so both languages fit at any dpi.
    const QFontMetrics fm(font());
    demodView->setColumnWidth(0, fm.horizontalAdvance("00:00:00") + fm.averageCharWidth() * 4);
    demodView->setColumnWidth(1, fm.averageCharWidth() * 16);
    resize(fm.averageCharWidth() * 64, fm.height() * 28);

    core_.OpenDemods();
    fillChannels_();
    ComboBox1->setCurrentText(QString::fromStdString(core_.Demods().FilterText()));
    connect(ComboBox1, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { core_.Demods().SetFilterText(text.toStdString()); });
    Refresh();
}

void Tdemods::fillChannels_() {
    const QString current = ComboBox1->currentText();
    ComboBox1->blockSignals(true);
    ComboBox1->clear();
    ComboBox1->addItem("ALL");
    for (std::size_t k = 1; k <= core_.Rows().size(); ++k) ComboBox1->addItem(QString::number(k));
    ComboBox1->setCurrentText(current);
    ComboBox1->blockSignals(false);
}

void Tdemods::Refresh() {
    const app::DemodResults& results = core_.Demods();
    if (results.Revision() == shown_) return;
    shown_ = results.Revision();
    demodView->clear();
    for (const app::DemodRow& row : results.Rows())
        demodView->addTopLevelItem(
            new QTreeWidgetItem({QString::fromStdString(row.time), QString::fromStdString(row.identifier),
                                 QString::fromStdString(row.extra)}));
    demodView->scrollToBottom();
}

void Tdemods::closeEvent(QCloseEvent* event) {
    core_.CloseDemods();
    QDialog::closeEvent(event);
}

}  // namespace kestavo::ui
