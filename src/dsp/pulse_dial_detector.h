#pragma once
// TPulse_detector: the decoder of numbers dialled by loop disconnection.
//
// What it hears. A rotary or pulse dial opens the line loop once per pulse (a break of about 60 ms)
// and closes it again (a make of about 40 ms); ten pulses stand for 0. Each break and each make leaves
// a sharp click in the recorded sound.
//
// How it works. A 15-tap high-pass (TLPF, transition 3400 ... 3450 Hz) keeps the clicks and takes away
// most speech; the single-precision follower TPulseLevelMeter turns the result into an envelope
// value every 10 samples (one step, 0.907 ms). A rise of the envelope by more than the threshold from
// one step to the next is a click. A click after 60 ... 75 click-free steps (so 61 ... 76 steps after
// the one before, 55 ... 69 ms) ends a break of the right length and counts a pulse (so each pulse
// counts at its make, and the first click of a number only starts the timing). More than 100 steps (91 ms) without a click close the digit: its
// pulse count is appended as decimal text, 10 pulses as "0". More than 4000 steps (3.63 s) after the
// last counted pulse the number is handed over if it has at least two characters, and dropped anyway.
//
// Threads: owned and called by one channel thread; no locks. Process is allocation-free.
#include <array>
#include <string_view>

#include "dsp/fir_filters.h"
#include "dsp/pulse_level_meter.h"

namespace kestavo::dsp {

class TPulse_detector {
public:
    static constexpr double kDefaultThreshold = 0.008;  // the channel's default PPOROG
    static constexpr int kMaxDigits = 64;               // characters kept; further digits are dropped

    // Builds the high-pass (order 14, 11025 Hz, 3400 Hz) and the envelope follower.
    TPulse_detector();

    // Feeds one normalised sample (full scale 1.0; channel thread). Returns the digits of a complete
    // number of at least two characters on the sample that completed it; an empty view otherwise. The
    // view stays valid until the next call of Process or Reset. Samples not fed do not advance time.
    std::string_view Process(double x) noexcept;

    // The smallest rise of the envelope (full-scale units) between two steps that counts as a click;
    // the threshold window offers 0.0001 ... 0.1. A NaN is ignored; a negative value is taken as 0.
    void SetThreshold(double threshold) noexcept;
    [[nodiscard]] double Threshold() const noexcept { return threshold_; }

    // Returns to the constructed state; the threshold is a setting and is kept.
    void Reset() noexcept;

private:
    void step(double e) noexcept;
    void appendCount(int pulses) noexcept;

    TLPF highPass_;                          // 15-tap high-pass in front of the follower
    TPulseLevelMeter meter_;                 // envelope, one value per 10 samples
    double current_ = 0.0;                   // latest envelope value
    double previous_ = 0.0;                  // the one before
    double threshold_ = kDefaultThreshold;   // rise per step that counts as a click
    int sinceClick_ = 100;                   // steps since the last click, held at 100
    int pulseCount_ = 0;                     // pulses counted for the digit in progress
    int idleSteps_ = 0;                      // steps since the last counted pulse, held at 4001 when idle
    std::array<char, kMaxDigits> digits_{};  // the number in progress
    int digitsLength_ = 0;
    std::array<char, kMaxDigits> number_{};  // the number handed over by the current call
    int numberLength_ = 0;
};

}  // namespace kestavo::dsp
