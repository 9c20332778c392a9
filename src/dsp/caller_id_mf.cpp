#include "dsp/caller_id_mf.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/goertzel_kernels.h"
#include "dsp/kernel_clones.h"
#include "platform/line_rate.h"

namespace kestavo::dsp {

namespace {
constexpr double kHz[t_aon::kFreqs] = {700, 900, 1100, 1300, 1500, 1700};
constexpr double kInvRate = 1.0 / kLineRate;             // 1 / 11025 Hz
constexpr double kInvWindowSpan = 0.006711409395973154;  // 1 / 149: Hamming over 150 samples
constexpr double kRatioThreshold = 0.9;                  // pair power over envelope needed for a tone pair
constexpr int kMinRepeats = 9;                           // about 24 ms of symbol
constexpr int kMaxRepeats = 25;                          // about 68 ms of symbol
constexpr int kGapHold = 10;                             // more than 10 gap blocks (27 ms) discard the symbols
constexpr int kCycleSymbols = 10;                        // symbols needed before a cycle is read
constexpr char kStart = 'H';                             // "Н"
constexpr char kRepeat = 'P';                            // "П"
constexpr char kRepeatUtf8[] = "П";

// Symbol of a pair of frequency indices 1-6 (either order); 0 for the pairs that carry none.
constexpr char kSymbols[7][7] = {
    {0, 0, 0, 0, 0, 0, 0},
    {0, 0, '1', '2', '4', '7', 0},
    {0, '1', 0, '3', '5', '8', 0},
    {0, '2', '3', 0, '6', '9', kStart},
    {0, '4', '5', '6', 0, '0', kRepeat},
    {0, '7', '8', '9', '0', 0, 0},
    {0, 0, 0, kStart, kRepeat, 0, 0},
};
}  // namespace

namespace kernels {

// Four chains per vector, two lanes of the second idle.
typedef double V4 __attribute__((vector_size(32)));
KESTAVO_DSP_CLONES
void goertzel6(const double* v, const double* coefs, double* s0, double* s1) noexcept {
    const V4 c0 = {coefs[0], coefs[1], coefs[2], coefs[3]}, c1 = {coefs[4], coefs[5], 0.0, 0.0};
    V4 a0 = {}, a1 = {};  // newest state
    V4 b0 = {}, b1 = {};  // the one before
    // Two samples per pass: the newest state lands alternately in b and a, so no register moves.
    static_assert(t_aon::kWindow % 2 == 0);
    for (int i = 0; i < t_aon::kWindow; i += 2) {
        const V4 x = {v[i], v[i], v[i], v[i]};
        b0 = c0 * a0 - b0 + x, b1 = c1 * a1 - b1 + x;
        const V4 y = {v[i + 1], v[i + 1], v[i + 1], v[i + 1]};
        a0 = c0 * b0 - a0 + y, a1 = c1 * b1 - a1 + y;
    }
    for (int j = 0; j < 4; ++j) {
        s0[j] = a0[j], s1[j] = b0[j];
        s0[4 + j] = a1[j], s1[4 + j] = b1[j];
    }
}

}  // namespace kernels

t_aon::t_aon() noexcept {
    for (int k = 0; k < kFreqs; ++k) coefs_[k] = 2.0 * std::cos(2.0 * std::numbers::pi * kHz[k] * kInvRate);
    for (int i = 0; i < kWindow; ++i)
        hamming_[i] = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * double(i) * kInvWindowSpan);
}

void t_aon::Reset() noexcept {
    window_.fill(0.0);
    newSamples_ = 0;
    magnitudes_.fill(0.0);
    lastPowers_.fill(0.0);
    meter_.Reset();
    level_ = 0.0;
    pairFirst_ = pairSecond_ = 0;
    repeats_ = 0;
    gapBlocks_ = 0;
    clearCode();
    numberLength_ = 0;
}

