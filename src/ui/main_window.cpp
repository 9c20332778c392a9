#include "ui/main_window.h"

#include "ui/demods_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/help.h"
#include "ui/about_box.h"
#include "ui/channel_assignment_window.h"
#include "ui/channel_dialog.h"
#include "ui/demods_window.h"
#include "ui/expand_window.h"
#include "ui/general_settings_dialog.h"
#include "ui/level_grid_window.h"
#include "ui/password_dialog.h"
#include "ui/plugin_chooser_dialog.h"

namespace kestavo::ui {

namespace {

// Design sizes, in pixels of the font the window was drawn with (13 px line height).
constexpr double kDesignLineHeight = 13.0;
constexpr std::array<int, 7> kColumnWidths{30, 300, 35, 50, 60, 62, 55};
constexpr int kUpperRowHeight = 15;
constexpr int kLowerRowHeight = 25;
constexpr std::array<int, 5> kPanelWidths{190, 90, 70, 190, 50};
constexpr int kDesignWidth = 630;
constexpr int kTrayTipChars = 63;  // the tray cuts longer tips
constexpr int kGridRowsShown = 8;  // channels the window opens tall enough for

// Texts applied to the window's own controls: number -> where.
enum class Target { Menu, Action, Button, Check, Label, Panel };

QIcon trayImage(bool recording) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A line (two strokes of a waveform) on a round face: grey while waiting, red while recording.
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(recording ? QColor(220, 0, 0) : QColor(96, 160, 96));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
    const QPointF wave[] = {{8, 16}, {11, 10}, {14, 22}, {17, 8}, {20, 24}, {23, 12}, {25, 16}};
    p.drawPolyline(wave, int(std::size(wave)));
    return QIcon(pm);
}

QString fromUtf8(const std::string& s) { return QString::fromStdString(s); }

// The bar's segments are W / 51 wide (whole pixels) with a quarter of that as gap, so only some widths hold
// all 50 (300..305, 349..356, 399..407 px); the level column takes the first one from `wanted`.
int barWidthFrom(int wanted) {
    for (int w = std::max(wanted, 1); w <= 407; ++w) {
        const int size = w / 51, gap = size / 4;
        if (50 * (size + gap) - gap <= w) return w;
    }
    return 407;
}

}  // namespace

TForm1::TForm1(app::AppCore& core, FormOptions options, QWidget* parent)
    : QMainWindow(parent), core_(core), options_(std::move(options)) {
    setObjectName("Form1");
    setWindowTitle("Kestavo");
    ImageList1 = {trayImage(false), trayImage(true)};
    setWindowIcon(ImageList1[0]);

    StringGrid1 = new QTableWidget(2, 7);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->setFocusPolicy(Qt::NoFocus);
    StringGrid1->setWordWrap(false);
    StringGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    StringGrid1->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    buildPanel_();
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(StringGrid1, 1);
    layout->addWidget(Panel1, 0);
    setCentralWidget(central);
    buildMenu_();
    buildStatusBar_();
    buildTray_();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimerMs);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    {
        const QSignalBlocker quiet(inv_bar);
        inv_bar->setValue(core_.Settings().Inv_Point);
    }
    Edit1->setText(QString::number(inv_bar->value()));

    rowIds_ = {-1};  // the first look always builds the grid, even without channels
    syncRows_();
    applyLanguage_();
    windowMode_ = app::WindowMode::Shown;
    core_.SetWindowMode(windowMode_);
    Refresh();
    if (options_.startTimer) Timer1->start();
}

TForm1::~TForm1() {
    Timer1->stop();
    rows_.clear();  // before the grid goes
}

QString TForm1::text_(int n) const { return fromUtf8(core_.Text(n)); }

