#pragma once
// TVOXlevel_check: the stop trigger of voice recording gated by level.
//
// The channel feeds it the block's newest level value on every sample while that value is below
// the threshold; after StopWindow samples (the stop delay at 11025 samples per second) of
// continuous low level it answers kStopRecording. It has no start direction.
// Called from the owning channel thread.
#include <cmath>
#include <cstdint>

#include "dsp/trigger_decision.h"
#include "platform/line_rate.h"

namespace kestavo::dsp {

class TVOXlevel_check {
public:
    explicit TVOXlevel_check(double threshold) noexcept : Threshold(threshold) {}

    void SetThreshold(double threshold) noexcept { Threshold = threshold; }
    // Takes Tlevel_check's arguments; there is no start direction, so the start delay goes unused.
    // The stop window counts samples.
    void SetTimes(double /*startSeconds*/, double stopSeconds, std::int32_t stopMinHits) noexcept {
        StopWindow = std::int32_t(std::nearbyint(stopSeconds * double(kLineRate)));
        StopMinHits = stopMinHits;
    }
    // recording: whether the channel records now; level: the block's newest level value, dB.
    // Answers kStopRecording or kNoDecision.
    [[nodiscard]] TriggerDecision Check(bool recording, double level) noexcept {
        if (level >= Threshold) {
            Count = 0;
            Hits = 0;
            return kNoDecision;
        }
        if (recording) {
            Count += 1;
            Hits += 1;
            if (Count >= StopWindow && Hits > StopMinHits) {
                Reset();
                return kStopRecording;
            }
        }
        return kNoDecision;
    }
    void Reset() noexcept {
        Count = 0;
        Hits = 0;
    }

    double Threshold;               // dB
    std::int32_t Count = 0;         // low samples counted
    std::int32_t Hits = 0;          // low samples counted while recording
    std::int32_t StopWindow = 740;  // samples
    std::int32_t StopMinHits = 1;   // Hits must exceed this for a stop
};

}  // namespace kestavo::dsp
