#pragma once
// kLineRate: the one rate every line is watched and recorded at, in samples per second.
// Devices are opened at it, the detectors are tuned for it and WAV files carry it.

namespace kestavo {

inline constexpr int kLineRate = 11025;

}  // namespace kestavo
