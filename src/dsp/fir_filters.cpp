#include "dsp/fir_filters.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestavo::dsp {

Tfir::Tfir(int kind, int taps, double edge1, double edge2, double /*edge3*/, double /*edge4*/)
    : kind_(kind), taps_(std::clamp(taps, 1, kMaxTaps) | 1), edge1_(edge1 * 0.5), edge2_(edge2 * 0.5) {
    constexpr double pi = std::numbers::pi;
    const int h = (taps_ - 1) / 2;
    half_.assign(std::size_t(h) + 1, 0.0);
    coefficients_.assign(std::size_t(taps_), 0.0);
    if (kind_ != kLowPass && kind_ != kHighPass) return;
    const double sign = kind_ == kHighPass ? -1.0 : 1.0;
    half_[0] = kind_ == kHighPass ? 1.0 - (edge1_ + edge2_) : edge1_ + edge2_;
    for (int n = 1; n <= h; ++n) {
        const double dn = double(n);
        double v;
        if (edge2_ != edge1_) {
            v = (std::cos(2.0 * pi * dn * edge1_) - std::cos(2.0 * pi * dn * edge2_)) /
                (pi * pi * (dn * dn) * (edge2_ - edge1_)) * 0.5;
        } else {
            // A transition band of width zero: the limit of the trapezoid is the ideal edge.
            v = std::sin(2.0 * pi * dn * edge1_) / (pi * dn);
        }
        half_[n] = sign * v;
    }
    for (int i = 0; i <= h; ++i) coefficients_[h + i] = coefficients_[h - i] = half_[i];
}

TLPF::TLPF(int order, int sampleRateHz, int cutoffHz) {
    order = std::clamp(order, 0, Tfir::kMaxTaps - 1);
    const double nyquist = double(sampleRateHz) * 0.5;
    const double a = double(cutoffHz) / nyquist;
    const double b = double(cutoffHz + 50) / nyquist;
    const Tfir designer(Tfir::kHighPass, order + 1, a, b, 0.0, 0.0);
    coefficients_ = designer.Coefficients();
    taps_ = int(coefficients_.size());
    delay_.assign(std::size_t(2 * taps_), 0.0);
}

void TLPF::Reset() noexcept {
    std::fill(delay_.begin(), delay_.end(), 0.0);
    pos_ = 0;
}

}  // namespace kestavo::dsp
