#pragma once
// DtmfQ24Decoder: reads DTMF keys (all 16) with the tolerances of ITU-T Q.24 and reports the digits
// of one dialling burst once the line has been free of keys for a second.
//
// Theory of operation. Every 70 samples (6.35 ms) eight Goertzel filters, one per DTMF frequency,
// give the complex spectrum of the last 140 samples (12.7 ms) at their frequency, and the energy of
// the same samples. In each group the strongest filter is taken; its frequency offset is measured
// from the phase the filter's output turns through between two windows 70 samples apart (a tone
// f0 + d turns 2 pi (f0 + d) 70 / fs; the unambiguous range is +-78 Hz), and its power is corrected
// for the loss the offset causes in a 140-sample window. A window holds a key when
//   - both offsets are within 2.5 % + 1 Hz of their nominal frequencies (Q.24: accept
//     1.5 % + 2 Hz, reject beyond 3.5 %),
//   - each tone is above -48 dBFS (amplitude),
//   - the high-group tone lies between 11 dB below and 7 dB above the low-group tone (Q.24 accepts
//     8 dB below to 4 dB above; the margin covers what the other group's tone leaks into a
//     140-sample window, up to 2 dB either way),
//   - the two tones carry at least 80 % of the window's energy (speech and music spread theirs).
// A key counts once four windows in a row hold it (a tone of 40 ms always gives four, a tone shorter
// than about 27 ms never does); it ends after three windows without it. After 1 s without a key the
// burst's digits are reported (action 1: start a recording if the number is listed).
// Threads: a plain value; Process runs on the caller's thread (a channel's thread), one sample per call.
#include <array>
#include <complex>
#include <cstdint>

#include "common/decoder_result.h"

namespace kestavo::plugins {

class DtmfQ24Decoder {
public:
    static constexpr std::array<double, 8> kToneHz = {697, 770, 852, 941, 1209, 1336, 1477, 1633};

    DtmfQ24Decoder() noexcept;
    // One normalised sample (full scale 1.0). True when Result() holds a new burst.
    bool Process(double sample) noexcept;
    [[nodiscard]] const DecoderResult& Result() const noexcept { return result_; }
    void Reset() noexcept;

private:
    char window() noexcept;  // the key the newest window holds, or 0

    struct Bin {
        double coef = 0.0;                    // 2 cos(w)
        std::complex<double> toBlockStart;    // e^(-j w (M - 1)): Goertzel output to the DFT of the sub-block
        std::complex<double> oneStep;         // e^(-j w)
        std::complex<double> hop;             // e^(-j w M): the later sub-block's reference to the window's
        double s1 = 0.0, s2 = 0.0;            // Goertzel state of the current sub-block
        std::complex<double> previousSub;     // DFT of the previous sub-block
        std::complex<double> previousWindow;  // DFT of the previous window
    };
    std::array<Bin, 8> bins_;
    int inSub_ = 0;                   // samples in the current sub-block (0..69)
    double subEnergy_ = 0.0;          // sum of squares in the current sub-block
    double previousSubEnergy_ = 0.0;  // in the previous one
    bool haveWindow_ = false;         // previousWindow values are valid
    char candidate_ = 0;              // key of the latest windows
    int candidateWindows_ = 0;        // how many windows in a row held it
    char digit_ = 0;                  // the key being held, 0 between keys
    int missedWindows_ = 0;           // windows in a row without the held key
    int quietWindows_ = 0;            // windows since the last key ended
    char burst_[DecoderResult::kMaxChars + 1] = {};
    std::size_t burstLength_ = 0;
    DecoderResult result_;
};

}  // namespace kestavo::plugins
