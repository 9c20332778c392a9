#pragma once
// EnvelopeFollower: the peak follower behind every level meter and the gain control.
//
// A rise of |x| is followed at once, a fall decays slowly. On each sample the coefficient c is the
// attack coefficient when |x| >= the envelope and the release coefficient otherwise, and
//     envelope = (1 - c) |x| + c envelope,
// evaluated in that order in the sample type T (float or double; the dsp library is built without
// contracting these into fused multiply-adds, so every build gives the same values). With attack
// 0.15 a step is followed by 85 % in one sample; release 0.999 falls with a time constant of about
// 1000 samples (91 ms at 11025 Hz), release 0.99 with one of 100 samples (9 ms).
//
// Threads: a plain value owned by one object on one thread; no locks, no allocation.
#include <cmath>

namespace kestavo::dsp {

template <typename T, T AttackCoef, T ReleaseCoef>
class EnvelopeFollower {
public:
    static constexpr T kAttackCoef = AttackCoef;    // share of the old envelope kept on a rise
    static constexpr T kReleaseCoef = ReleaseCoef;  // share of the old envelope kept on a fall

    // Feeds one sample (full scale 1.0); returns the envelope after it, full-scale units.
    T Process(T x) noexcept {
        const T a = std::fabs(x);
        const T coef = a >= envelope_ ? kAttackCoef : kReleaseCoef;
        const T gain = T(1) - coef;
        envelope_ = gain * a + coef * envelope_;
        return envelope_;
    }

    [[nodiscard]] T Envelope() const noexcept { return envelope_; }

    // Envelope back to 0.
    void Reset() noexcept { envelope_ = T(0); }

private:
    T envelope_ = T(0);  // follower state, full-scale units
};

}  // namespace kestavo::dsp
