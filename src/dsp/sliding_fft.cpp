#include "dsp/sliding_fft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "dsp/bit_reverse.h"
#include "dsp/kernel_clones.h"

namespace kestavo::dsp {

namespace {

typedef double V4 __attribute__((vector_size(32)));
typedef double V2 __attribute__((vector_size(16)));

// One butterfly stage group over `count` consecutive j, `Lanes` of them per vector:
// a = a + b, b = (a - b)(cos - i sin), in the same operations as one butterfly at a time.
template <class V, int Lanes>
inline void butterflies(double* ar, double* ai, double* br, double* bi, const double* wc, const double* ws,
                        int count) noexcept {
    for (int j = 0; j < count; j += Lanes) {
        V xr, xi, yr, yi, c, s;  // unaligned loads and stores through memcpy
        __builtin_memcpy(&xr, ar + j, sizeof(V));
        __builtin_memcpy(&xi, ai + j, sizeof(V));
        __builtin_memcpy(&yr, br + j, sizeof(V));
        __builtin_memcpy(&yi, bi + j, sizeof(V));
        __builtin_memcpy(&c, wc + j, sizeof(V));
        __builtin_memcpy(&s, ws + j, sizeof(V));
        const V dr = xr - yr, di = xi - yi;
        const V sr = xr + yr, si = xi + yi, tr = dr * c + di * s, ti = di * c - dr * s;
        __builtin_memcpy(ar + j, &sr, sizeof(V));
        __builtin_memcpy(ai + j, &si, sizeof(V));
        __builtin_memcpy(br + j, &tr, sizeof(V));
        __builtin_memcpy(bi + j, &ti, sizeof(V));
    }
}

// All stages of the decimation-in-frequency transform. Vector arithmetic is element by element and
// never fused, so every butterfly computes exactly what the one-at-a-time loop computes; the AVX2
// clone only does four at once.
KESTAVO_DSP_CLONES
void difStages(double* re, double* im, int n, const double* twCos, const double* twSin) noexcept {
    for (int span = n / 2; span >= 1; span /= 2) {
        const double* const wc = twCos + (n - 2 * span);
        const double* const ws = twSin + (n - 2 * span);
        for (int start = 0; start < n; start += 2 * span) {
            double* const ar = re + start;
            double* const ai = im + start;
            if (span >= 4) {
                butterflies<V4, 4>(ar, ai, ar + span, ai + span, wc, ws, span);
            } else if (span == 2) {
                butterflies<V2, 2>(ar, ai, ar + span, ai + span, wc, ws, span);
            } else {
                const double dr = ar[0] - ar[1], di = ai[0] - ai[1];
                ar[0] = ar[0] + ar[1];
                ai[0] = ai[0] + ai[1];
                ar[1] = dr * wc[0] + di * ws[0];
                ai[1] = di * wc[0] - dr * ws[0];
            }
        }
    }
}

}  // namespace

tfft256::tfft256(int size) : size_(size), overlap_(size - kHop) {
    if (size < 2 * kHop || size > kMaxSize || (size & (size - 1)) != 0)
        throw std::invalid_argument("tfft256: size must be a power of two from 128 to 1024");
    log2Size_ = 0;
    while ((1 << log2Size_) < size_) ++log2Size_;
    weight_ = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * double(kHop) / double(size_ - 1));
    history_.assign(std::size_t(size_), 0.0);
    re_.assign(std::size_t(size_), 0.0);
    im_.assign(std::size_t(size_), 0.0);

    const double w = 2.0 * std::numbers::pi / double(size_);
    twCos_.assign(std::size_t(size_), 0.0);
    twSin_.assign(std::size_t(size_), 0.0);
    for (int span = size_ / 2, step = 1; span >= 1; span /= 2, step *= 2) {
        const int offset = size_ - 2 * span;
        for (int j = 0; j < span; ++j) {
            const double angle = double(j * step) * w;
            twCos_[std::size_t(offset + j)] = std::cos(angle);
            twSin_[std::size_t(offset + j)] = std::sin(angle);
        }
    }
    bitReverse_ = BitReversedIndices(log2Size_);
}

void tfft256::Reset() noexcept {
    std::fill(history_.begin(), history_.end(), 0.0);
    std::fill(re_.begin(), re_.end(), 0.0);
    std::fill(im_.begin(), im_.end(), 0.0);
    fill_ = 0;
}

bool tfft256::AddSample(double x) noexcept {
    history_[std::size_t(overlap_ + fill_)] = x;
    if (++fill_ < kHop) return false;
    for (int n = 0; n < size_; ++n) {
        re_[std::size_t(n)] = history_[std::size_t(n)] * weight_;
        im_[std::size_t(n)] = 0.0;
    }
    transform();
    std::copy(history_.begin() + kHop, history_.end(), history_.begin());
    fill_ = 0;
    return true;
}

void tfft256::transform() noexcept {
    // Bins stay in bit-reversed places; Re() and Im() look them up (the reordering moves no value).
    difStages(re_.data(), im_.data(), size_, twCos_.data(), twSin_.data());
}

}  // namespace kestavo::dsp
