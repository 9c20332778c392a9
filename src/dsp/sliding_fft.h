#pragma once
// tfft256: the sliding spectrum analyser of the voice detector.
//
// Every 64 new samples (5.8 ms at 11025 Hz) it takes the latest N samples (N = 256 for the voice
// detector: 23.2 ms, bin b at b x 43.07 Hz), multiplies all of them by one weight W (the Hamming
// formula evaluated at the hop, 0.54 - 0.46 cos(2 pi 64 / (N - 1)) = 0.5428 for N = 256; the voice
// decision is tuned to frames weighted this way), and runs a complex FFT over them.
//
// The FFT is in place, radix 2, decimation in frequency (butterflies a + b and (a - b) W^k on halves
// of shrinking span) followed by the bit-reversal reordering, done here as a lookup when a bin is
// read; forward e^(-i k w), unscaled, w = 2 pi / N.
// Real and imaginary parts are kept in separate arrays and each stage reads its twiddles from its own
// contiguous table, so the butterflies of one stage run as plain vector loops.
//
// Threads: owned and called by one voice detector on its channel thread; no locks; AddSample is
// allocation-free. Destroy it only after that thread has stopped calling it.
#include <cstddef>
#include <vector>

namespace kestavo::dsp {

class tfft256 {
public:
    static constexpr int kHop = 64;        // new samples per frame
    static constexpr int kMaxSize = 1024;  // largest N

    // size: N, a power of two from 128 to 1024 (the voice detector uses 256). Throws
    // std::invalid_argument for any other size.
    explicit tfft256(int size);

    // Appends one normalised sample. Returns true when this sample completed a frame; Re(b), Im(b)
    // then hold bin b (0 ... N - 1) of its transform until the next frame.
    bool AddSample(double x) noexcept;

    [[nodiscard]] double Re(int bin) const noexcept { return re_[std::size_t(bitReverse_[std::size_t(bin)])]; }
    [[nodiscard]] double Im(int bin) const noexcept { return im_[std::size_t(bitReverse_[std::size_t(bin)])]; }
    [[nodiscard]] int Size() const noexcept { return size_; }

    // Forgets the samples gathered; the next frame comes 64 samples from now, over zeros before them.
    void Reset() noexcept;

private:
    void transform() noexcept;

    int size_;                     // N
    int overlap_;                  // N - 64: samples kept from the previous frame
    int log2Size_;                 // log2 N
    int fill_ = 0;                 // new samples since the last frame
    double weight_;                // W, the one window weight of every sample
    std::vector<double> history_;  // N latest samples, oldest first
    std::vector<double> re_, im_;  // spectrum; bin b sits at bitReverse_[b] (the reordering is a lookup)
    // Twiddles per stage, stage s (span N / 2^(s+1)) at offset N - 2 * span: cos and sin of j * 2^s * w.
    std::vector<double> twCos_, twSin_;
    std::vector<int> bitReverse_;  // place of each bin in re_ and im_
};

}  // namespace kestavo::dsp
