#pragma once
// Synthetic line sound for the detector tests and benchmarks: tones, DTMF keys, the two-of-six АОН
// symbols, loop-disconnect click trains, a speech-like voice and white noise. All signals are
// normalised samples (full scale = 1.0) at the line rate of 11025 Hz; generators are deterministic
// (noise takes an explicit seed), so a failing test replays exactly.
//
// Levels: a tone or a tone pair at "L dBFS" has the peak amplitude 10^(L/20) (a pair shares it: each
// tone gets half, so the sum never clips); noise at "L dBFS" has the RMS value 10^(L/20).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestavo::test {

inline constexpr double kLineRate = 11025.0;  // samples per second

using Signal = std::vector<double>;

// Samples in `ms` milliseconds at 11025 Hz, rounded to the nearest sample.
[[nodiscard]] std::size_t samplesOf(double ms);
// Peak (or RMS, for noise) amplitude of a level in dB relative to full scale.
[[nodiscard]] double amplitudeOf(double dbfs);

[[nodiscard]] Signal silence(std::size_t samples);
[[nodiscard]] Signal tone(double hz, double amplitude, std::size_t samples, double phase = 0.0);
// Two tones of `amplitude` each, summed.
[[nodiscard]] Signal tonePair(double hz1, double hz2, double amplitude, std::size_t samples);
// Gaussian white noise with the given RMS value.
[[nodiscard]] Signal noise(double rms, std::size_t samples, std::uint32_t seed);

// Appends b to a; adds b into a from position `at` on (growing a when needed).
void append(Signal& a, const Signal& b);
void mixInto(Signal& a, const Signal& b, std::size_t at = 0);

// DTMF: keys "0"-"9", "*", "#", "A"-"D" of the standard keypad (697/770/852/941 Hz rows,
// 1209/1336/1477/1633 Hz columns).
[[nodiscard]] Signal dtmfKey(char key, double dbfs, double toneMs);
// A dialled string: each key as a tone of toneMs followed by pauseMs of silence.
[[nodiscard]] Signal dtmfNumber(std::string_view keys, double dbfs, double toneMs, double pauseMs);

// АОН two-of-six code (700, 900, 1100, 1300, 1500, 1700 Hz). Symbols: '0'-'9', 'H' for the start
// symbol "Н" (1100 + 1700 Hz) and 'P' for the repeat symbol "П" (1300 + 1700 Hz).
struct FreqPair {
    double lowHz;
    double highHz;
};
[[nodiscard]] FreqPair aonPair(char symbol);
// Symbols sent back to back, each symbolMs long, each tone of the pair at `amplitude`.
[[nodiscard]] Signal aonSymbols(std::string_view symbols, double amplitude, double symbolMs);

// Loop-disconnect dialling as the line records it: a click (a short decaying 4 kHz burst of peak
// `clickAmplitude`) at the start of each break and at each make. `pulses` breaks of breakMs separated
// by makes of makeMs; the train ends with the last make click.
[[nodiscard]] Signal pulseTrain(int pulses, double breakMs, double makeMs, double clickAmplitude);
[[nodiscard]] Signal click(double amplitude);

// A voice-like signal: a glottal pulse train whose pitch glides between 100 and 240 Hz, shaped by
// three formant resonators whose frequencies wander like vowels changing, in syllables of 150-300 ms
// separated by short pauses. Peak level about `peak`.
[[nodiscard]] Signal speechLike(double seconds, double peak, std::uint32_t seed);

// Line sound for the long comparison runs: a minute or more of noise with tones, DTMF numbers,
// АОН cycles, pulse trains and speech laid over each other at random times and levels.
[[nodiscard]] Signal mixedLineSound(double seconds, std::uint32_t seed);

}  // namespace kestavo::test
