#include "dsp/gain_control.h"

namespace kestavo::dsp {

double Tv_agc::Process(double x) noexcept {
    const double envelope = follower_.Process(x);
    if (envelope > kFloor) {
        agcGain_ = kTarget / envelope;
        return agcGain_ * x;
    }
    return x;
}

void Tv_agc::Reset() noexcept {
    agcGain_ = 1.0;
    follower_.Reset();
}

}  // namespace kestavo::dsp
