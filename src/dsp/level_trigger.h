#pragma once
// Tlevel_check: the trigger of recording by level, fed one level value (dB) every 50 ms.
//
// Start: a window opens on a value at or above the threshold; after StartWindow values whose
// mean is strictly above the threshold it answers kStartRecording. Stop: a window opens on a value
// below the threshold and counts consecutive low values; after StopWindow of them (more than
// StopMinHits) it answers kStopRecording. One Armed flag serves both directions, so a window one
// direction leaves armed is continued by the other. Called from the owning channel thread.
#include <cmath>
#include <cstdint>

#include "dsp/trigger_decision.h"

namespace kestavo::dsp {

class Tlevel_check {
public:
    explicit Tlevel_check(double threshold) noexcept : Threshold(threshold) {}

    void SetThreshold(double threshold) noexcept { Threshold = threshold; }
    // Start and stop delays in seconds; level values come every 50 ms, so a window is 20 per second.
    void SetTimes(double startSeconds, double stopSeconds, std::int32_t stopMinHits) noexcept {
        StartWindow = std::int32_t(std::nearbyint(startSeconds * 20.0));
        StopWindow = std::int32_t(std::nearbyint(stopSeconds * 20.0));
        StopMinHits = stopMinHits;
    }
    // recording: whether the channel records now; level: the newest level value, dB.
    [[nodiscard]] TriggerDecision Check(bool recording, double level) noexcept {
        if (!recording) {
            if (!Armed && level >= Threshold) {
                Armed = true;
                Count = 0;
                Hits = 0;
                Sum = 0.0;
            }
            if (Armed) {
                Sum += level;
                Count += 1;
                if (Count >= StartWindow) {
                    if (Sum / Count > Threshold) {
                        Reset();
                        return kStartRecording;
                    }
                    Armed = false;
                }
            }
            return kNoDecision;
        }
        if (!Armed && level < Threshold) {
            Armed = true;
            Count = 0;
            Hits = 0;
        }
        if (Armed) {
            Count += 1;
            if (level < Threshold)
                Hits += 1;
            else
                Armed = false;
            // Tested even when this very value just disarmed the window.
            if (Count >= StopWindow) {
                if (Hits > StopMinHits) {
                    Reset();
                    return kStopRecording;
                }
                Armed = false;
            }
        }
        return kNoDecision;
    }
    // Clears the counters; Armed keeps its value.
    void Reset() noexcept {
        Count = 0;
        Hits = 0;
        Sum = 0.0;
    }

    double Threshold;               // dB
    std::int32_t Count = 0;         // values counted in the open window
    std::int32_t Hits = 0;          // values below the threshold in the window
    bool Armed = false;             // a window is open (either direction)
    std::int32_t StartWindow = 74;  // level values (3.7 s)
    std::int32_t StopWindow = 740;  // level values (37 s)
    std::int32_t StopMinHits = 1;   // Hits must exceed this for a stop
    double Sum = 0.0;               // sum of the levels in the start window, dB
};

}  // namespace kestavo::dsp
