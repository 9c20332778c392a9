#pragma once
// CtcssDecoder: finds which of the 50 standard sub-audible CTCSS tones (67.0-254.1 Hz) a radio line
// carries, reports it once it has been held for 250 ms (action 1) and again when it ends (action 0),
// so a channel recording by identifier records while its tone is present.
//
// Theory of operation. The sound is low-passed (fourth-order Butterworth, 300 Hz) and decimated by
// 10 to 1102.5 Hz, then band-limited to 55-270 Hz. In that band a CTCSS tone is a lone sine, so
// its frequency is measured from the time between positive-going zero crossings (interpolated
// between samples), which is far finer than a filter bank of the same latency could resolve: the
// closest tones are only 1.5 % apart. States:
//   Idle     - no candidate. A crossing while the band holds enough power (at least -50 dBFS and
//              no more than 25 dB below the whole sound) starts a candidate.
//   Candidate - every new period must lie within 3 % of the candidate's mean frequency, else the
//              candidate restarts from that period. Once the periods span 250 ms, the band must
//              be a lone sine: the frequency its first difference implies (a sine's difference
//              has 2 (1 - cos w) of its power) must agree with the crossings' within 4 %, which a
//              note with harmonics or two notes at once do not. Then the mean frequency is looked
//              up: within 0.5 % of a standard tone the tone is reported (Active); otherwise the
//              candidate keeps growing.
//   Active   - periods within 3 % of the tone keep it alive; 150 ms without one ends it and it is
//              reported again with action 0.
// Speech (gliding pitch), chords (irregular periods), mains hum (50/60 Hz with harmonics) and line
// tones (above the band) fail these tests. A steady lone sine held within 0.5 % of a tone is a
// tone, whatever made it.
// Threads: a plain value; Process runs on the caller's thread (a channel's thread), one sample per call.
#include <array>
#include <cstdint>

#include "common/biquad.h"
#include "common/decoder_result.h"

namespace kestavo::plugins {

class CtcssDecoder {
public:
    static constexpr int kToneCount = 50;
    // The standard tones in tenths of a hertz.
    static constexpr std::array<int, kToneCount> kTenthsHz = {
        670,  693,  719,  744,  770,  797,  825,  854,  885,  915,  948,  974,  1000, 1035, 1072, 1109, 1148,
        1188, 1230, 1273, 1318, 1365, 1413, 1462, 1514, 1567, 1598, 1622, 1655, 1679, 1713, 1738, 1773, 1799,
        1835, 1862, 1899, 1928, 1966, 1995, 2035, 2065, 2107, 2181, 2257, 2291, 2336, 2418, 2503, 2541};

    CtcssDecoder() noexcept;
    // One normalised sample (full scale 1.0). True when Result() holds a new report.
    bool Process(double sample) noexcept;
    [[nodiscard]] const DecoderResult& Result() const noexcept { return result_; }
    void Reset() noexcept;

private:
    void crossing(double t) noexcept;
    bool report(int tone, bool started, double heldSeconds) noexcept;

    Biquad lp1a_, lp1b_;          // 300 Hz low-pass before the decimation, at the line rate
    Biquad lp2a_, lp2b_;          // 270 Hz low-pass after it, at 1102.5 Hz
    Biquad hp_;                   // 55 Hz high-pass at 1102.5 Hz
    int phase_ = 0;               // samples since the last decimated one (0..9)
    double widePower_ = 0.0;      // mean square of the whole sound, about 20 ms memory
    double bandPower_ = 0.0;      // mean square of the band, same memory
    double slowPower_ = 0.0;      // mean square of the band, about 100 ms memory
    double slowDiffPower_ = 0.0;  // mean square of its first difference, same memory
    double prev_ = 0.0;           // previous band sample
    double now_ = 0.0;            // decimated samples since Reset
    bool havePrevCrossing_ = false;
    double prevCrossing_ = 0.0;  // time of the last accepted crossing, in decimated samples
    double candStart_ = 0.0;     // time of the crossing that began the candidate
    int candPeriods_ = 0;        // periods in the candidate
    int active_ = -1;            // index of the tone being held, or -1
    double activeSince_ = 0.0;   // when it was reported
    double lastGood_ = 0.0;      // last crossing that fitted the active tone
    DecoderResult result_;
};

}  // namespace kestavo::plugins
