#pragma once
// t_aon: the caller-ID (АОН) decoder of a channel.
//
// What it decodes. A Russian exchange sends the calling number as a cycle of two-of-six
// multi-frequency symbols (700, 900, 1100, 1300, 1500, 1700 Hz), about 40 ms each, back to back:
// the start symbol "Н", a category symbol, the digits from last to first, a further symbol, then "Н"
// again. A digit equal to the one sent just before it is replaced by the repeat symbol "П".
//
// How it works. Every 30 samples (2.7 ms) the newest 150 samples (13.6 ms) are Hamming-weighted and
// run through six Goertzel filters; each power is averaged with the block before. When the two
// strongest filters both exceed 0.9 times the raw signal's envelope (TAonLevelMeter), the block
// holds that pair. A pair seen again in the next blocks counts repeats; when a different pair begins,
// the held one is written as a symbol if it lasted 9 ... 25 repeats (about 24 ... 68 ms). More than 10
// blocks without the held pair continuing discard the symbols gathered. Once 10 symbols with two "Н"
// have been gathered, the field between the first two "Н" is read: its first and last symbols
// dropped, the rest reversed, each "П" replaced by the symbol after it in the field. Exactly six
// characters make a caller number.
//
// Threads: owned and called by one channel thread; no locks. Process is allocation-free.
#include <array>
#include <string_view>

#include "dsp/envelope_follower.h"

namespace kestavo::dsp {

// The caller-ID detector's envelope of the raw signal, in double precision after every sample:
// attack 0.15, release 0.999 (a time constant of about 1000 samples, 91 ms at 11025 Hz).
using TAonLevelMeter = EnvelopeFollower<double, 0.15, 0.999>;

class t_aon {
public:
    static constexpr int kBlock = 30;       // new samples per analysed block (2.7 ms)
    static constexpr int kWindow = 150;     // samples analysed per block (13.6 ms)
    static constexpr int kFreqs = 6;        // 700 ... 1700 Hz in steps of 200 Hz
    static constexpr int kMaxSymbols = 64;  // symbols kept; a longer run drops its oldest symbols

    // Computes coefficients and Hamming weights; ready to take samples.
    t_aon() noexcept;

    // Feeds one normalised sample (full scale 1.0; channel thread). Returns the six characters of a
    // decoded caller number (UTF-8; digits, or "П" in the rare case of two repeat symbols in a row)
    // on the sample that completed a cycle; an empty view otherwise. The view stays valid until the
    // next call of Process or Reset.
    std::string_view Process(double x) noexcept;

    // Returns to the constructed state.
    void Reset() noexcept;

private:
    void analyseBlock() noexcept;
    void decide() noexcept;
    void appendSymbol(char symbol) noexcept;
    void decodeCycle() noexcept;
    void clearCode() noexcept;

    std::array<double, kFreqs> coefs_{};       // 2 cos(2 pi f / 11025)
    std::array<double, kWindow> hamming_{};    // 0.54 - 0.46 cos(2 pi i / 149)
    std::array<double, kWindow> window_{};     // latest samples, oldest first; newest 30 at the end
    int newSamples_ = 0;                       // samples written since the last block
    std::array<double, kFreqs> magnitudes_{};  // power of the latest block averaged with the one before
    std::array<double, kFreqs> lastPowers_{};  // power of the block before
    TAonLevelMeter meter_;                     // envelope of the raw signal
    double level_ = 0.0;                       // latest envelope value, full-scale units
    int pairFirst_ = 0;                        // held pair, frequency indices 1-6; 0 before the first
    int pairSecond_ = 0;
    int repeats_ = 0;    // blocks in which the held pair was seen again
    int gapBlocks_ = 0;  // blocks since the held pair was last seen again, held at 10
    // Symbols gathered: '0'-'9', 'H' for "Н", 'P' for "П".
    std::array<char, kMaxSymbols> code_{};
    int codeLength_ = 0;
    int startSymbols_ = 0;           // "Н" symbols in code_
    std::array<char, 16> number_{};  // the number handed over by the current call (UTF-8)
    int numberLength_ = 0;           // bytes in number_
};

}  // namespace kestavo::dsp
