#pragma once
// dsp/pulse_level_meter.h — the envelope follower of the pulse-dial detector (`TlevelMeter` of unit LM_p).
//
// A peak follower in single precision: a rise of |x| is followed at once (attack coefficient 0.15:
// 85 % of the step in one sample), a fall decays by 1 % per sample (release 0.99, a time constant of
// 100 samples, 9 ms at 11025 Hz), fast enough to separate the clicks of a dial 54 ms apart. It hands
// out the envelope on every 10th sample — one envelope step is 10 samples, 0.907 ms — and the mark
// 10000.0 on the others.
//
// Threads: owned and called by the pulse detector on its channel thread; no locks, no allocation.

namespace kestavo::dsp::lm_p {

class TlevelMeter {
public:
    static constexpr float kAttackCoef = 0.15f;   // share of the old envelope kept on a rise
    static constexpr float kReleaseCoef = 0.99f;  // share of the old envelope kept on a fall
    static constexpr int kBlockLength = 10;       // samples per envelope value
    static constexpr float kNoValue = 10000.0f;   // returned on samples without a value

    // Feeds one sample (full scale 1.0). Returns the envelope on every 10th call (the 10th, 20th ...
    // since construction or Reset), kNoValue on the others.
    float Process(float x) noexcept;

    // Envelope and sample count back to 0.
    void Reset() noexcept;

private:
    float envelope_ = 0.0f;  // follower state, full-scale units
    float coef_ = 0.0f;      // coefficient in use for the current sample
    float gain_ = 0.0f;      // 1 - coef_
    int sampleCount_ = 0;    // samples since the last envelope value
};

}  // namespace kestavo::dsp::lm_p