std::string_view t_aon::Process(double x) noexcept {
    numberLength_ = 0;
    level_ = meter_.Process(x);
    window_[kWindow - kBlock + newSamples_] = x;
    if (++newSamples_ == kBlock) {
        analyseBlock();
        std::copy(window_.begin() + kBlock, window_.end(), window_.begin());
        newSamples_ = 0;
    }
    return {number_.data(), std::size_t(numberLength_)};
}

void t_aon::analyseBlock() noexcept {
    alignas(32) double v[kWindow];
    for (int i = 0; i < kWindow; ++i) v[i] = window_[i] * hamming_[i];
    alignas(32) double s0[8], s1[8];
    kernels::goertzel6(v, coefs_.data(), s0, s1);
    for (int k = 0; k < kFreqs; ++k) {
        const double p = s0[k] * s0[k] + s1[k] * s1[k] - coefs_[k] * s0[k] * s1[k];
        magnitudes_[k] = (lastPowers_[k] + p) * 0.5;
        lastPowers_[k] = p;
    }
    decide();
}

void t_aon::decide() noexcept {
    if (level_ == 0.0) return;  // digital silence leaves every counter as it is
    const auto& m = magnitudes_;
    int first = 0;
    for (int k = 1; k < kFreqs; ++k)
        if (m[k] > m[first]) first = k;
    int second = first == 0 ? 1 : 0;
    for (int k = 0; k < kFreqs; ++k)
        if (k != first && m[k] > m[second]) second = k;

    const bool present = m[second] / level_ > kRatioThreshold && m[first] / level_ > kRatioThreshold;
    bool gap = true;
    if (present) {
        const int a = first + 1, b = second + 1;  // frequency indices 1-6
        if ((a == pairFirst_ && b == pairSecond_) || (a == pairSecond_ && b == pairFirst_)) {
            ++repeats_;
            gapBlocks_ = 0;
            gap = false;
        } else {
            if (repeats_ >= kMinRepeats && repeats_ <= kMaxRepeats) {
                const char symbol = kSymbols[pairFirst_][pairSecond_];
                if (symbol != 0) appendSymbol(symbol);
            }
            repeats_ = 0;
            pairFirst_ = a;
            pairSecond_ = b;
        }
    }
    if (codeLength_ >= kCycleSymbols && startSymbols_ >= 2) {
        decodeCycle();
        clearCode();
    }
    if (gap && ++gapBlocks_ > kGapHold) {
        gapBlocks_ = kGapHold;
        clearCode();
    }
}

void t_aon::appendSymbol(char symbol) noexcept {
    if (codeLength_ == kMaxSymbols) {  // a run without two start symbols: forget the oldest
        if (code_[0] == kStart) --startSymbols_;
        std::memmove(code_.data(), code_.data() + 1, kMaxSymbols - 1);
        --codeLength_;
    }
    code_[codeLength_++] = symbol;
    if (symbol == kStart) ++startSymbols_;
}

void t_aon::clearCode() noexcept {
    codeLength_ = 0;
    startSymbols_ = 0;
}

void t_aon::decodeCycle() noexcept {
    const char* const end = code_.data() + codeLength_;
    const char* fieldBegin = std::find(static_cast<const char*>(code_.data()), end, kStart);
    if (fieldBegin == end) return;
    ++fieldBegin;
    const char* const fieldEnd = std::find(fieldBegin, end, kStart);
    const int fieldLength = int(fieldEnd - fieldBegin);

    // Read the field backwards without its first and last symbols.
    char result[kMaxSymbols];
    int count = 0;
    for (int i = fieldLength - 2; i >= 1; --i) {
        const char c = fieldBegin[i];
        result[count++] = c == kRepeat ? fieldBegin[i + 1] : c;
    }
    if (count != 6) return;
    int bytes = 0;
    for (int i = 0; i < count; ++i) {
        if (result[i] == kRepeat) {
            for (const char* p = kRepeatUtf8; *p != 0; ++p) number_[bytes++] = *p;
        } else {
            number_[bytes++] = result[i];
        }
    }
    numberLength_ = bytes;
}

}  // namespace kestavo::dsp
