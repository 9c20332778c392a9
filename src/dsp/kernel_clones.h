#pragma once
// KESTAVO_DSP_CLONES: the AVX2 clones of the hot detector kernels.
// On x86-64 with GCC each marked kernel gets one AVX2 clone picked at load time besides the
// baseline code; both compute the same results in the same order. The clone is chosen by an
// ifunc resolver that runs before any sanitizer runtime is ready, so sanitizer builds keep the
// baseline code only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KESTAVO_DSP_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KESTAVO_DSP_CLONES
#endif
