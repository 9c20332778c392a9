#pragma once
// TlevelMeter: the channel's level meter, one level in dB every 50 ms for the display and the triggers.
//
// An envelope follower (attack 0.15, release 0.999; see EnvelopeFollower) runs over every sample.
// Every 50 ms of samples the envelope at that sample becomes one level in dB relative to full scale,
// limited below to -60 dB; the other samples give the no-value mark 10000.0.
//
// Threads: called only from the owning channel thread; no locks, no allocation.
#include <cmath>
#include <cstdint>

#include "dsp/envelope_follower.h"

namespace kestavo::dsp {

// The mark for "no new level for this sample", shared by every meter and trigger.
inline constexpr double kNoLevel = 10000.0;

class TlevelMeter {
public:
    // sampleRate in samples per second; one level per round(rate * 0.05) samples (551 at 11025).
    explicit TlevelMeter(std::int32_t sampleRate) noexcept
        : blockLength_(std::int32_t(std::nearbyint(sampleRate * 0.05))) {}

    // One normalised sample in [-1, 1); a level in dB when this sample completes a block, else kNoLevel.
    [[nodiscard]] double Process(double sample) noexcept {
        const double envelope = follower_.Process(sample);
        sampleCount_ += 1;
        if (sampleCount_ != blockLength_) return kNoLevel;
        sampleCount_ = 0;
        double v = envelope;
        if (std::fabs(v) < 1e-8) v = 1e-8;
        if (std::fabs(v) > 100.0) v = 100.0;
        double level = 20.0 * std::log10(v);
        if (level < -60.0) level = -60.0;
        return level;
    }
    void Reset() noexcept {
        sampleCount_ = 0;
        follower_.Reset();
    }

private:
    std::int32_t blockLength_;                        // samples per level value
    std::int32_t sampleCount_ = 0;                    // samples since the last level value
    EnvelopeFollower<double, 0.15, 0.999> follower_;  // linear envelope, full-scale units
};

}  // namespace kestavo::dsp
