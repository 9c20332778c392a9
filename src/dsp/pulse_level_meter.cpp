#include "dsp/pulse_level_meter.h"

namespace kestavo::dsp {

float TPulseLevelMeter::Process(float x) noexcept {
    const float envelope = follower_.Process(x);
    if (++sampleCount_ != kBlockLength) return kNoValue;
    sampleCount_ = 0;
    return envelope;
}

void TPulseLevelMeter::Reset() noexcept {
    follower_.Reset();
    sampleCount_ = 0;
}

}  // namespace kestavo::dsp
