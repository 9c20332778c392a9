#pragma once
// Synthetic line sound for the tests: tones, DTMF keys, АОН two-of-six symbols, dial clicks, a speech-like
// voice and white noise, as normalised samples (full scale 1.0) at the line rate of 11025 Hz. Deterministic
// (noise takes an explicit seed), so a failing test replays exactly.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/line_rate.h"

namespace kestavo::test {

inline constexpr double kLineRate = kestavo::kLineRate;  // samples per second
using Signal = std::vector<double>;

// Samples in `ms` milliseconds at 11025 Hz, rounded to the nearest sample.
[[nodiscard]] std::size_t samplesOf(double ms);
// Amplitude of a level in dB relative to full scale: 10^(dbfs / 20).
[[nodiscard]] double amplitudeOf(double dbfs);

[[nodiscard]] Signal silence(std::size_t samples);
[[nodiscard]] Signal tone(double hz, double amplitude, std::size_t samples, double phase = 0.0);
// Gaussian white noise with the given RMS value.
[[nodiscard]] Signal noise(double rms, std::size_t samples, std::uint32_t seed);

// Appends b to a; adds b into a from position `at` on (growing a when needed).
void append(Signal& a, const Signal& b);
void mixInto(Signal& a, const Signal& b, std::size_t at = 0);

// DTMF keys "0"-"9", "*", "#", "A"-"D" of the standard keypad (697/770/852/941 Hz rows, 1209/1336/
// 1477/1633 Hz columns), each key a tone pair of peak 10^(dbfs/20) (each tone half of it) lasting
// toneMs, followed by pauseMs of silence.
[[nodiscard]] Signal dtmfNumber(std::string_view keys, double dbfs, double toneMs, double pauseMs = 0.0);

// АОН two-of-six symbols (700, 900, 1100, 1300, 1500, 1700 Hz) sent back to back, each symbolMs long,
// each tone of the pair at `amplitude`: '0'-'9', 'H' for the start symbol "Н" (1100 + 1700 Hz) and
// 'P' for the repeat symbol "П" (1300 + 1700 Hz); ' ' is a symbol's length of silence.
[[nodiscard]] Signal aonSymbols(std::string_view symbols, double amplitude, double symbolMs);

// A line relay's click: a decaying 4 kHz burst of 40 samples and peak `amplitude`.
[[nodiscard]] Signal click(double amplitude);
// Loop-disconnect dialling as the line records it: a click at the start of each break and at each
// make; `pulses` breaks of breakMs separated by makes of makeMs, ending with the last make click.
[[nodiscard]] Signal pulseTrain(int pulses, double breakMs, double makeMs, double clickAmplitude);

// A voice-like signal: a glottal pulse train whose pitch glides between 100 and 240 Hz, shaped by
// three formant resonators whose frequencies wander like vowels changing, in syllables of 150-300 ms
// separated by short pauses. Peak level `peak`.
[[nodiscard]] Signal speechLike(double seconds, double peak, std::uint32_t seed);

}  // namespace kestavo::test
