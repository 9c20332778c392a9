#include "ui/channel_row_widget.h"

#include "app/app_core.h"

#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <QTableWidgetItem>

#include <cmath>

namespace kestavo::ui {

namespace {

constexpr int kSegments = 50;       // segments of a row's bar
const QColor kGreen(0, 128, 0);     // segments below RedFrom
const QColor kRed(255, 0, 0);       // segments from RedFrom
const QColor kPeak(255, 255, 255);  // the peak marker
const QColor kBackground(0, 0, 0);

// Buttons of a row carry their captions in red.
void paintCaptionRed(QPushButton* b) {
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, Qt::red);
    b->setPalette(p);
}

QString levelText(double dB) { return QString::number(dB, 'f', 2); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TLevelBar

TLevelBar::TLevelBar(QWidget* parent)
    : QWidget(parent), bar_(app::BarRect{0, 0, 300, 15}, app::BarOrientation::Horizontal, kSegments) {
    setObjectName("Bar");
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TLevelBar::Show(const app::tbar& bar) {
    bar_ = bar;
    bar_.Place(app::BarRect{0, 0, width(), height()});
    update();
}

void TLevelBar::resizeEvent(QResizeEvent* event) {
    bar_.Place(app::BarRect{0, 0, event->size().width(), event->size().height()});
    QWidget::resizeEvent(event);
}

void TLevelBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    auto fill = [&](int i, const QColor& c) {
        const app::BarRect& s = bar_.Segment(i);
        p.fillRect(QRect(QPoint(s.left, s.top), QPoint(s.right - 1, s.bottom - 1)), c);
    };
    for (int i = 1; i <= bar_.Lit(); ++i) fill(i, bar_.IsRed(i) ? kRed : kGreen);
    fill(bar_.Peak(), kPeak);
}

// ---------------------------------------------------------------------------------------------
// TKanalRow

TKanalRow::TKanalRow(QTableWidget& grid, int k) : grid_(grid), k_(k) {
    Bar = new TLevelBar;
    ThresholdBar = new QSlider(Qt::Horizontal);
    ThresholdBar->setObjectName("ThresholdBar");
    ThresholdBar->setRange(kSliderMin, kSliderMax);
    ThresholdBar->setValue(0);
    ThresholdBar->setSingleStep(100);  // 1 dB per arrow key
    ThresholdBar->setPageStep(1000);   // 10 dB per page
    RecordButton = new QPushButton(QString::fromUtf8(app::kRecordText));
    RecordButton->setObjectName("RecordButton");
    SettingsButton = new QPushButton(QString::fromUtf8("Установки"));
    SettingsButton->setObjectName("SettingsButton");
    ThresholdButton = new QPushButton(QString::fromUtf8("Порог"));
    ThresholdButton->setObjectName("ThresholdButton");
    AutoBox = new QCheckBox(QString::fromUtf8("АВТО"));
    AutoBox->setObjectName("AutoBox");
    MonitorBox = new QCheckBox(QString::fromUtf8("Контр."));
    MonitorBox->setObjectName("MonitorBox");
    for (QPushButton* b : {RecordButton, SettingsButton, ThresholdButton}) paintCaptionRed(b);
    AutoBox->setAutoFillBackground(true);
    QPalette white = AutoBox->palette();
    white.setColor(QPalette::Window, Qt::white);
    AutoBox->setPalette(white);

    // Every control carries the channel number, as its tag did.
    for (QWidget* w : std::initializer_list<QWidget*>{Bar, ThresholdBar, RecordButton, SettingsButton, ThresholdButton,
                                                      AutoBox, MonitorBox}) {
        w->setProperty("tag", k);
        w->setFocusPolicy(w == Bar ? Qt::NoFocus : Qt::TabFocus);
    }

    connect(RecordButton, &QPushButton::clicked, this, [this] { emit recordClicked(k_); });
    connect(SettingsButton, &QPushButton::clicked, this, [this] { emit settingsClicked(k_); });
    connect(ThresholdButton, &QPushButton::clicked, this, [this] { emit thresholdWindowClicked(k_); });
    connect(AutoBox, &QCheckBox::clicked, this, [this](bool on) { emit autoClicked(k_, on); });
    connect(MonitorBox, &QCheckBox::clicked, this, [this](bool on) { emit monitorClicked(k_, on); });
    connect(ThresholdBar, &QSlider::valueChanged, this, [this](int v) { emit thresholdMoved(k_, v); });

    const int upper = UpperRow(), lower = LowerRow();
    grid_.setCellWidget(upper, 1, Bar);
    grid_.setCellWidget(lower, 1, ThresholdBar);
    grid_.setCellWidget(lower, 3, AutoBox);
    grid_.setCellWidget(lower, 4, RecordButton);
    grid_.setCellWidget(lower, 5, SettingsButton);
    grid_.setCellWidget(lower, 6, ThresholdButton);
    grid_.setCellWidget(upper, 6, MonitorBox);
    setCell_(upper, 0, QString::number(k));
}

TKanalRow::~TKanalRow() {
    // removeCellWidget deletes the widget; a grid already cut shorter has deleted them itself.
    const int upper = UpperRow(), lower = LowerRow();
    if (lower < grid_.rowCount()) {
        for (int c : {1, 3, 4, 5, 6}) grid_.removeCellWidget(lower, c);
        for (int c : {1, 6}) grid_.removeCellWidget(upper, c);
    }
}

void TKanalRow::setCell_(int row, int column, const QString& text) {
    QTableWidgetItem* item = grid_.item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        grid_.setItem(row, column, item);
    }
    if (item->text() != text) item->setText(text);
}

void TKanalRow::SetCaptions(const RowCaptions& c) {
    AutoBox->setText(c.autoBox);
    SettingsButton->setText(c.settings);
    MonitorBox->setText(c.monitor);
    ThresholdButton->setText(c.threshold);
}

void TKanalRow::ShowThreshold(double dB) {
    const QSignalBlocker quiet(ThresholdBar);
    ThresholdBar->setValue(int(std::lround(dB * 100.0)));
    setCell_(LowerRow(), 2, levelText(dB));
}

void TKanalRow::Refresh(const app::Tkanal& row, const std::string& stateText, const std::string& buttonText,
                        bool drawLevels) {
    const int upper = UpperRow();
    if (drawLevels) {
        Bar->Show(row.bar);
        setCell_(upper, 2, levelText(row.level));
    }
    setCell_(upper, 3, QString::fromStdString(row.durationText));
    // The state cell: red while recording, white when idle.
    setCell_(upper, 4, QString::fromStdString(stateText));
    QTableWidgetItem* state = grid_.item(upper, 4);
    const QColor fill = row.Recording() ? QColor(Qt::red) : QColor(Qt::white);
    if (state->background().color() != fill || state->background().style() != Qt::SolidPattern)
        state->setBackground(fill);
    setCell_(upper, 5, QString::fromStdString(row.detectionText));
    const QString caption = QString::fromStdString(buttonText);
    if (RecordButton->text() != caption) RecordButton->setText(caption);
    if (MonitorBox->isChecked() != row.Monitoring()) {
        const QSignalBlocker quiet(MonitorBox);
        MonitorBox->setChecked(row.Monitoring());
    }
    if (AutoBox->isChecked() != row.Settings().autoRecord) {
        const QSignalBlocker quiet(AutoBox);
        AutoBox->setChecked(row.Settings().autoRecord);
    }
}

}  // namespace kestavo::ui
