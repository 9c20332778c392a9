#pragma once
// The demo line: a synthesised stereo recording of two telephone lines of an exchange, used as a
// file-backed line when the computer has no sound input at all, so that a fresh installation
// records real files within its first minute.
//
// Each side carries calls: a caller-ID burst (the two-of-six multi-frequency code: start symbol,
// seven digits), ring-back tone, a conversation of speech-like sound (a glottal pulse train with a
// gliding pitch through three wandering formant resonators, in syllables with short pauses), DTMF
// digits, and pauses of line hiss between calls. The left side's first call starts after 3 s.
// Everything is deterministic.
//
// Threads: any; pure computation plus one file write.
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kestavo::app {

inline constexpr int kDemoRate = 11025;        // samples per second per side
inline constexpr double kDemoSeconds = 180.0;  // length of the line; it is replayed from its start
inline constexpr const char* kDemoFolder = "DEMO_LINES";
inline constexpr const char* kDemoFile = "demo_exchange.wav";

// Interleaved stereo 16-bit samples, `seconds` long.
[[nodiscard]] std::vector<std::int16_t> MakeDemoExchange(double seconds = kDemoSeconds);

// Writes the demo line as a canonical 44-byte-header PCM WAV (11025 Hz, 16-bit, stereo), through a
// temporary file and a rename, so a half-written line is never used.
[[nodiscard]] std::error_code WriteDemoLine(const std::filesystem::path& file, double seconds = kDemoSeconds);

}  // namespace kestavo::app
