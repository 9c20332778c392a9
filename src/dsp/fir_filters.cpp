#include "dsp/fir_filters.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestavo::dsp {

Tfir::Tfir(Kind kind, int taps, double edge1, double edge2) {
    constexpr double pi = std::numbers::pi;
    taps = std::clamp(taps, 1, kMaxTaps) | 1;
    const double e1 = edge1 * 0.5;  // cycles per sample
    const double e2 = edge2 * 0.5;
    const int h = (taps - 1) / 2;
    std::vector<double> half(std::size_t(h) + 1, 0.0);  // one-sided response h[0 ... h]
    coefficients_.assign(std::size_t(taps), 0.0);
    const double sign = kind == Kind::HighPass ? -1.0 : 1.0;
    half[0] = kind == Kind::HighPass ? 1.0 - (e1 + e2) : e1 + e2;
    for (int n = 1; n <= h; ++n) {
        const double dn = double(n);
        double v;
        if (e2 != e1) {
            v = (std::cos(2.0 * pi * dn * e1) - std::cos(2.0 * pi * dn * e2)) / (pi * pi * (dn * dn) * (e2 - e1)) * 0.5;
        } else {
            // A transition band of width zero: the limit of the trapezoid is the ideal edge.
            v = std::sin(2.0 * pi * dn * e1) / (pi * dn);
        }
        half[std::size_t(n)] = sign * v;
    }
    for (int i = 0; i <= h; ++i)
        coefficients_[std::size_t(h + i)] = coefficients_[std::size_t(h - i)] = half[std::size_t(i)];
}

TLPF::TLPF(int order, int sampleRateHz, int cutoffHz) {
    order = std::clamp(order, 0, Tfir::kMaxTaps - 1);
    const double nyquist = double(sampleRateHz) * 0.5;
    const double a = double(cutoffHz) / nyquist;
    const double b = double(cutoffHz + 50) / nyquist;
    const Tfir designer(Tfir::Kind::HighPass, order + 1, a, b);
    coefficients_ = designer.Coefficients();
    taps_ = int(coefficients_.size());
    delay_.assign(std::size_t(2 * taps_), 0.0);
}

void TLPF::Reset() noexcept {
    std::fill(delay_.begin(), delay_.end(), 0.0);
    pos_ = 0;
}

}  // namespace kestavo::dsp