TKanalRow* TForm1::Row(int k) const noexcept {
    return k >= 1 && std::size_t(k) <= rows_.size() ? rows_[std::size_t(k - 1)].get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Building

void TForm1::buildMenu_() {
    MainMenu1 = new QMenuBar;
    MainMenu1->setObjectName("MainMenu1");
    setMenuBar(MainMenu1);
    auto action = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(name);
        return a;
    };
    auto menu = [this](const char* name, const char* caption) {
        QMenu* m = MainMenu1->addMenu(QString::fromUtf8(caption));
        m->setObjectName(name);
        return m;
    };
    N1 = menu("N1", "Файл");
    N2 = action(N1, "N2", "Выход");
    N3 = MainMenu1->addAction(QString::fromUtf8("Общие установки"));
    N3->setObjectName("N3");
    N8 = menu("N8", "Плагины");
    N9 = action(N8, "N9", "Показать все");
    N10 = action(N8, "N10", "Окно демодуляторов");
    N11 = menu("N11", "Язык");
    English1 = action(N11, "English1", "English");
    N12 = action(N11, "N12", "Русский");
    auto* languages = new QActionGroup(this);
    for (QAction* a : {English1, N12}) {
        a->setCheckable(true);
        languages->addAction(a);
    }
    N4 = menu("N4", "Помощь");
    N5 = action(N4, "N5", "Помощь программы записи");
    N7 = action(N4, "N7", "О программе");

    connect(N2, &QAction::triggered, this, &QWidget::close);
    connect(N3, &QAction::triggered, this, [this] {
        TForm4 dialog(core_, options_.password, this);
        connect(this, &TForm1::ShutDownDone, &dialog, &TForm4::Abandon);  // a quit from outside applies nothing
        if (generalSettingsShown) generalSettingsShown(dialog);
        dialog.exec();
        Refresh();  // status panel 0 and the server panel
    });
    connect(N9, &QAction::triggered, this, [this] {
        // Every plug-in that passed its trial, as the channel settings window offers them.
        std::vector<std::vector<std::string>> rows;
        for (const std::string& line : core_.PluginCatalogue()) {
            std::vector<std::string> cells;
            for (std::size_t at = 0;;) {
                const std::size_t tab = line.find('\t', at);
                cells.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
                if (tab == std::string::npos) break;
                at = tab + 1;
            }
            cells.resize(3);
            rows.push_back(std::move(cells));
        }
        TPLUGINFORM form(rows, options_.programFolder, core_.Settings().Language, this);
        form.exec();
    });
    connect(N10, &QAction::triggered, this, [this] {
        // One results window at a time: the menu brings the open one forward.
        if (!demods_) demods_ = new Tdemods(core_, options_.programFolder, this);
        demods_->show();
        demods_->raise();
        demods_->activateWindow();
    });
    connect(English1, &QAction::triggered, this, [this] { languageChosen_("English"); });
    connect(N12, &QAction::triggered, this, [this] { languageChosen_("Russian"); });
    connect(N5, &QAction::triggered, this, [this] {
        // The manual of the window's language, shown by the desktop's viewer.
        const std::string& language = core_.Settings().Language;
        const app::ManualPlace manual = app::FindManual(language, app::ManualFolders());
        if (!manual.file.empty() &&
            QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(manual.file.string()))))
            return;
        QMessageBox box(QMessageBox::Warning, QString(N5->text()).remove('&'),
                        QString::fromStdString(app::ManualMissingText(language, manual)), QMessageBox::Ok, this);
        box.setObjectName("ManualMissing");
        box.exec();
    });
    connect(N7, &QAction::triggered, this, [this] {
        TAbt about(core_.Settings().Language, this);
        about.exec();
    });
}

