#pragma once
// tfft: the spectrum inverter of the monitoring output.
//
// An operator may listen to a channel with its spectrum inverted about a chosen frequency (the
// "Инверсия спектра" option), the classic way to make inverted-band speech intelligible. Each
// monitoring block of N samples (N a power of two, at most 16384) is transformed (radix-2 complex FFT,
// decimation in frequency then bit-reversal, forward e^(-i k w) unscaled; butterfly sums and
// differences and the angle step w held in single precision, as the monitor needs no more), its bins
// are rearranged, and it is transformed back (e^(+i k w), scaled by 1/N) and written in reverse order.
// With the shift s = ShiftBins and H = N / 2, output bin b (1 ... H - 1) takes input bin s - 1 - b when
// b < s - 1 and input bin b + H - s otherwise; bins 0 and H stay, the upper half is the mirror image.
// So a tone at bin k < s comes out at bin s - 1 - k (the band 0 ... F turned upside down), and with
// s = 0 the whole band is mirrored: f becomes 5512.5 Hz - f. Without inversion a block comes back
// unchanged apart from rounding.
//
// Threads: owned and called by the monitoring thread; the setters are called from the main thread
// between blocks (they store one integer or flag each). Destroy it only after the monitoring thread
// has stopped calling ProcessBlock.
#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "platform/line_rate.h"

namespace kestavo::dsp {

class tfft {
public:
    static constexpr int kMaxSize = 16384;
    static constexpr double kInvRate = 1.0 / kLineRate;  // 1 / 11025 Hz

    // size: N, the block length in samples, a power of two from 2 to 16384; bits: 8 (unsigned, offset
    // 128) or 16 (signed little-endian). Throws std::invalid_argument for other values.
    tfft(int size, int bits);

    // ShiftBins = N x hertz / 11025, rounded to nearest (halves to even), limited to 0 ... N / 2. The
    // main window passes its inv_bar position (1 ... 5000 Hz).
    void SetInversionFrequency(int hertz) noexcept;
    void SetInversion(bool on) noexcept { inversionOn_ = on; }
    [[nodiscard]] int ShiftBins() const noexcept { return shiftBins_; }
    [[nodiscard]] bool InversionOn() const noexcept { return inversionOn_; }
    [[nodiscard]] int Size() const noexcept { return size_; }

    // Works on one block of N samples in place (N x bits / 8 bytes; a shorter block is left as it
    // is). Output samples are rounded to nearest and keep their low 8 or 16 bits (no clipping).
    void ProcessBlock(std::span<std::byte> block) noexcept;

private:
    void transform(bool inverse) noexcept;

    int size_;      // N
    int bits_;      // 8 or 16
    int halfSize_;  // N / 2
    int log2Size_;
    int shiftBins_ = 1;  // inversion frequency in bins
    bool inversionOn_ = false;
    std::vector<std::complex<double>> spectrum_;  // N bins
    std::vector<std::complex<double>> scratch_;   // N / 2 rearranged bins
    std::vector<std::complex<double>> twiddles_;  // (cos k w, sin k w), k = 0 ... N - 1, w in single precision
    std::vector<int> bitReverse_;
};

}  // namespace kestavo::dsp
