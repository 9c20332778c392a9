#pragma once
// TVOX: the voice detector behind recording "by voice".
//
// Theory of operation. A 256-point spectrum arrives every 64 samples (a frame, 5.8 ms; tfft256). Bins
// 6 ... 127 (258 ... 5470 Hz) are normalised to the strongest one. Voiced speech has a few strong
// harmonics below about 1.3 kHz and a moving pitch; a tone has one fixed peak, noise a flat spectrum.
// So every 5 counted frames (a group, 29 ms) the detector says "voice" when
//   - the mean spectral flatness (normalised power summed over the 122 bins / 121) lies in
//     0.016 ... 0.04: a handful of strong bins, neither one line nor a spread;
//   - the peak bin differs from that of 5 frames before, and lies below bin 31 (1335 Hz);
//   - low band (258 ... 1335 Hz) over high band (1378 ... 5470 Hz) lies in 0.2 ... 9;
//   - bass (258 ... 344 Hz) over the rest of the low band stays below 0.12.
// Frames whose strongest bin is below 8e-6 (near silence) are not counted at all.
//
// States. Silent -> speaking on the second positive group decision (kStartRecording; further starts keep
// coming every second positive decision while speech goes on). While speaking, every Limit frames
// without a positive decision (Limit = 2.5 x the stop delay in seconds, in frames) the detector looks
// whether a start came since the last clearing and, if none did, ends speech (kStopRecording). The clearing
// happens after 513 frames (about 3 s) without a positive decision.
//
// Threads: owned and called by one channel thread; no locks. Process is allocation-free.
#include <array>

#include "dsp/sliding_fft.h"
#include "dsp/trigger_decision.h"

namespace kestavo::dsp {

class TVOX {
public:
    static constexpr int kFftSize = 256;

    // Builds the 256-point analyser; stop delay 0 until SetStopTime.
    TVOX();

    // Feeds one normalised sample (full scale 1.0; channel thread). Returns kStartRecording when speech
    // has started, kStopRecording when it has ended, kNoDecision otherwise.
    TriggerDecision Process(double x) noexcept;

    // The channel's stop delay in seconds ("Время задержки стоп"); negative values count as 0. Any
    // thread that owns the detector; takes effect at the next frame.
    void SetStopTime(double seconds) noexcept;

    // Returns to the constructed state; the stop delay is a setting and is kept.
    void Reset() noexcept;

private:
    // True when the group that this frame completes says "voice".
    bool groupDecision() noexcept;

    tfft256 analyzer_{kFftSize};
    std::array<double, 128> power_{};   // power of bins 0 ... 127 of the latest frame (normalised in place)
    std::array<int, 8> peakHistory_{};  // peak bin of the latest 8 counted frames, newest first
    double flatnessSum_ = 0.0;          // flatness summed over the current group
    int groupFrames_ = 0;               // counted frames in the current group (0 ... 5)
    bool active_ = false;               // speech in progress
    int positiveCount_ = 0;             // positive group decisions since the last start signal
    int speechCount_ = 0;               // start signals since the last clearing
    int hangFrames_ = 0;                // frames without a positive decision while active
    int idleFrames_ = 0;                // frames since the last positive decision
    double stopSeconds_ = 0.0;          // the channel's stop delay
    int limit_ = 0;                     // stopSeconds_ x 43.06640625 x 10 frames, rounded
};

}  // namespace kestavo::dsp
