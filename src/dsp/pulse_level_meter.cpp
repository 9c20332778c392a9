#include "dsp/pulse_level_meter.h"

#include <cmath>

namespace kestavo::dsp::lm_p {

float TlevelMeter::Process(float x) noexcept {
    const float a = std::fabs(x);
    coef_ = a >= envelope_ ? kAttackCoef : kReleaseCoef;
    gain_ = 1.0f - coef_;
    envelope_ = gain_ * a + coef_ * envelope_;
    if (++sampleCount_ != kBlockLength) return kNoValue;
    sampleCount_ = 0;
    return envelope_;
}

void TlevelMeter::Reset() noexcept {
    envelope_ = coef_ = gain_ = 0.0f;
    sampleCount_ = 0;
}

}  // namespace kestavo::dsp::lm_p
