#include "ui/expand_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace kestavo::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }
QRect qrect(const app::PixelRect& r) { return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1)); }

}  // namespace

TExpandform::TExpandform(app::AppCore& core, QWidget* parent) : QWidget(parent, Qt::Window), core_(core) {
    setObjectName("Expandform");
    setAttribute(Qt::WA_DeleteOnClose);
    GroupBox1 = new QGroupBox;
    GroupBox1->setObjectName("GroupBox1");
    lb = new TPaintBox(app::ExpandCurve::kBoxWidth, app::ExpandCurve::kBoxHeight);
    lb->setObjectName("lb");
    auto slider = [](const char* name, int min, int max) {
        auto* s = new QSlider(Qt::Horizontal);
        s->setObjectName(name);
        s->setRange(min, max);
        s->setTickPosition(QSlider::TicksBelow);
        s->setTickInterval(5);
        return s;
    };
    TrackBar1 = slider("TrackBar1", app::ExpandCurve::kK1Min, app::ExpandCurve::kK1Max);
    TrackBar2 = slider("TrackBar2", app::ExpandCurve::kK2Min, app::ExpandCurve::kK2Max);
    Label1 = new QLabel;
    Label1->setObjectName("Label1");
    Label2 = new QLabel;
    Label2->setObjectName("Label2");
    // Room for the widest value, so the sliders keep their place.
    for (QLabel* l : {Label1, Label2}) l->setMinimumWidth(l->fontMetrics().horizontalAdvance("K1=30.00") + 8);

    auto* box = new QVBoxLayout(GroupBox1);
    box->addWidget(lb);
    auto* sliders = new QGridLayout;
    sliders->addWidget(TrackBar1, 0, 0);
    sliders->addWidget(Label1, 0, 1);
    sliders->addWidget(TrackBar2, 1, 0);
    sliders->addWidget(Label2, 1, 1);
    auto* main = new QVBoxLayout(this);
    main->addWidget(GroupBox1);
    main->addLayout(sliders);
    main->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(app::ExpandCurve::kTimerMs);
    connect(Timer1, &QTimer::timeout, this, &TExpandform::Timer1Timer);
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        model_->K1Moved(position);
        Label1->setText(qs(model_->K1Text()));
        emit coefficientsChanged(model_->ChannelNumber());
        draw_();
    });
    connect(TrackBar2, &QSlider::valueChanged, this, [this](int position) {
        if (!model_) return;
        model_->K2Moved(position);
        Label2->setText(qs(model_->K2Text()));
        emit coefficientsChanged(model_->ChannelNumber());
        draw_();
    });
    bitmap_ = QImage(app::ExpandCurve::kBoxWidth, app::ExpandCurve::kBoxHeight, QImage::Format_RGB32);
}

TExpandform::~TExpandform() = default;

bool TExpandform::Prepare(int k) {
    if (!model_) model_ = std::make_unique<app::ExpandCurve>(core_);
    if (!model_->Prepare(k)) return false;
    setWindowTitle(qs(model_->Caption()));
    GroupBox1->setTitle(qs(model_->GroupTitle()));
    {
        const QSignalBlocker quiet1(TrackBar1), quiet2(TrackBar2);
        TrackBar1->setValue(model_->K1Position());
        TrackBar2->setValue(model_->K2Position());
    }
    Label1->setText(qs(model_->K1Text()));
    Label2->setText(qs(model_->K2Text()));
    draw_();
    Timer1->start();
    return true;
}

void TExpandform::Timer1Timer() { draw_(); }

void TExpandform::draw_() {
    if (!model_) return;
    const app::ExpandPicture picture = model_->Draw();
    bitmap_.fill(Qt::white);
    QPainter p(&bitmap_);
    p.setPen(Qt::black);
    std::vector<QPoint> points;
    points.reserve(picture.curve.size());
    for (const app::PixelPoint& pt : picture.curve) points.emplace_back(pt.x, pt.y);
    p.drawPolyline(points.data(), int(points.size()));
    if (const auto& c = picture.current) {
        p.fillRect(qrect(c->input), Qt::red);
        p.fillRect(qrect(c->output), Qt::red);
        p.setPen(Qt::red);
        p.setBrush(Qt::red);
        const int d = app::ExpandCurve::kDotDiameter;
        p.drawEllipse(c->centre.x - d / 2, c->centre.y - d / 2, d, d);
    }
    p.setPen(Qt::black);
    p.drawLine(0, picture.outputTwoY, picture.width, picture.outputTwoY);
    p.end();
    lb->Show(bitmap_);
}

void TExpandform::closeEvent(QCloseEvent* event) {
    Timer1->stop();
    model_.reset();  // no K1/K2 window exists from now on
    event->accept();
}

}  // namespace kestavo::ui
