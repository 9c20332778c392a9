#pragma once
// T_DTMF: the DTMF digit decoder of a channel.
//
// How it works. Every 71 samples (6.4 ms at 11025 Hz) the newest 284 samples (25.8 ms) are
// Hamming-weighted and run through 16 Goertzel filters: the eight DTMF frequencies (rows 697, 770,
// 852, 941 Hz; columns 1209, 1336, 1477, 1633 Hz) and their second harmonics. A block's power per
// frequency is averaged with the block before. The block holds a valid tone pair when the strongest
// row and the strongest column are both present (> 1e-4), stand 100 times above the mean of the 14
// other filters, each lies at least 40 times above its own second harmonic (speech and music have
// strong harmonics, DTMF has none) and their twist is below 5. Each valid block votes for its row and
// column. Four invalid blocks in a row close the tone: if the winning row and column each won in 4 to
// 120 blocks (26 ms ... 770 ms of tone), their key is looked up and a digit 0-9 is appended to the
// number in progress (the keys *, # and the 1633 Hz column add nothing). After 1001 blocks (6.45 s)
// without a valid pair the whole number is handed over.
//
// Threads: owned and called by one channel thread; no locks. Process is allocation-free.
#include <array>
#include <cstddef>
#include <string_view>

namespace kestavo::dsp {

class T_DTMF {
public:
    static constexpr int kBlock = 71;      // new samples per analysed block (6.4 ms)
    static constexpr int kWindow = 284;    // samples analysed per block (25.8 ms)
    static constexpr int kFreqs = 16;      // 8 fundamentals + 8 second harmonics
    static constexpr int kMaxDigits = 64;  // longest number kept; further digits are dropped

    // Computes the Goertzel coefficients and the Hamming weights; ready to take samples.
    T_DTMF() noexcept;

    // Feeds one normalised sample (full scale 1.0; channel thread). Returns the digits of a complete
    // number, in dialling order, on the sample that completed it; an empty view otherwise. A returned
    // number may hold a single digit (the channel ignores those). The view stays valid until the next
    // call of Process or Reset.
    std::string_view Process(double x) noexcept;

    // Returns to the constructed state: no samples, no votes, no digits pending.
    void Reset() noexcept;

private:
    void analyseBlock() noexcept;
    void decide() noexcept;

    std::array<double, kFreqs> coefs_{};       // 2 cos(2 pi f / 11025), f in the order below
    std::array<double, kWindow> hamming_{};    // 0.54 - 0.46 cos(2 pi i / 283)
    std::array<double, kWindow> window_{};     // the latest samples, oldest first; newest 71 at the end
    int newSamples_ = 0;                       // samples written since the last block
    std::array<double, kFreqs> magnitudes_{};  // power of the latest block averaged with the one before
    std::array<double, kFreqs> lastPowers_{};  // power of the block before
    std::array<int, 8> counts_{};              // blocks of the current tone in which each row/column won
    int gapBlocks_ = 0;                        // blocks since the last valid pair, held at 1000
    int row_ = -1;                             // row (0-3) of the digit being closed, -1 when none
    int column_ = -1;                          // column (4-7) of the digit being closed, -1 when none
    std::array<char, kMaxDigits> pending_{};   // digits of the number being dialled
    int pendingLength_ = 0;
    std::array<char, kMaxDigits> digits_{};  // the number handed over by the current call
    int digitsLength_ = 0;
};

}  // namespace kestavo::dsp
