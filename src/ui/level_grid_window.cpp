#include "ui/level_grid_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace kestavo::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

void drawLines(QPainter& p, const std::vector<app::PixelLine>& lines) {
    for (const app::PixelLine& l : lines) p.drawLine(l.x0, l.y0, l.x1, l.y1);
}

}  // namespace

TPaintBox::TPaintBox(int width, int height, QWidget* parent) : QWidget(parent) {
    setFixedSize(width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::Show(const QImage& image) {
    image_ = image;
    update();
}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (image_.isNull())
        p.fillRect(rect(), Qt::white);
    else
        p.drawImage(0, 0, image_);
}

Tlevel_grid::Tlevel_grid(app::AppCore& core, QWidget* parent) : QWidget(parent, Qt::Window), core_(core) {
    setObjectName("level_grid");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(name);
        return w;
    };
    GroupBox1 = static_cast<QGroupBox*>(named(new QGroupBox, "GroupBox1"));
    LB = static_cast<TPaintBox*>(named(new TPaintBox(app::LevelGrid::kGraphWidth, app::LevelGrid::kGraphHeight), "LB"));
    Label4 = static_cast<QLabel*>(named(new QLabel, "Label4"));
    Label3 = static_cast<QLabel*>(named(new QLabel, "Label3"));
    Trackbar = static_cast<QSlider*>(named(new QSlider(Qt::Vertical), "Trackbar"));
    Trackbar->setRange(app::LevelGrid::kVolumeSliderMin, app::LevelGrid::kVolumeSliderMax);
    Trackbar->setTickInterval(1000);
    Trackbar->setPageStep(1000);
    Trackbar->setInvertedAppearance(true);  // minus the volume: a louder line sits higher
    Label5 = static_cast<QLabel*>(named(new QLabel, "Label5"));
    ComboBox1 = static_cast<QComboBox*>(named(new QComboBox, "ComboBox1"));
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    CheckBox1 = static_cast<QCheckBox*>(named(new QCheckBox, "CheckBox1"));
    NoMixer = static_cast<QLabel*>(named(new QLabel, "NoMixer"));
    Label1 = static_cast<QLabel*>(named(new QLabel, "Label1"));
    Label2 = static_cast<QLabel*>(named(new QLabel, "Label2"));
    porog_rul = static_cast<QSlider*>(named(new QSlider(Qt::Horizontal), "porog_rul"));
    porog_rul->setTickPosition(QSlider::TicksBelow);
    porog_rul->setTickInterval(50);
    porog_rul->setPageStep(10);

    auto* graph = new QHBoxLayout(GroupBox1);
    graph->addWidget(LB, 0, Qt::AlignTop);
    auto* scale = new QVBoxLayout;
    scale->addWidget(Label4);
    scale->addStretch(1);
    scale->addWidget(Label3);
    graph->addLayout(scale);
    graph->addWidget(Trackbar);
    auto* line = new QHBoxLayout;
    line->addWidget(Label5);
    line->addWidget(ComboBox1, 1);
    line->addWidget(CheckBox1);
    auto* value = new QHBoxLayout;
    value->addWidget(Label1);
    value->addWidget(Label2, 1);
    auto* main = new QVBoxLayout(this);
    main->addWidget(GroupBox1);
    main->addLayout(line);
    main->addWidget(NoMixer);
    main->addLayout(value);
    main->addWidget(porog_rul);
    main->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(app::LevelGrid::kTimerMs);
    connect(Timer1, &QTimer::timeout, this, &Tlevel_grid::Timer1Timer);

    connect(porog_rul, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        model_->SliderMoved(position);
        Label2->setText(qs(model_->ValueText()));
        if (model_->Mode() == app::LevelGridMode::Level)
            emit thresholdChanged(model_->ChannelNumber(), model_->Threshold());
        draw_();
    });
    connect(ComboBox1, &QComboBox::activated, this, [this](int index) {
        if (!model_) return;
        model_->SelectLine(index);
        showMixer_();
    });
    connect(Trackbar, &QSlider::valueChanged, this, [this](int position) {
        if (model_) model_->VolumeMoved(position);
    });
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool on) {
        if (model_) model_->SwitchClicked(on);
    });
    bitmap_ = QImage(app::LevelGrid::kGraphWidth, app::LevelGrid::kGraphHeight, QImage::Format_RGB32);
}

Tlevel_grid::~Tlevel_grid() = default;

bool Tlevel_grid::Prepare(int k, app::LevelGridMode mode, std::unique_ptr<platform::SoundMixer> mixer) {
    if (!model_) model_ = std::make_unique<app::LevelGrid>(core_);
    if (!model_->Prepare(k, mode, std::move(mixer))) return false;
    const app::LevelGridTexts& t = model_->Texts();
    setWindowTitle(qs(t.caption));
    GroupBox1->setTitle(qs(t.group));
    Label5->setText(qs(t.mixerLine));
    Label1->setText(qs(t.threshold));
    CheckBox1->setText(qs(t.lineOn));
    Label4->setText(qs(t.top));
    Label3->setText(qs(t.bottom));
    NoMixer->setText(qs(t.noMixer));
    {
        const QSignalBlocker quiet(porog_rul);
        porog_rul->setRange(model_->SliderMin(), model_->SliderMax());
        porog_rul->setValue(model_->SliderPosition());
    }
    Label2->setText(qs(model_->ValueText()));
    {
        const QSignalBlocker quiet(ComboBox1);
        ComboBox1->clear();
        for (const std::string& name : model_->MixerLines()) ComboBox1->addItem(qs(name));
    }
    shownRevision_ = -1;
    showMixer_();
    draw_();
    Timer1->start();
    return true;
}

void Tlevel_grid::showMixer_() {
    if (!model_ || shownRevision_ == model_->MixerRevision()) return;
    shownRevision_ = model_->MixerRevision();
    const bool mixer = model_->HasMixer();
    for (QWidget* w : std::initializer_list<QWidget*>{Label5, ComboBox1, CheckBox1}) w->setVisible(mixer);
    NoMixer->setVisible(!mixer);
    Trackbar->setVisible(mixer && model_->VolumeShown());
    const QSignalBlocker quietLine(ComboBox1), quietVolume(Trackbar), quietSwitch(CheckBox1);
    ComboBox1->setCurrentIndex(model_->SelectedLine());
    Trackbar->setValue(model_->VolumePosition());
    CheckBox1->setChecked(model_->LineOn());
}

void Tlevel_grid::Timer1Timer() {
    if (!model_) return;
    model_->Poll();
    showMixer_();
    draw_();
}

void Tlevel_grid::draw_() {
    if (!model_) return;
    const app::LevelGridPicture picture = model_->Draw();
    bitmap_.fill(Qt::white);
    QPainter p(&bitmap_);
    p.setPen(Qt::blue);
    drawLines(p, picture.history);
    p.setPen(Qt::red);
    drawLines(p, {picture.threshold});
    p.setPen(Qt::gray);
    drawLines(p, picture.grid);
    p.end();
    LB->Show(bitmap_);
}

void Tlevel_grid::closeEvent(QCloseEvent* event) {
    Timer1->stop();
    model_.reset();  // no threshold window exists from now on
    event->accept();
}

}  // namespace kestavo::ui
