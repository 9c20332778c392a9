#pragma once
// dsp/caller_id_level_meter.h — the envelope follower of the caller-ID detector (`TlevelMeter` of unit a_lm).
//
// A peak follower in double precision: a rise of |x| is followed at once (85 % of the step in one
// sample, attack coefficient 0.15), a fall decays by 0.1 % per sample (release 0.999, a time constant
// of about 1000 samples, 91 ms at 11025 Hz). It yields the linear envelope after every sample; the
// АОН detector compares its Goertzel powers with it.
//
// Threads: owned and called by one detector on its channel thread; no locks, no allocation.
#include <cmath>

namespace kestavo::dsp::a_lm {

class TlevelMeter {
public:
    static constexpr double kAttackCoef = 0.15;    // share of the old envelope kept on a rise
    static constexpr double kReleaseCoef = 0.999;  // share of the old envelope kept on a fall

    // Feeds one normalised sample; returns the envelope (full scale 1.0) after it.
    double Process(double x) noexcept {
        const double a = std::fabs(x);
        coef_ = a >= envelope_ ? kAttackCoef : kReleaseCoef;
        gain_ = 1.0 - coef_;
        envelope_ = gain_ * a + coef_ * envelope_;
        return envelope_;
    }

    // Envelope back to 0.
    void Reset() noexcept { envelope_ = 0.0; }

private:
    double envelope_ = 0.0;  // follower state, full-scale units
    double coef_ = 0.0;      // coefficient in use for the current sample
    double gain_ = 0.0;      // 1 - coef_
};

}  // namespace kestavo::dsp::a_lm
