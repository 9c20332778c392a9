#include "ui/channel_assignment_window.h"

#include <QGridLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "config/language_table.h"
#include "ui/prefix_dialog.h"

namespace kestavo::ui {

namespace {

constexpr double kDesignLineHeight = 13.0;  // the font height the pixel sizes were designed with

QTableWidget* reportView(const char* name, const QStringList& columns) {
    auto* view = new QTableWidget(0, int(columns.size()));
    view->setObjectName(name);
    view->setHorizontalHeaderLabels(columns);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->hide();
    view->setShowGrid(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return view;
}

int selectedRow(const QTableWidget& view) {
    const auto rows = view.selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void setLine(QTableWidget& view, int row, const QStringList& cells) {
    for (int c = 0; c < int(cells.size()); ++c) view.setItem(row, c, new QTableWidgetItem(cells[c]));
}

}  // namespace

TZvuk::TZvuk(app::AppCore& core, const std::filesystem::path& programFolder, QWidget* parent)
    : QDialog(parent), core_(core), model_(core) {
    setObjectName("Zvuk");
    setWindowTitle(QString::fromUtf8("Назначение каналов"));
    ListView1 = reportView("ListView1", {QString::fromUtf8("№"), QString::fromUtf8("Свободные каналы:")});
    ListView2 = reportView(
        "ListView2", {QString::fromUtf8("№"), QString::fromUtf8("Работающие каналы:"), QString::fromUtf8("Префикс")});
    SpeedButton1 = new QPushButton;
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    SpeedButton2 = new QPushButton;
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    BitBtn1 = new QPushButton(QString::fromUtf8("ВЫХОД"));
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    config::Tlang table(programFolder, core.Settings().Language);  // texts in ascending order
    const auto apply = [&](int n, auto&& set) {
        if (const std::string t = table.GetText(n); !t.empty()) set(QString::fromStdString(t));
    };
    const auto header = [](QTableWidget* view, int column) {
        return [view, column](const QString& t) { view->horizontalHeaderItem(column)->setText(t); };
    };
    apply(34, header(ListView1, 0));
    apply(35, header(ListView1, 1));
    apply(36, header(ListView2, 1));
    apply(37, [&](const QString& t) { BitBtn1->setText(t); });
    apply(38, [&](const QString& t) { setWindowTitle(t); });
    apply(39, header(ListView2, 2));
    apply(40, header(ListView2, 0));

    auto* arrows = new QVBoxLayout;
    arrows->addStretch();
    arrows->addWidget(SpeedButton1);
    arrows->addWidget(SpeedButton2);
    arrows->addStretch();
    auto* layout = new QGridLayout(this);
    layout->addWidget(ListView1, 0, 0);
    layout->addLayout(arrows, 0, 1);
    layout->addWidget(ListView2, 0, 2);
    layout->addWidget(BitBtn1, 1, 0, 1, 3, Qt::AlignHCenter);

    // The designed widths (№ 30, names 174 and 200, prefix 70 px, the window 572 x 297), scaled
    // with the font and widened to the captions.
    const QFontMetrics fm(font());
    const double scale = std::max(1.0, fm.height() / kDesignLineHeight);
    const auto design = [scale](int px) { return int(std::lround(px * scale)); };
    // Each list is as wide as its columns; the window takes at least the designed size.
    const auto fit = [&](QTableWidget* view, std::initializer_list<int> widths) {
        int total = 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width();
        int column = 0;
        for (int px : widths) {
            const int need = fm.horizontalAdvance(view->horizontalHeaderItem(column)->text()) + 16;
            view->setColumnWidth(column++, std::max(design(px), need));
            total += std::max(design(px), need);
        }
        view->setMinimumWidth(total);
    };
    fit(ListView1, {30, 174});
    fit(ListView2, {30, 200, 70});
    resize(std::max(design(572), minimumSizeHint().width()), std::max(design(297), minimumSizeHint().height()));

    connect(ListView1, &QTableWidget::cellDoubleClicked, this, [this](int, int) { add_(); });
    connect(SpeedButton1, &QPushButton::clicked, this, &TZvuk::add_);
    connect(ListView2, &QTableWidget::cellDoubleClicked, this, [this](int, int) { remove_(); });
    connect(SpeedButton2, &QPushButton::clicked, this, &TZvuk::remove_);
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        model_.Exit();
        accept();
    });
    fill_();
}

TZvuk::~TZvuk() { (void)model_.Close(); }  // closed without done(): saved all the same

void TZvuk::done(int result) {
    (void)model_.Close();  // a failed save has been shown to the operator
    QDialog::done(result);
}

void TZvuk::fill_() {
    ListView1->setRowCount(int(model_.Free().size()));
    for (int i = 0; i < ListView1->rowCount(); ++i)
        setLine(*ListView1, i, {QString::number(i + 1), QString::fromStdString(model_.Free()[std::size_t(i)])});
    ListView2->setRowCount(int(model_.Working().size()));
    for (int i = 0; i < ListView2->rowCount(); ++i) {
        const auto& line = model_.Working()[std::size_t(i)];
        setLine(*ListView2, i,
                {QString::fromStdString(line.number), QString::fromStdString(line.name),
                 QString::fromStdString(line.prefix)});
    }
}

void TZvuk::add_() {
    const auto row = model_.Add(selectedRow(*ListView1));
    if (!row) {
        fill_();
        return;
    }
    ListView1->setRowCount(0);
    ListView2->setRowCount(0);
    emit channelsChanged();
    TPrefix prefix(core_.Settings().Language, this);
    prefix.RowIndex = *row;
    prefix.exec();  // closed any way: the text is taken
    model_.SetPrefix(prefix.RowIndex, prefix.Edit1->text().toStdString());
    fill_();
    emit channelsChanged();
}

void TZvuk::remove_() {
    if (!model_.Remove(selectedRow(*ListView2))) return;
    fill_();
    emit channelsChanged();
}

}  // namespace kestavo::ui
