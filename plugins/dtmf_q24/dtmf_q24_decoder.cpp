#include "dtmf_q24/dtmf_q24_decoder.h"

#include <cmath>
#include <numbers>

#include "platform/line_rate.h"

namespace kestavo::plugins {

namespace {
constexpr int kSub = 70;           // samples per sub-block: 6.35 ms at 11025 Hz
constexpr int kWindow = 2 * kSub;  // samples per window: 12.7 ms
constexpr double kRate = kestavo::kLineRate;
constexpr double kRelativeLimit = 0.025;  // offset limit: 2.5 % of the nominal frequency ...
constexpr double kAbsoluteLimit = 1.0;    // ... plus 1 Hz
constexpr double kFloor = 7.9e-6;         // power of a sine at -48 dBFS: (10^-2.4)^2 / 2
constexpr double kTwistLow = 0.0794;      // high group 11 dB below the low group: 10^-1.1
constexpr double kTwistHigh = 5.012;      // ... to 7 dB above: 10^0.7
constexpr double kShare = 0.80;           // the pair's share of the window's energy
constexpr int kWindowsForKey = 4;
constexpr int kWindowsToEnd = 3;                              // a drop of a few milliseconds does not split a key
constexpr int kQuietWindowsForBurst = int(kRate / kSub) + 1;  // 1 s of 6.35 ms windows
constexpr char kKeys[4][5] = {"123A", "456B", "789C", "*0#D"};
}  // namespace

DtmfQ24Decoder::DtmfQ24Decoder() noexcept {
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        const double w = 2.0 * std::numbers::pi * kToneHz[i] / kRate;
        bins_[i].coef = 2.0 * std::cos(w);
        bins_[i].toBlockStart = std::polar(1.0, -w * (kSub - 1));
        bins_[i].oneStep = std::polar(1.0, -w);
        bins_[i].hop = std::polar(1.0, -w * kSub);
    }
}

void DtmfQ24Decoder::Reset() noexcept { *this = DtmfQ24Decoder(); }

bool DtmfQ24Decoder::Process(double sample) noexcept {
    for (Bin& b : bins_) {
        const double s0 = b.coef * b.s1 - b.s2 + sample;
        b.s2 = b.s1;
        b.s1 = s0;
    }
    subEnergy_ += sample * sample;
    if (++inSub_ < kSub) return false;
    inSub_ = 0;

    const char key = window();
    if (key != 0 && key == candidate_) {
        ++candidateWindows_;
    } else {
        candidate_ = key;
        candidateWindows_ = key ? 1 : 0;
    }
    if (digit_ != 0) {
        missedWindows_ = key == digit_ ? 0 : missedWindows_ + 1;
        if (missedWindows_ >= kWindowsToEnd) {
            digit_ = 0;
            quietWindows_ = 0;
        }
    }
    if (digit_ == 0 && candidateWindows_ >= kWindowsForKey) {
        digit_ = candidate_;
        missedWindows_ = 0;
        if (burstLength_ < DecoderResult::kMaxChars) burst_[burstLength_++] = digit_;
        burst_[burstLength_] = 0;
    }
    if (digit_ == 0 && burstLength_ > 0 && ++quietWindows_ >= kQuietWindowsForBurst) {
        setText(result_.identifier, burst_);
        setText(result_.extra, "");
        result_.action = 1;
        burstLength_ = 0;
        burst_[0] = 0;
        return true;
    }
    return false;
}

char DtmfQ24Decoder::window() noexcept {
    std::array<double, 8> power{}, offset{};
    for (std::size_t i = 0; i < bins_.size(); ++i) {
        Bin& b = bins_[i];
        const std::complex<double> sub = b.toBlockStart * (b.s1 - b.oneStep * b.s2);
        const std::complex<double> whole = b.previousSub + b.hop * sub;
        // The turn between this window and the previous one, less what the nominal frequency turns.
        const double turn = std::arg(whole * std::conj(b.previousWindow) * b.hop);
        offset[i] = turn * kRate / (2.0 * std::numbers::pi * kSub);
        power[i] = 2.0 * std::norm(whole) / (double(kWindow) * kWindow);
        b.previousSub = sub;
        b.previousWindow = whole;
        b.s1 = b.s2 = 0.0;
    }
    const double energy = (previousSubEnergy_ + subEnergy_) / kWindow;  // mean square of the window
    previousSubEnergy_ = subEnergy_;
    subEnergy_ = 0.0;
    const bool valid = haveWindow_;
    haveWindow_ = true;
    if (!valid) return 0;

    std::size_t row = 0, column = 4;
    for (std::size_t i = 1; i < 4; ++i)
        if (power[i] > power[row]) row = i;
    for (std::size_t i = 5; i < 8; ++i)
        if (power[i] > power[column]) column = i;
    // A tone off its filter's centre by d loses sinc^2(d T) of its power in a window of T seconds.
    auto corrected = [&](std::size_t i) {
        const double x = std::numbers::pi * offset[i] * kWindow / kRate;
        const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(x) / x;
        return power[i] / (sinc * sinc);
    };
    for (const std::size_t i : {row, column})
        if (std::abs(offset[i]) > kRelativeLimit * kToneHz[i] + kAbsoluteLimit) return 0;
    const double low = corrected(row), high = corrected(column);
    if (low < kFloor || high < kFloor) return 0;
    if (high < kTwistLow * low || high > kTwistHigh * low) return 0;
    if (low + high < kShare * energy) return 0;
    return kKeys[row][column - 4];
}

}  // namespace kestavo::plugins
