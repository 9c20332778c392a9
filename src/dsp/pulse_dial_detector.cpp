#include "dsp/pulse_dial_detector.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/line_rate.h"

namespace kestavo::dsp {

namespace {
constexpr int kOrder = 14;  // 15 taps
constexpr int kCutoffHz = 3400;
constexpr int kMinBreak = 60;     // steps: 54.4 ms
constexpr int kMaxBreak = 75;     // steps: 68.0 ms
constexpr int kDigitEnd = 100;    // steps without a click that close a digit (91 ms)
constexpr int kNumberEnd = 4000;  // steps after the last pulse that close a number (3.63 s)
}  // namespace

TPulse_detector::TPulse_detector() : highPass_(kOrder, kLineRate, kCutoffHz) {}

void TPulse_detector::SetThreshold(double threshold) noexcept {
    if (std::isnan(threshold)) return;
    threshold_ = threshold < 0.0 ? 0.0 : threshold;
}

void TPulse_detector::Reset() noexcept {
    highPass_.Reset();
    meter_.Reset();
    current_ = previous_ = 0.0;
    sinceClick_ = kDigitEnd;
    pulseCount_ = 0;
    idleSteps_ = 0;
    digitsLength_ = 0;
    numberLength_ = 0;
}

std::string_view TPulse_detector::Process(double x) noexcept {
    numberLength_ = 0;
    const double y = highPass_.Filter(x);
    const float e = meter_.Process(static_cast<float>(y));
    if (e != TPulseLevelMeter::kNoValue) step(e);
    return {number_.data(), std::size_t(numberLength_)};
}

void TPulse_detector::step(double e) noexcept {
    previous_ = current_;
    current_ = e;
    if (current_ - previous_ > threshold_) {
        if (sinceClick_ >= kMinBreak && sinceClick_ <= kMaxBreak) {
            ++pulseCount_;
            idleSteps_ = 0;
        }
        sinceClick_ = 0;
    } else if (++sinceClick_ > kDigitEnd) {
        if (pulseCount_ > 0) appendCount(pulseCount_);
        pulseCount_ = 0;
        sinceClick_ = kDigitEnd;
    }
    if (++idleSteps_ > kNumberEnd) {
        if (digitsLength_ > 0) {
            if (digitsLength_ >= 2) {
                std::copy_n(digits_.begin(), digitsLength_, number_.begin());
                numberLength_ = digitsLength_;
            }
            digitsLength_ = 0;
            idleSteps_ = 0;
        } else {
            // Nothing to hand over: hold the count instead of letting it run for weeks into overflow.
            // Any pulse sets it to 0 before a digit can be appended, so holding changes no outcome.
            idleSteps_ = kNumberEnd + 1;
        }
    }
}

void TPulse_detector::appendCount(int pulses) noexcept {
    char text[12];
    const int n = pulses == 10 ? 1 : int(std::to_chars(text, text + sizeof text, pulses).ptr - text);
    if (pulses == 10) text[0] = '0';
    if (digitsLength_ + n > kMaxDigits) return;
    std::copy_n(text, n, digits_.begin() + digitsLength_);
    digitsLength_ += n;
}

}  // namespace kestavo::dsp
