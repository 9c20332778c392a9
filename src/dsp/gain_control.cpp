#include "dsp/gain_control.h"

#include <cmath>

namespace kestavo::dsp {

double Tv_agc::Process(double x) noexcept {
    const double a = std::fabs(x);
    coef_ = a >= envelope_ ? kAttackCoef : kReleaseCoef;
    gain_ = 1.0 - coef_;
    envelope_ = gain_ * a + coef_ * envelope_;
    if (envelope_ > kFloor) {
        agcGain_ = kTarget / envelope_;
        return agcGain_ * x;
    }
    return x;
}

void Tv_agc::Reset() noexcept {
    agcGain_ = 1.0;
    envelope_ = coef_ = gain_ = 0.0;
}

}  // namespace kestavo::dsp
