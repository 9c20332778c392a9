#pragma once
// TVOXlevel_check: the stop trigger of voice recording gated by level. The channel feeds it the
// newest level value on every sample while that value is below the threshold; after StopWindow
// samples (the stop delay at 11025 samples per second) of continuous low level it answers 0.
// It has no start direction. Called from the owning channel thread.
#include <cmath>
#include <cstdint>

namespace kestavo::dsp {

class TVOXlevel_check {
public:
    explicit TVOXlevel_check(double threshold) noexcept : Threshold(threshold) {}

    void SetThreshold(double threshold) noexcept { Threshold = threshold; }
    // The start delay is accepted for symmetry with Tlevel_check; the stop window counts samples.
    void SetTimes(double startSeconds, double stopSeconds, std::int32_t stopMinHits) noexcept {
        StartWindow = std::int32_t(std::nearbyint(startSeconds * 20.0));
        StopWindow = std::int32_t(std::nearbyint(stopSeconds * 11025.0));
        StopMinHits = stopMinHits;
    }
    // 0 stop now, -1 no decision.
    [[nodiscard]] std::int32_t Check(bool recording, double level) noexcept {
        if (level >= Threshold) {
            Count = 0;
            Hits = 0;
            return -1;
        }
        if (recording) {
            Count += 1;
            Hits += 1;
            if (Count >= StopWindow && Hits > StopMinHits) {
                Reset();
                return 0;
            }
        }
        return -1;
    }
    void Reset() noexcept {
        Count = 0;
        Hits = 0;
        Sum = 0.0;
    }

    double Threshold;
    std::int32_t Count = 0;  // low samples counted
    std::int32_t Hits = 0;
    bool Armed = false;  // kept for the shared layout; unused here
    std::int32_t StartWindow = 74;
    std::int32_t StopWindow = 740;  // samples
    std::int32_t StopMinHits = 1;
    double Sum = 0.0;
};

}  // namespace kestavo::dsp
