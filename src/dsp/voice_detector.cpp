#include "dsp/voice_detector.h"

#include <algorithm>
#include <cmath>

#include "platform/line_rate.h"

namespace kestavo::dsp {

namespace {
constexpr double kTinyPart = 1e-8;  // a bin with a smaller real or imaginary part counts as empty
constexpr double kEmptyPower = 1e-9;
constexpr int kFirstBin = 6;  // bins below 258 Hz are not used
constexpr int kLastBin = 127;
constexpr int kLowEnd = 31;  // low band 6 ... 31 (258 ... 1335 Hz)
constexpr int kBassEnd = 8;  // bass 6 ... 8 (258 ... 344 Hz)
constexpr double kMinPeakPower = 8e-06;
constexpr double kInvBins = 0.008264462809917356;  // 1 / 121
constexpr int kGroup = 5;                          // frames per group decision (29 ms)
constexpr double kInvGroup = 0.2;
constexpr double kMinFlatness = 0.016;
constexpr double kMaxFlatness = 0.04;
constexpr int kMaxPeakBin = 31;  // 1335 Hz
constexpr double kMinLowOverHigh = 0.2;
constexpr double kMaxLowOverHigh = 9.0;
constexpr double kMaxBassOverMid = 0.12;
constexpr int kStartDecisions = 2;  // positive group decisions per start signal
constexpr int kClearAfter = 512;    // frames (3 s) without a positive decision clear the counts
// Limit = stop delay x 43.06640625 (11025 / 256, the bin spacing in Hz) x 10 frames; a frame is 64
// samples, so Limit frames last 430.66 x 64 / 11025 = 2.5 x the stop delay in seconds.
constexpr double kBinHz = double(kLineRate) / 256.0;
constexpr double kHangScale = 10.0;
constexpr double kMaxStopSeconds = 1e6;  // keeps Limit inside an int
}  // namespace

TVOX::TVOX() = default;

void TVOX::SetStopTime(double seconds) noexcept {
    if (std::isnan(seconds) || seconds < 0.0) seconds = 0.0;
    stopSeconds_ = std::min(seconds, kMaxStopSeconds);
    limit_ = int(std::nearbyint(stopSeconds_ * kBinHz * kHangScale));
}

void TVOX::Reset() noexcept {
    analyzer_.Reset();
    power_.fill(0.0);
    peakHistory_.fill(0);
    flatnessSum_ = 0.0;
    groupFrames_ = 0;
    active_ = false;
    positiveCount_ = speechCount_ = hangFrames_ = idleFrames_ = 0;
}

TriggerDecision TVOX::Process(double x) noexcept {
    if (!analyzer_.AddSample(x)) return kNoDecision;
    for (int b = 0; b <= kLastBin; ++b) {
        const double re = analyzer_.Re(b);
        const double im = analyzer_.Im(b);
        power_[b] = std::fabs(re) < kTinyPart || std::fabs(im) < kTinyPart ? kEmptyPower : re * re + im * im;
    }
    if (groupDecision()) {
        if (++positiveCount_ >= kStartDecisions) {
            positiveCount_ = 0;
            active_ = true;
            ++speechCount_;
            return kStartRecording;
        }
        return kNoDecision;
    }
    if (active_ && ++hangFrames_ >= limit_) {
        hangFrames_ = 0;
        if (speechCount_ == 0) {
            active_ = false;
            return kStopRecording;
        }
    }
    if (++idleFrames_ > kClearAfter) {
        idleFrames_ = 0;
        positiveCount_ = 0;
        speechCount_ = 0;
    }
    return kNoDecision;
}

bool TVOX::groupDecision() noexcept {
    double maxP = power_[kFirstBin];
    for (int b = kFirstBin + 1; b <= kLastBin; ++b) maxP = std::max(maxP, power_[b]);
    if (maxP < kMinPeakPower) return false;

    for (int b = kFirstBin; b <= kLastBin; ++b) power_[b] = power_[b] / maxP;
    double total = 0.0, low = 0.0, high = 0.0, bass = 0.0, mid = 0.0;
    for (int b = kFirstBin; b <= kLastBin; ++b) total += power_[b];
    for (int b = kFirstBin; b <= kLowEnd; ++b) low += power_[b];
    for (int b = kLowEnd + 1; b <= kLastBin; ++b) high += power_[b];
    for (int b = kFirstBin; b <= kBassEnd; ++b) bass += power_[b];
    for (int b = kBassEnd + 1; b <= kLowEnd; ++b) mid += power_[b];
    int peak = kFirstBin;
    for (int b = kFirstBin + 1; b <= kLastBin; ++b)
        if (power_[b] > power_[peak]) peak = b;

    const double flatness = total * kInvBins;
    std::copy_backward(peakHistory_.begin(), peakHistory_.end() - 1, peakHistory_.end());
    peakHistory_[0] = peak;

    flatnessSum_ += flatness;
    if (++groupFrames_ != kGroup) return false;

    const double meanFlatness = flatnessSum_ * kInvGroup;
    const double r1 = high == 0.0 ? low : low / high;
    const double r2 = mid == 0.0 ? bass : bass / mid;
    const bool decision = meanFlatness > kMinFlatness && meanFlatness < kMaxFlatness && peak != peakHistory_[5] &&
        peak < kMaxPeakBin && r1 > kMinLowOverHigh && r1 < kMaxLowOverHigh && r2 < kMaxBassOverMid;
    if (decision) idleFrames_ = 0;
    groupFrames_ = 0;
    flatnessSum_ = 0.0;
    return decision;
}

}  // namespace kestavo::dsp
