#include "dsp/DTMF.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestavo::dsp {

namespace {
// Row and column frequencies, then their second harmonics (index k + 8 is the harmonic of k).
constexpr double kHz[T_DTMF::kFreqs] = {697,  770,  852,  941,  1209, 1336, 1477, 1633,
                                        1394, 1540, 1704, 1882, 2418, 2672, 2954, 3266};
constexpr double kInvRate = 9.070294784580499e-05;      // 1 / 11025 Hz
constexpr double kInvWindowSpan = 0.0035335689045936395;  // 1 / 283: Hamming over 284 samples
constexpr double kMinTone = 0.0001;        // smallest power of a row or column tone
constexpr double kInvOthers = 0.07142857142857142;  // 1 / 14: mean of the other filters
constexpr double kMinOthers = 1e-9;        // below this the other filters count as 1e-13
constexpr double kOthersFloor = 1e-13;
constexpr double kPairOverOthers = 100.0;  // 20 dB of the pair above the rest
constexpr double kMinHarmonic = 1e-9;
constexpr double kToneOverHarmonic = 40.0;  // 16 dB of the tone above its second harmonic
constexpr double kMaxTwist = 5.0;           // 7 dB between row and column power
constexpr int kGapHold = 1000;              // 1001 invalid blocks (6.45 s) end a number
constexpr int kCloseAfter = 4;              // invalid blocks that close a tone
constexpr int kMinBlocks = 4;               // 26 ms of tone
constexpr int kMaxBlocks = 120;             // 770 ms of tone

// Keypad: rows 697..941 Hz, columns 1209..1633 Hz; only the ten digits are reported.
constexpr char kKeypad[4][4] = {{'1', '2', '3', 0}, {'4', '5', '6', 0}, {'7', '8', '9', 0}, {0, '0', 0, 0}};
}  // namespace

T_DTMF::T_DTMF() noexcept {
    for (int k = 0; k < kFreqs; ++k) coefs_[k] = 2.0 * std::cos(2.0 * std::numbers::pi * kHz[k] * kInvRate);
    for (int i = 0; i < kWindow; ++i)
        hamming_[i] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * double(i) * kInvWindowSpan);
}

void T_DTMF::Reset() noexcept {
    window_.fill(0.0);
    newSamples_ = 0;
    magnitudes_.fill(0.0);
    lastPowers_.fill(0.0);
    counts_.fill(0);
    gapBlocks_ = 0;
    row_ = column_ = -1;
    pendingLength_ = 0;
    digitsLength_ = 0;
}

std::string_view T_DTMF::Process(double x) noexcept {
    digitsLength_ = 0;
    window_[kWindow - kBlock + newSamples_] = x;
    if (++newSamples_ == kBlock) {
        analyseBlock();
        std::copy(window_.begin() + kBlock, window_.end(), window_.begin());
        newSamples_ = 0;
    }
    return {digits_.data(), std::size_t(digitsLength_)};
}

void T_DTMF::analyseBlock() noexcept {
    // The 16 Goertzel chains run side by side so that the compiler keeps them in vector registers;
    // each chain still sees exactly the written sequence s0 = c s1 - s2 + v.
    alignas(16) double s0[kFreqs] = {}, s1[kFreqs] = {}, s2[kFreqs] = {};
    for (int i = 0; i < kWindow; ++i) {
        const double v = window_[i] * hamming_[i];
        for (int k = 0; k < kFreqs; ++k) {
            s2[k] = s1[k];
            s1[k] = s0[k];
            s0[k] = coefs_[k] * s1[k] - s2[k] + v;
        }
    }
    for (int k = 0; k < kFreqs; ++k) {
        const double p = s0[k] * s0[k] + s1[k] * s1[k] - coefs_[k] * s0[k] * s1[k];
        magnitudes_[k] = (lastPowers_[k] + p) * 0.5;
        lastPowers_[k] = p;
    }
    decide();
}

void T_DTMF::decide() noexcept {
    const auto& m = magnitudes_;
    int lo = 0;
    for (int k = 1; k < 4; ++k)
        if (m[k] > m[lo]) lo = k;  // the first of equal maxima
    int hi = 4;
    for (int k = 5; k < 8; ++k)
        if (m[k] > m[hi]) hi = k;

    bool valid = m[lo] > kMinTone && m[hi] > kMinTone;
    if (valid) {
        double others = 0.0;
        for (int k = 0; k < kFreqs; ++k)
            if (k != lo && k != hi) others += m[k];
        others = others * kInvOthers;
        if (others < kMinOthers) others = kOthersFloor;
        const double pair = (m[lo] + m[hi]) * 0.5;
        valid = pair / others > kPairOverOthers;
    }
    if (valid) {
        const double hLo = m[lo + 8] < kMinHarmonic ? kMinHarmonic : m[lo + 8];
        const double hHi = m[hi + 8] < kMinHarmonic ? kMinHarmonic : m[hi + 8];
        valid = m[lo] / hLo >= kToneOverHarmonic && m[hi] / hHi >= kToneOverHarmonic;
    }
    if (valid) {
        const double twist = m[lo] > m[hi] ? m[lo] / m[hi] : m[hi] / m[lo];
        valid = twist < kMaxTwist;
    }
    if (valid) {
        ++counts_[lo];
        ++counts_[hi];
    }

    if (gapBlocks_ > kGapHold) gapBlocks_ = kGapHold;
    if (gapBlocks_ >= kGapHold && pendingLength_ > 0) {
        std::copy_n(pending_.begin(), pendingLength_, digits_.begin());
        digitsLength_ = pendingLength_;
        pendingLength_ = 0;
    }
    if (valid) {
        gapBlocks_ = 0;
        return;
    }
    if (++gapBlocks_ < kCloseAfter) return;

    // Close the tone; on equal counts the later row or column wins.
    int bestRow = 0;
    for (int k = 1; k < 4; ++k)
        if (counts_[k] >= counts_[bestRow]) bestRow = k;
    int bestColumn = 4;
    for (int k = 5; k < 8; ++k)
        if (counts_[k] >= counts_[bestColumn]) bestColumn = k;
    const int rowBlocks = counts_[bestRow];
    const int columnBlocks = counts_[bestColumn];
    counts_.fill(0);
    if (rowBlocks >= kMinBlocks && rowBlocks <= kMaxBlocks && columnBlocks >= kMinBlocks && columnBlocks <= kMaxBlocks) {
        row_ = bestRow;
        column_ = bestColumn;
    }
    if (row_ >= 0 && column_ >= 4) {
        const char digit = kKeypad[row_][column_ - 4];
        if (digit != 0 && pendingLength_ < kMaxDigits) pending_[pendingLength_++] = digit;
    }
    row_ = column_ = -1;
}

}  // namespace kestavo::dsp