void TForm1::buildPanel_() {
    Panel1 = new QFrame;
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFrameShadow(QFrame::Raised);
    BitBtn1 = new QPushButton(QString::fromUtf8("Назначение каналов"));
    BitBtn1->setObjectName("BitBtn1");
    Label1 = new QLabel(QString::fromUtf8("Устройство контроля:"));
    Label1->setObjectName("Label1");
    ComboBox1 = new QComboBox;
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    CheckBox1 = new QCheckBox(QString::fromUtf8("Инверсия спектра"));
    CheckBox1->setObjectName("CheckBox1");
    Label2 = new QLabel(QString::fromUtf8("Поворот, Гц"));
    Label2->setObjectName("Label2");
    inv_bar = new QSlider(Qt::Horizontal);
    inv_bar->setObjectName("inv_bar");
    inv_bar->setRange(1, 5000);
    inv_bar->setTickInterval(100);
    inv_bar->setTickPosition(QSlider::TicksBelow);
    inv_bar->setPageStep(100);
    Edit1 = new QLineEdit;
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit1->setAlignment(Qt::AlignRight);
    Edit1->setFixedWidth(Edit1->fontMetrics().horizontalAdvance("88888") + 16);
    // Nothing is monitored yet: the inversion controls wait for a monitored channel.
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBox1, inv_bar, Edit1}) w->setEnabled(false);

    auto* g = new QGridLayout(Panel1);
    g->setContentsMargins(6, 4, 6, 4);
    g->setHorizontalSpacing(8);
    g->setVerticalSpacing(2);
    g->addWidget(BitBtn1, 0, 0);
    g->addWidget(Label1, 0, 1, Qt::AlignRight);
    g->addWidget(ComboBox1, 0, 2, 1, 2);
    g->addWidget(CheckBox1, 1, 0);
    g->addWidget(Label2, 1, 1, Qt::AlignRight);
    g->addWidget(inv_bar, 1, 2);
    g->addWidget(Edit1, 1, 3);
    g->setColumnStretch(2, 1);

    ComboBox1->addItem("WAVE_MAPPER");
    if (auto* wsk = core_.Setup()) {
        ComboBox1->clear();
        for (const auto& out : wsk->OutputDevices()) ComboBox1->addItem(fromUtf8(out.name));
    }
    // Entry number = device index + 1; an index the list does not have leaves the default.
    const int entry = core_.Settings().Device + 1;
    if (entry >= 0 && entry < ComboBox1->count()) ComboBox1->setCurrentIndex(entry);

    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        // Created for each use and shown modally; the grid follows every channel added or removed.
        TZvuk window(core_, options_.programFolder, this);
        connect(&window, &TZvuk::channelsChanged, this, &TForm1::Refresh);
        window.exec();
        Refresh();
    });
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::outputChosen_);
    connect(inv_bar, &QSlider::valueChanged, this, [this](int hz) {
        Edit1->setText(QString::number(hz));
        core_.SetInversionPivot(hz);
        if (options_.inversion) options_.inversion->hertz.store(hz);
    });
    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
        if (options_.inversion) options_.inversion->on.store(on);
    });
}

void TForm1::buildStatusBar_() {
    StatusBar1 = new QStatusBar;
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
    for (std::size_t i = 0; i < StatusPanels.size(); ++i) {
        auto* panel = new QLabel(fromUtf8(core_.StatusPanels()[i]));
        panel->setObjectName(QString("Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        StatusBar1->addWidget(panel, i + 1 == StatusPanels.size() ? 1 : 0);
        StatusPanels[i] = panel;
    }
    shownPanels_ = core_.StatusPanels();
}

void TForm1::buildTray_() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    TrayIcon = new QSystemTrayIcon(ImageList1[0], this);
    TrayIcon->setObjectName("TrayIcon");
    TrayIcon->setToolTip(QString::fromUtf8(app::kTrayWaiting));
    connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) TrayDoubleClick();
        // The right button only brings the program forward; there is no tray menu.
        if (reason == QSystemTrayIcon::Context && isVisible()) activateWindow();
    });
    TrayIcon->show();
}

// ---------------------------------------------------------------------------------------------
// Rows

