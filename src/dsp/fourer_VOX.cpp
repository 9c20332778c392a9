#include "dsp/fourer_VOX.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace kestavo::dsp {

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
    bitReverse_.resize(std::size_t(size_));
    for (int i = 0; i < size_; ++i) {
        int r = 0;
        for (int b = 0; b < log2Size_; ++b)
            if (i & (1 << b)) r |= 1 << (log2Size_ - 1 - b);
        bitReverse_[std::size_t(i)] = r;
    }
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
    double* const re = re_.data();
    double* const im = im_.data();
    for (int span = size_ / 2; span >= 1; span /= 2) {
        const double* const wc = twCos_.data() + (size_ - 2 * span);
        const double* const ws = twSin_.data() + (size_ - 2 * span);
        for (int start = 0; start < size_; start += 2 * span) {
            double* const ar = re + start;
            double* const ai = im + start;
            double* const br = ar + span;
            double* const bi = ai + span;
            for (int j = 0; j < span; ++j) {
                const double dr = ar[j] - br[j];
                const double di = ai[j] - bi[j];
                ar[j] = ar[j] + br[j];
                ai[j] = ai[j] + bi[j];
                // (dr + i di) (cos - i sin)
                br[j] = dr * wc[j] + di * ws[j];
                bi[j] = di * wc[j] - dr * ws[j];
            }
        }
    }
    for (int i = 0; i < size_; ++i) {
        const int r = bitReverse_[std::size_t(i)];
        if (i < r) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
}

}  // namespace kestavo::dsp
