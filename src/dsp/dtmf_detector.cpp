#include "dsp/dtmf_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/goertzel_kernels.h"
#include "dsp/kernel_clones.h"
#include "platform/line_rate.h"

namespace kestavo::dsp {

namespace {
// Row and column frequencies, then their second harmonics (index k + 8 is the harmonic of k).
constexpr double kHz[T_DTMF::kFreqs] = {697,  770,  852,  941,  1209, 1336, 1477, 1633,
                                        1394, 1540, 1704, 1882, 2418, 2672, 2954, 3266};
constexpr double kInvRate = 1.0 / kLineRate;              // 1 / 11025 Hz
constexpr double kInvWindowSpan = 0.0035335689045936395;  // 1 / 283: Hamming over 284 samples
constexpr double kMinTone = 0.0001;                       // smallest power of a row or column tone
constexpr double kInvOthers = 0.07142857142857142;        // 1 / 14: mean of the other filters
constexpr double kMinOthers = 1e-9;                       // below this the other filters count as 1e-13
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

namespace kernels {

typedef double V4 __attribute__((vector_size(32)));
KESTAVO_DSP_CLONES
void goertzel16(const double* v, const double* coefs, double* s0, double* s1) noexcept {
    const V4 c0 = {coefs[0], coefs[1], coefs[2], coefs[3]}, c1 = {coefs[4], coefs[5], coefs[6], coefs[7]};
    const V4 c2 = {coefs[8], coefs[9], coefs[10], coefs[11]}, c3 = {coefs[12], coefs[13], coefs[14], coefs[15]};
    V4 a0 = {}, a1 = {}, a2 = {}, a3 = {};  // newest state
    V4 b0 = {}, b1 = {}, b2 = {}, b3 = {};  // the one before
    // Two samples per pass: the newest state lands alternately in b and a, so no register moves.
    static_assert(T_DTMF::kWindow % 2 == 0);
    for (int i = 0; i < T_DTMF::kWindow; i += 2) {
        const V4 x = {v[i], v[i], v[i], v[i]};
        b0 = c0 * a0 - b0 + x, b1 = c1 * a1 - b1 + x, b2 = c2 * a2 - b2 + x, b3 = c3 * a3 - b3 + x;
        const V4 y = {v[i + 1], v[i + 1], v[i + 1], v[i + 1]};
        a0 = c0 * b0 - a0 + y, a1 = c1 * b1 - a1 + y, a2 = c2 * b2 - a2 + y, a3 = c3 * b3 - a3 + y;
    }
    const V4 a[4] = {a0, a1, a2, a3}, b[4] = {b0, b1, b2, b3};
    for (int g = 0; g < 4; ++g)
        for (int j = 0; j < 4; ++j) {
            s0[4 * g + j] = a[g][j];
            s1[4 * g + j] = b[g][j];
        }
}

}  // namespace kernels

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
    alignas(32) double v[kWindow];
    for (int i = 0; i < kWindow; ++i) v[i] = window_[i] * hamming_[i];
    alignas(32) double s0[kFreqs], s1[kFreqs];
    kernels::goertzel16(v, coefs_.data(), s0, s1);
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
    if (rowBlocks >= kMinBlocks && rowBlocks <= kMaxBlocks && columnBlocks >= kMinBlocks &&
        columnBlocks <= kMaxBlocks) {
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
