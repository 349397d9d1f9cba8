#pragma once
// Marks a small hot loop for an AVX2 variant next to the portable one, picked when the
// program loads; both are the same code, so results do not depend on the machine.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define SONAVEL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SONAVEL_AVX2_CLONES
#endif