void TForm1::syncRows_() {
    std::vector<int> ids;
    for (const auto& row : core_.Rows()) ids.push_back(row->id);
    if (ids == rowIds_ && rows_.size() == ids.size()) return;
    rows_.clear();
    rowIds_ = ids;
    const int n = int(ids.size());
    StringGrid1->clearContents();
    StringGrid1->setRowCount(std::max(2, 2 * n + 1));
    for (int k = 1; k <= n; ++k) {
        auto row = std::make_unique<TKanalRow>(*StringGrid1, k);
        connect(row.get(), &TKanalRow::recordClicked, this, &TForm1::recordClicked_);
        connect(row.get(), &TKanalRow::autoClicked, this, &TForm1::autoClicked_);
        connect(row.get(), &TKanalRow::monitorClicked, this, &TForm1::monitorClicked_);
        connect(row.get(), &TKanalRow::thresholdMoved, this, &TForm1::thresholdMoved_);
        connect(row.get(), &TKanalRow::settingsClicked, this, &TForm1::settingsClicked_);
        connect(row.get(), &TKanalRow::thresholdWindowClicked, this,
                [this](int k) { thresholdWindow_(k, false, false); });
        if (const app::Tkanal* r = core_.Row(k)) row->ShowThreshold(r->Settings().threshold);
        rows_.push_back(std::move(row));
    }
    // The fixed header row and number column look like the grid's frame.
    const QBrush fixed = palette().button();
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        for (int c = 0; c < StringGrid1->columnCount(); ++c) {
            if (r != 0 && c != 0) continue;
            if (!StringGrid1->item(r, c)) StringGrid1->setItem(r, c, new QTableWidgetItem);
            StringGrid1->item(r, c)->setBackground(fixed);
            StringGrid1->item(r, c)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    for (int k = 1; k <= n; ++k) StringGrid1->item(2 * k - 1, 0)->setText(QString::number(k));
    applyRowCaptions_();
    fitSizes_();
}

void TForm1::applyRowCaptions_() {
    auto orDefault = [this](int n, const char* fallback) {
        const QString t = text_(n);
        return t.isEmpty() ? QString::fromUtf8(fallback) : t;
    };
    RowCaptions c;
    c.autoBox = orDefault(25, "АВТО");
    c.settings = orDefault(27, "Установки");
    c.monitor = orDefault(28, "Контр.");
    c.threshold = orDefault(29, "Порог");
    for (auto& row : rows_) row->SetCaptions(c);
    // Header texts of columns 0 to 5; column 6 has none.
    for (int col = 0; col <= 5; ++col)
        if (const QString t = text_(19 + col); !t.isEmpty() && StringGrid1->item(0, col))
            StringGrid1->item(0, col)->setText(t);
}

// ---------------------------------------------------------------------------------------------
// Language

void TForm1::applyLanguage_() {
    setWindowTitle("Kestavo");
    auto apply = [this](int n, auto setter) {
        if (const QString t = text_(n); !t.isEmpty()) setter(t);
    };
    apply(1, [this](const QString& t) { N1->setTitle(t); });
    apply(2, [this](const QString& t) { N2->setText(t); });
    apply(3, [this](const QString& t) { N3->setText(t); });
    apply(4, [this](const QString& t) { N8->setTitle(t); });
    apply(5, [this](const QString& t) { N9->setText(t); });
    apply(6, [this](const QString& t) { N10->setText(t); });
    apply(7, [this](const QString& t) { N4->setTitle(t); });
    apply(8, [this](const QString& t) { N5->setText(t); });
    apply(10, [this](const QString& t) { N7->setText(t); });
    apply(11, [this](const QString& t) { BitBtn1->setText(t); });
    apply(12, [this](const QString& t) { CheckBox1->setText(t); });
    apply(13, [this](const QString& t) { Label1->setText(t); });
    apply(14, [this](const QString& t) { Label2->setText(t); });
    for (int i = 0; i < 4; ++i)
        apply(15 + i, [this, i](const QString& t) { StatusPanels[std::size_t(i)]->setText(t); });
    apply(31, [this](const QString& t) { N11->setTitle(t); });
    applyRowCaptions_();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (const app::Tkanal* r = core_.Row(int(i) + 1))
            rows_[i]->RecordButton->setText(fromUtf8(core_.RecordButtonText(*r)));
    const std::string& language = core_.Settings().Language;
    English1->setChecked(language == "English");
    N12->setChecked(language == "Russian");
    fitSizes_();
}

void TForm1::languageChosen_(const std::string& language) {
    core_.SetLanguage(language);
    applyLanguage_();
    Refresh();
}

// ---------------------------------------------------------------------------------------------
// Sizes

void TForm1::fitSizes_() {
    const QFontMetrics fm(font());
    const double scale = std::max(1.0, fm.height() / kDesignLineHeight);
    auto design = [scale](int px) { return int(std::lround(px * scale)); };
    auto textWidth = [&fm](const QString& t) { return fm.horizontalAdvance(t) + 10; };
    auto buttonWidth = [&fm](const QString& t) { return fm.horizontalAdvance(t) + 2 * fm.averageCharWidth() + 10; };
    const int indicator =
        style()->pixelMetric(QStyle::PM_IndicatorWidth) + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    auto checkWidth = [&](const QString& t) { return fm.horizontalAdvance(t) + indicator + 12; };

    const QString idle = fromUtf8(core_.TextOr(app::kRecordTextNumber, app::kRecordText));
    const QString busy = fromUtf8(core_.TextOr(app::kStopTextNumber, app::kStopText));
    auto header = [this](int col) { return StringGrid1->item(0, col) ? StringGrid1->item(0, col)->text() : QString(); };

    std::array<int, 7> w{};
    for (std::size_t c = 0; c < w.size(); ++c) w[c] = std::max(design(kColumnWidths[c]), textWidth(header(int(c))));
    w[0] = std::max(w[0], textWidth(QString::number(std::max<std::size_t>(rows_.size(), 1))));
    w[2] = std::max(w[2], textWidth("-60.00"));
    w[3] = std::max(w[3], textWidth("00:00:00"));
    w[4] = std::max({w[4], textWidth(idle), textWidth(busy), buttonWidth(idle), buttonWidth(busy)});
    if (!rows_.empty()) {
        const TKanalRow& r = *rows_.front();
        w[3] = std::max(w[3], checkWidth(r.AutoBox->text()));
        w[5] = std::max(w[5], buttonWidth(r.SettingsButton->text()));
        w[6] = std::max({w[6], checkWidth(r.MonitorBox->text()), buttonWidth(r.ThresholdButton->text())});
    }
    const int gridLine = StringGrid1->showGrid() ? 1 : 0;  // a cell widget leaves the line free
    w[1] = barWidthFrom(w[1] - gridLine) + gridLine;
    for (std::size_t c = 0; c < w.size(); ++c) StringGrid1->setColumnWidth(int(c), w[c]);

    const int upper = std::max(design(kUpperRowHeight), fm.height() + 4);
    int lower = std::max(design(kLowerRowHeight), fm.height() + 10);
    if (!rows_.empty()) {
        const TKanalRow& r = *rows_.front();
        lower = std::max({lower, r.AutoBox->sizeHint().height(), r.ThresholdBar->sizeHint().height()});
    }
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    for (int row = 0; row < StringGrid1->rowCount(); ++row)
        StringGrid1->setRowHeight(row, row > 0 && row % 2 == 0 ? lower : upper);

    // Status panels: the design widths, or what their longest text needs.
    const std::array<QString, 5> longest{QString::fromUtf8("Всего на диске: 000000000000000"),
                                         QString::fromUtf8("Свободно: 100 %"), QString::fromUtf8("Каналов: 100"),
                                         QString::fromUtf8("Сервер: Local server"), "CPU: 100%"};
    for (std::size_t i = 0; i < StatusPanels.size(); ++i)
        StatusPanels[i]->setMinimumWidth(
            std::max({design(kPanelWidths[i]), textWidth(longest[i]), textWidth(StatusPanels[i]->text())}));

    // The window: every column, and the rows of up to eight channels above the panel.
    int gridWidth = 2 * StringGrid1->frameWidth();
    for (int c : w) gridWidth += c;
    const int shown = std::min<int>(int(rows_.size()), kGridRowsShown);
    int gridHeight = 2 * StringGrid1->frameWidth() + upper + shown * (upper + lower) + 2;
    if (int(rows_.size()) > kGridRowsShown) gridWidth += StringGrid1->verticalScrollBar()->sizeHint().width();
    StringGrid1->setMinimumWidth(gridWidth);
    int panels = 0;
    for (QLabel* p : StatusPanels) panels += p->minimumWidth() + 4;
    const int width = std::max({gridWidth, design(kDesignWidth), panels, Panel1->sizeHint().width()});
    const int height = std::max(
        core_.Settings().HEIGHT,
        MainMenu1->sizeHint().height() + gridHeight + Panel1->sizeHint().height() + StatusBar1->sizeHint().height());
    resize(width, height);
}

// ---------------------------------------------------------------------------------------------
// The timer and the display

void TForm1::Timer1Timer() {
    if (shutDown_) return;
    if (options_.tickWork)
        options_.tickWork();
    else
        core_.tick();
    Refresh();
}

void TForm1::Refresh() {
    syncRows_();
    if (demods_) demods_->Refresh();
    const bool draw = windowMode_ == app::WindowMode::Shown && isVisible();
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (const app::Tkanal* r = core_.Row(int(i) + 1))
            rows_[i]->Refresh(*r, core_.StateText(*r), core_.RecordButtonText(*r), draw);
    const auto& panels = core_.StatusPanels();
    for (std::size_t i = 0; i < panels.size(); ++i) {
        if (panels[i] == shownPanels_[i]) continue;
        // The CPU panel is redrawn only while the window is shown.
        if (i == 4 && !draw) continue;
        shownPanels_[i] = panels[i];
        StatusPanels[i]->setText(fromUtf8(panels[i]));
    }
    refreshTray_();
}

void TForm1::refreshTray_() {
    const bool recording = core_.TrayRecording();
    if (shownTrayRecording_ == recording && shownTrayTip_ == core_.TrayTip()) return;
    shownTrayRecording_ = recording;
    shownTrayTip_ = core_.TrayTip();
    setWindowIcon(ImageList1[recording ? 1 : 0]);
    if (!TrayIcon) return;
    TrayIcon->setIcon(ImageList1[recording ? 1 : 0]);
    TrayIcon->setToolTip(fromUtf8(shownTrayTip_).left(kTrayTipChars));
}

// ---------------------------------------------------------------------------------------------
// Row handlers

void TForm1::recordClicked_(int k) {
    core_.RecordButton(k);  // the caption changes only when a start succeeds
    Refresh();
}

void TForm1::autoClicked_(int k, bool on) { core_.SetAuto(k, on); }

bool TForm1::debounced_(std::optional<std::uint32_t>& last) {
    const std::uint32_t now = core_.Clock().tickMs();
    if (last && now - *last < kDebounceMs) return true;
    last = now;
    return false;
}

void TForm1::monitorClicked_(int k, bool on) {
    TKanalRow* row = Row(k);
    if (!row) return;
    if (debounced_(lastMonitorClick_)) {
        // Too soon after the last change: the box goes back to what is monitored.
        const QSignalBlocker quiet(row->MonitorBox);
        row->MonitorBox->setChecked(!on);
        return;
    }
    core_.SelectMonitor(k, on);
    for (QWidget* w : std::initializer_list<QWidget*>{CheckBox1, inv_bar, Edit1}) w->setEnabled(on);
    Refresh();  // the other rows' boxes untick
}

void TForm1::thresholdMoved_(int k, int position) {
    TKanalRow* row = Row(k);
    if (!row || !core_.Row(k) || !core_.Row(k)->Channel()) return;
    const double dB = position * 0.01;
    core_.SetThreshold(k, dB);
    row->ShowThreshold(dB);
}

void TForm1::settingsClicked_(int k) {
    TForm2 dialog(core_, this);
    if (!dialog.Load(k)) return;
    connect(&dialog, &TForm2::thresholdWindowRequested, this,
            [this](int k, bool pulse) { thresholdWindow_(k, pulse, true); });
    connect(&dialog, &TForm2::coefficientsWindowRequested, this, [this](int k) { coefficientsWindow_(k); });
    // Modal to this window only: the threshold and K1/K2 windows it opens take input beside it.
    dialog.setWindowModality(Qt::WindowModal);
    // A quit from outside frees the rows: the window closes without touching them.
    connect(this, &TForm1::ShutDownDone, &dialog, &TForm2::reject);
    if (settingsDialogShown) settingsDialogShown(dialog);
    dialog.exec();
    Refresh();
}

void TForm1::outputChosen_(int index) {
    if (debounced_(lastOutputChange_)) return;
    core_.SetMonitorOutput(index - 1);  // "WAVE_MAPPER" is -1
    Refresh();
}

// ---------------------------------------------------------------------------------------------
// The threshold and K1/K2 windows: top-level windows of their own (a settings window that opens
// one is modal, and the tool window outlives it), closed with this window and freed with it.

namespace {

template <class Window>
Window* openToolWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<Window*>(w); t && t->Model()) return t;
    return nullptr;
}

