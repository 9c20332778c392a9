#pragma once
// goertzel16, goertzel6: the Goertzel filter banks T_DTMF and t_aon run over each weighted window.
//
// Each runs one Goertzel chain per coefficient c over the window v: s0 = c s1 - s2 + v[i], starting
// from zero states. The chains sit side by side in vectors (four per vector) so that all states stay
// in registers; the arithmetic is element by element and never fused, so every chain computes
// exactly what one scalar chain computes, and the AVX2 clone (KESTAVO_DSP_CLONES) only does four at
// once. They leave the newest state in s0 and the one before in s1 (the power of chain k is then
// s0^2 + s1^2 - c s0 s1).
//
// Threads: pure functions; any thread.

namespace kestavo::dsp::kernels {

// 16 chains over T_DTMF::kWindow (284) samples; coefs, s0 and s1 hold 16 values.
void goertzel16(const double* v, const double* coefs, double* s0, double* s1) noexcept;

// 6 chains over t_aon::kWindow (150) samples; coefs holds 6 values, s0 and s1 room for 8 (the last
// two are scratch).
void goertzel6(const double* v, const double* coefs, double* s0, double* s1) noexcept;

}  // namespace kestavo::dsp::kernels
