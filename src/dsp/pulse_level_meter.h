#pragma once
// TPulseLevelMeter: the envelope of the pulse-dial detector's filtered signal, one value every 10 samples.
//
// A single-precision envelope follower (EnvelopeFollower<float>): a rise of |x| is followed at once
// (attack 0.15), a fall decays by 1 % per sample (release 0.99, a time constant of 100 samples, 9 ms
// at 11025 Hz), fast enough to separate the clicks of a dial 54 ms apart. It hands out the envelope
// on every 10th sample (one envelope step is 10 samples, 0.907 ms) and the mark 10000.0 on the others.
//
// Threads: owned and called by the pulse detector on its channel thread; no locks, no allocation.
#include "dsp/envelope_follower.h"

namespace kestavo::dsp {

class TPulseLevelMeter {
public:
    static constexpr int kBlockLength = 10;      // samples per envelope value
    static constexpr float kNoValue = 10000.0f;  // returned on samples without a value

    // Feeds one sample (full scale 1.0). Returns the envelope on every 10th call (the 10th, 20th ...
    // since construction or Reset), kNoValue on the others.
    float Process(float x) noexcept;

    // Envelope and sample count back to 0.
    void Reset() noexcept;

private:
    EnvelopeFollower<float, 0.15f, 0.99f> follower_;  // full-scale units
    int sampleCount_ = 0;                             // samples since the last envelope value
};

}  // namespace kestavo::dsp
