#include "dsp/frequency_inverter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "dsp/bit_reverse.h"

namespace kestavo::dsp {

tfft::tfft(int size, int bits) : size_(size), bits_(bits), halfSize_(size / 2) {
    if (size < 2 || size > kMaxSize || (size & (size - 1)) != 0)
        throw std::invalid_argument("tfft: size must be a power of two from 2 to 16384");
    if (bits != 8 && bits != 16) throw std::invalid_argument("tfft: bits must be 8 or 16");
    log2Size_ = 0;
    while ((1 << log2Size_) < size_) ++log2Size_;
    spectrum_.assign(std::size_t(size_), {});
    scratch_.assign(std::size_t(halfSize_), {});
    twiddles_.resize(std::size_t(size_));
    const float w = static_cast<float>(2.0 * std::numbers::pi / double(size_));  // the angle step, single
    for (int k = 0; k < size_; ++k) {
        const double angle = double(k) * double(w);
        twiddles_[std::size_t(k)] = {std::cos(angle), std::sin(angle)};
    }
    bitReverse_ = BitReversedIndices(log2Size_);
}

void tfft::SetInversionFrequency(int hertz) noexcept {
    const double bins = std::nearbyint(double(size_) * double(hertz) * kInvRate);
    shiftBins_ = int(std::clamp(bins, 0.0, double(halfSize_)));
}

void tfft::transform(bool inverse) noexcept {
    std::complex<double>* const x = spectrum_.data();
    const double sign = inverse ? 1.0 : -1.0;  // e^(sign i k w)
    for (int span = halfSize_, step = 1; span >= 1; span /= 2, step *= 2) {
        for (int start = 0; start < size_; start += 2 * span) {
            for (int j = 0; j < span; ++j) {
                std::complex<double>& a = x[start + j];
                std::complex<double>& b = x[start + j + span];
                const float sr = static_cast<float>(a.real() + b.real());
                const float si = static_cast<float>(a.imag() + b.imag());
                const float dr = static_cast<float>(a.real() - b.real());
                const float di = static_cast<float>(a.imag() - b.imag());
                const double c = twiddles_[std::size_t(j * step)].real();
                const double s = sign * twiddles_[std::size_t(j * step)].imag();
                a = {double(sr), double(si)};
                b = {double(dr) * c - double(di) * s, double(di) * c + double(dr) * s};
            }
        }
    }
    for (int i = 0; i < size_; ++i) {
        const int r = bitReverse_[std::size_t(i)];
        if (i < r) std::swap(x[i], x[r]);
    }
    if (inverse) {
        const double scale = 1.0 / double(size_);
        for (int i = 0; i < size_; ++i) x[i] = {x[i].real() * scale, x[i].imag() * scale};
    }
}

void tfft::ProcessBlock(std::span<std::byte> block) noexcept {
    const std::size_t bytesPerSample = std::size_t(bits_ / 8);
    if (block.size() < std::size_t(size_) * bytesPerSample) return;
    std::byte* const p = block.data();
    for (int n = 0; n < size_; ++n) {
        double v;
        if (bits_ == 8) {
            v = double(std::to_integer<std::uint8_t>(p[n])) * 0.0078125 - 1.0;
        } else {
            std::int16_t s;
            std::memcpy(&s, p + 2 * n, 2);
            v = double(s) / 32768.0;
        }
        spectrum_[std::size_t(n)] = {v, 0.0};
    }
    transform(false);
    if (inversionOn_) {
        const int s = shiftBins_, h = halfSize_;
        for (int b = 0; b < h; ++b)
            scratch_[std::size_t(b)] =
                b < s - 1 ? spectrum_[std::size_t(s - 1 - b)] : spectrum_[std::size_t(b + h - s)];
        for (int b = 1; b < h; ++b) {
            spectrum_[std::size_t(b)] = scratch_[std::size_t(b)];
            spectrum_[std::size_t(size_ - b)] = std::conj(scratch_[std::size_t(b)]);
        }
    }
    transform(true);
    for (int n = 0; n < size_; ++n) {
        const double v = spectrum_[std::size_t(n)].real();
        const int at = inversionOn_ ? size_ - 1 - n : n;
        if (bits_ == 8) {
            const auto r = static_cast<std::int64_t>(std::nearbyint(v * 128.0 + 128.0));
            p[at] = std::byte(static_cast<std::uint8_t>(r & 0xFF));
        } else {
            const auto r = static_cast<std::int64_t>(std::nearbyint(v * 32768.0));
            const auto u = static_cast<std::uint16_t>(r & 0xFFFF);
            std::memcpy(p + 2 * at, &u, 2);
        }
    }
}

}  // namespace kestavo::dsp
