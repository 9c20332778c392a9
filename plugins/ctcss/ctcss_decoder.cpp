#include "ctcss/ctcss_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/line_rate.h"

namespace kestavo::plugins {

namespace {
constexpr int kDecimation = 10;
constexpr double kRate = double(kestavo::kLineRate) / kDecimation;  // 1102.5 Hz
constexpr double kHold = 0.250 * kRate;                             // 250 ms before a tone is reported
constexpr double kHang = 0.150 * kRate;                             // 150 ms without the tone ends it
constexpr double kPeriodSpread = 0.03;                              // a period within 3 % of the mean
constexpr double kToneTolerance = 0.005;                            // the mean within 0.5 % of a tone
constexpr double kFloor = 5e-6;                                     // band power of a sine at -50 dBFS: (10^-2.5)^2 / 2
constexpr double kShareOfWhole = 0.00316;                           // the band no more than 25 dB below the whole sound
// One-pole averages with about 20 ms memory at each rate.
const double kWideMemory = 1.0 - std::exp(-1.0 / (0.020 * kestavo::kLineRate));
const double kBandMemory = 1.0 - std::exp(-1.0 / (0.020 * kRate));
// The purity averages remember about 100 ms.
const double kSlowMemory = 1.0 - std::exp(-1.0 / (0.100 * kRate));
constexpr double kPurity = 0.08;  // the two frequency measures agree within 8 % in power, 4 % in hertz
}  // namespace

CtcssDecoder::CtcssDecoder() noexcept
    : lp1a_(Biquad::lowPass(300.0, kestavo::kLineRate, Biquad::kQ4a)),
      lp1b_(Biquad::lowPass(300.0, kestavo::kLineRate, Biquad::kQ4b)),
      lp2a_(Biquad::lowPass(270.0, kRate, Biquad::kQ4a)), lp2b_(Biquad::lowPass(270.0, kRate, Biquad::kQ4b)),
      hp_(Biquad::highPass(55.0, kRate, Biquad::kQ2)) {}

void CtcssDecoder::Reset() noexcept { *this = CtcssDecoder(); }

bool CtcssDecoder::Process(double sample) noexcept {
    widePower_ += kWideMemory * (sample * sample - widePower_);
    const double low = lp1b_.Filter(lp1a_.Filter(sample));
    if (++phase_ < kDecimation) return false;
    phase_ = 0;
    now_ += 1.0;
    const double y = hp_.Filter(lp2b_.Filter(lp2a_.Filter(low)));
    bandPower_ += kBandMemory * (y * y - bandPower_);
    slowPower_ += kSlowMemory * (y * y - slowPower_);
    slowDiffPower_ += kSlowMemory * ((y - prev_) * (y - prev_) - slowDiffPower_);
    const bool gate = bandPower_ >= kFloor && bandPower_ >= kShareOfWhole * widePower_;
    if (prev_ < 0.0 && y >= 0.0) {
        const double t = now_ - 1.0 + prev_ / (prev_ - y);  // where the line between the samples crosses zero
        if (gate) {
            crossing(t);
        } else {
            havePrevCrossing_ = false;
            candPeriods_ = 0;
        }
    }
    prev_ = y;
    if (active_ >= 0 && now_ - lastGood_ >= kHang) {
        const int tone = active_;
        active_ = -1;
        candPeriods_ = 0;
        return report(tone, false, (lastGood_ - activeSince_) / kRate + 0.250);
    }
    if (active_ < 0 && candPeriods_ > 0 && prevCrossing_ - candStart_ >= kHold) {
        const double meanHz = candPeriods_ * kRate / (prevCrossing_ - candStart_);
        // A lone sine of angular frequency w has a first difference of mean square 2 (1 - cos w)
        // times its own; harmonics or other notes in the band make that ratio larger.
        const double sineRatio = 2.0 * (1.0 - std::cos(2.0 * std::numbers::pi * meanHz / kRate));
        const double ratio = slowDiffPower_ / std::max(slowPower_, 1e-30);
        if (std::abs(ratio - sineRatio) > kPurity * sineRatio) return false;
        for (int i = 0; i < kToneCount; ++i) {
            const double hz = kTenthsHz[std::size_t(i)] / 10.0;
            if (std::abs(meanHz - hz) <= kToneTolerance * hz) {
                active_ = i;
                activeSince_ = lastGood_ = prevCrossing_;
                return report(i, true, 0.0);
            }
        }
    }
    return false;
}

void CtcssDecoder::crossing(double t) noexcept {
    if (!havePrevCrossing_) {
        havePrevCrossing_ = true;
        prevCrossing_ = t;
        candPeriods_ = 0;
        return;
    }
    const double periodHz = kRate / (t - prevCrossing_);
    if (active_ >= 0) {
        const double hz = kTenthsHz[std::size_t(active_)] / 10.0;
        if (std::abs(periodHz - hz) <= kPeriodSpread * hz) lastGood_ = t;
    } else if (candPeriods_ == 0) {
        candStart_ = prevCrossing_;
        candPeriods_ = 1;
    } else {
        const double meanHz = candPeriods_ * kRate / (prevCrossing_ - candStart_);
        if (std::abs(periodHz - meanHz) <= kPeriodSpread * meanHz) {
            ++candPeriods_;
        } else {
            candStart_ = prevCrossing_;
            candPeriods_ = 1;
        }
    }
    prevCrossing_ = t;
}

bool CtcssDecoder::report(int tone, bool started, double heldSeconds) noexcept {
    const int tenths = kTenthsHz[std::size_t(tone)];
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d", tenths / 10, tenths % 10);
    setText(result_.identifier, text);
    if (started) {
        setText(result_.extra, "tone on");
    } else {
        std::snprintf(text, sizeof text, "tone off after %.1f s", heldSeconds);
        setText(result_.extra, text);
    }
    result_.action = started ? 1 : 0;
    return true;
}

}  // namespace kestavo::plugins
