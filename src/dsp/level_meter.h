#pragma once
// The channel's level meter. An envelope follower rises with the signal at once (attack 0.15:
// 85 % of a step in one sample) and falls slowly (release 0.999: a time constant of about 1000
// samples, 91 ms at 11025 Hz). Every 50 ms of samples the envelope at that sample becomes one
// level in dB relative to full scale, limited below to -60 dB; the other samples give the
// no-value mark 10000.0. Called only from the owning channel thread.
#include <cmath>
#include <cstdint>

namespace kestavo::dsp {

// The mark for "no new level for this sample", shared by every meter and trigger.
inline constexpr double kNoLevel = 10000.0;

namespace lm {

class TlevelMeter {
public:
    // sampleRate in samples per second; one level per round(rate * 0.05) samples (551 at 11025).
    explicit TlevelMeter(std::int32_t sampleRate) noexcept
        : BlockLength(std::int32_t(std::nearbyint(sampleRate * 0.05))) {}

    // One normalised sample in [-1, 1); a level in dB when this sample completes a block, else kNoLevel.
    [[nodiscard]] double Process(double sample) noexcept {
        const double a = std::fabs(sample);
        Coef = a >= Envelope ? AttackCoef : ReleaseCoef;
        Gain = 1.0 - Coef;
        Envelope = Gain * a + Coef * Envelope;
        SampleCount += 1;
        if (SampleCount != BlockLength) return kNoLevel;
        SampleCount = 0;
        double v = Envelope;
        if (std::fabs(v) < 1e-8) v = 1e-8;
        if (std::fabs(v) > 100.0) v = 100.0;
        double level = 20.0 * std::log10(v);
        if (level < -60.0) level = -60.0;
        return level;
    }
    void Reset() noexcept {
        SampleCount = 0;
        Envelope = 0.0;
    }

    std::int32_t BlockLength;      // samples per level value
    std::int32_t SampleCount = 0;  // samples since the last level value
    double Envelope = 0.0;         // follower state, linear full-scale units
    double Gain = 0.0;             // 1 - Coef
    double Coef = 0.0;             // coefficient used for the current sample
    static constexpr double AttackCoef = 0.15;
    static constexpr double ReleaseCoef = 0.999;
};

}  // namespace lm
}  // namespace kestavo::dsp
