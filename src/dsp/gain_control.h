#pragma once
// Tv_agc: the automatic gain control of a channel's recorded sound.
//
// It follows the envelope of the signal with the level meters' EnvelopeFollower (attack 0.15: a rise is
// followed at once; release 0.999: a fall decays by 0.1 % per sample, about 91 ms at 11025 Hz) and scales each
// sample by 0.8 / envelope, so the envelope sits at 0.8 of full scale. While the envelope is at or
// below 0.0001 (-80 dB) the sample passes unchanged; otherwise there is no gain limit but the one
// that floor implies (below 8000). The channel clips the result to -1 ... +1 afterwards, which also
// catches the overshoot after a sudden rise.
//
// Threads: owned and called by one channel thread; no locks, no allocation.
#include "dsp/envelope_follower.h"

namespace kestavo::dsp {

class Tv_agc {
public:
    static constexpr double kTarget = 0.8;    // envelope aimed at, full-scale units
    static constexpr double kFloor = 0.0001;  // -80 dB: below this no gain is applied

    // One normalised sample in (full scale 1.0; channel thread), the levelled sample out (may exceed
    // full scale).
    double Process(double x) noexcept;

    // The gain applied last (1.0 until the envelope first passes the floor).
    [[nodiscard]] double Gain() const noexcept { return agcGain_; }

    // Gain 1.0 and envelope 0, as constructed.
    void Reset() noexcept;

private:
    double agcGain_ = 1.0;                            // last computed gain
    EnvelopeFollower<double, 0.15, 0.999> follower_;  // envelope of the input, full-scale units
};

}  // namespace kestavo::dsp