void closeToolWindows() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<Tlevel_grid*>(w) || qobject_cast<TExpandform*>(w)) w->close();
}

}  // namespace

void TForm1::thresholdWindow_(int k, bool pulse, bool anew) {
    Tlevel_grid* window = openToolWindow<Tlevel_grid>();
    if (window && anew) {
        window->close();
        window = nullptr;
    }
    if (!window) {
        window = new Tlevel_grid(core_);
        connect(window, &Tlevel_grid::thresholdChanged, this, [this](int channel, double dB) {
            if (TKanalRow* row = Row(channel)) row->ShowThreshold(dB);
        });
        connect(this, &QObject::destroyed, window, [window] { delete window; });
    }
    std::error_code error;  // a mixer that cannot be opened shows as none
    if (!window->Prepare(k, pulse ? app::LevelGridMode::Pulse : app::LevelGridMode::Level, core_.OpenMixer(k, error))) {
        window->close();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void TForm1::coefficientsWindow_(int k) {
    TExpandform* window = openToolWindow<TExpandform>();
    if (!window) {
        window = new TExpandform(core_);
        connect(window, &TExpandform::coefficientsChanged, this, [this](int channel) {
            for (TForm2* dialog : findChildren<TForm2*>())
                if (dialog->Model() && dialog->Model()->ChannelNumber() == channel) dialog->ShowCoefficients();
        });
        connect(this, &QObject::destroyed, window, [window] { delete window; });
    }
    if (!window->Prepare(k)) {
        window->close();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Minimise, restore, tray

void TForm1::setWindowMode_(app::WindowMode mode) {
    if (windowMode_ == mode) return;
    windowMode_ = mode;
    core_.SetWindowMode(mode);
}

void TForm1::StartMinimised() { showMinimized(); }

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    if (windowState() & Qt::WindowMinimized) {
        setWindowMode_(app::WindowMode::Minimised);
        // Hidden, the window leaves the task bar too; the tray brings it back.
        if (HideToTray()) QTimer::singleShot(0, this, &QWidget::hide);
    } else if (isVisible()) {
        setWindowMode_(app::WindowMode::Shown);
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The height the window opens with next time: only a normal window's (not maximised).
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        core_.SetWindowHeight(height());
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!(windowState() & Qt::WindowMinimized)) setWindowMode_(app::WindowMode::Shown);
    Refresh();
}

void TForm1::RestoreWindow() {
    showNormal();
    raise();
    activateWindow();
    setWindowMode_(app::WindowMode::Shown);
    Refresh();
}

void TForm1::TrayDoubleClick() {
    if (core_.StartupGrace() || !options_.password || options_.password->current.empty()) {
        RestoreWindow();
        return;
    }
    TPasswordDlg dialog(*options_.password, options_.programFolder, core_.Settings().Language, this);
    dialog.setWindowTitle(
        QString::fromUtf8(config::kEnterPasswordCaption.data(), int(config::kEnterPasswordCaption.size())));
    dialog.Logic().SetMode(config::PasswordDialog::Mode::Unlock);
    if (dialog.exec() == config::PasswordDialog::kUnlocked) RestoreWindow();
}

// ---------------------------------------------------------------------------------------------
// Closing

void TForm1::QuitFromOutside() {
    closeWithoutAsking_ = true;
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!shutDown_ && !closeWithoutAsking_) {
        QMessageBox box(QMessageBox::Question, text_(33), text_(32), QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setObjectName("CloseConfirmation");
        box.setDefaultButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Ok) {
            event->ignore();
            return;
        }
    }
    shutdown_();
    event->accept();
    emit ShutDownDone();
}

void TForm1::shutdown_() {
    if (shutDown_) return;
    shutDown_ = true;
    Timer1->stop();
    if (TrayIcon) TrayIcon->hide();
    closeToolWindows();
    if (options_.beforeShutdown) options_.beforeShutdown();
    core_.Shutdown();
    syncRows_();  // no rows: the grid keeps its header and one empty row
}

}  // namespace kestavo::ui
