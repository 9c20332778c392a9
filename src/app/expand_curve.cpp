#include "app/expand_curve.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestavo::app {

namespace {

constexpr double kInputEnd = 1.5;     // the curve runs over inputs 0 .. 1.5
constexpr double kInputStep = 0.001;  // per point
constexpr double kOutputRange = 3.0;  // the box's height stands for outputs 0 .. 3

std::string fixed(double value, int decimals) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buffer, end);
}

}  // namespace

ExpandCurve::ExpandCurve(AppCore& core) : core_(core) { ++instances_; }

ExpandCurve::~ExpandCurve() { --instances_; }

bool ExpandCurve::Prepare(int k) {
    k_ = k;
    const Tkanal* row = core_.Row(k);
    if (row == nullptr) return false;
    const bool russian = core_.Settings().Language == "Russian";
    caption_ = (russian ? "Настройка канала " : "Channel settings ") + std::to_string(k);
    group_ = russian ? "Установка значений коэффициентов К1 и К2" : "Coefficients K1 and K2";
    k1_ = std::clamp(int(std::lround(row->Settings().k1 * 100.0)), kK1Min, kK1Max);
    k2_ = std::clamp(int(std::lround(row->Settings().k2 * 10.0)), kK2Min, kK2Max);
    return true;
}

std::string ExpandCurve::K1Text() const { return "K1=" + fixed(k1_ * 0.01, 2); }
std::string ExpandCurve::K2Text() const { return "K2=" + fixed(k2_ * 0.1, 2); }

void ExpandCurve::keep_() {
    Tkanal* row = core_.Row(k_);
    if (row == nullptr || row->Channel() == nullptr) return;
    config::ChannelSettings s = row->Settings();
    s.k1 = k1_ * 0.01;
    s.k2 = k2_ * 0.1;
    row->Channel()->SetK1(s.k1);
    row->Channel()->SetK2(s.k2);
    row->KeepSettings(s);
}

void ExpandCurve::K1Moved(int position) {
    k1_ = std::clamp(position, kK1Min, kK1Max);
    keep_();
}

void ExpandCurve::K2Moved(int position) {
    k2_ = std::clamp(position, kK2Min, kK2Max);
    keep_();
}

ExpandPicture ExpandCurve::Draw() const {
    ExpandPicture p;
    p.width = kBoxWidth;
    p.height = kBoxHeight;
    const double scaleX = kBoxWidth;                  // px per input 1.0
    const double scaleY = kBoxHeight / kOutputRange;  // px per output 1.0
    const int bottom = kBoxHeight;
    const double k1 = k1_ * 0.01, k2 = k2_ * 0.1;
    const auto out = [&](double x) { return k1 * (1.0 - std::exp(-k2 * x)); };
    p.curve.push_back({0, bottom});
    const int steps = int(std::lround(kInputEnd / kInputStep));
    for (int i = 0; i <= steps; ++i) {
        const double x = i * kInputStep;
        p.curve.push_back({int(std::lround(x * scaleX)), bottom - int(std::lround(out(x) * scaleY))});
    }
    p.outputTwoY = int(std::lround(scaleY));  // output 2.0: one unit below the top
    if (const Tkanal* row = core_.Row(k_)) {
        const double a = std::pow(10.0, row->level * 0.05);
        if (std::isfinite(a) && std::isfinite(out(a))) {
            const int ax = int(std::lround(a * scaleX));
            const int oy = bottom - int(std::lround(out(a) * scaleY));
            p.current = CurrentPoint{{0, bottom - kBarThickness, ax, bottom}, {0, oy, kBarThickness, bottom}, {ax, oy}};
        }
    }
    return p;
}

}  // namespace kestavo::app
