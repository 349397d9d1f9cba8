#pragma once
// Marks a small hot loop for a vector variant next to the portable one, picked when the
// program loads; both are the same code, so results do not depend on the machine.
//
// The pick runs in a resolver before the thread sanitizer's runtime is up, which crashes
// a sanitized program at start: such builds get the one portable version.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define SONAVEL_SSE41_CLONES __attribute__((target_clones("sse4.1", "default")))
#define SONAVEL_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SONAVEL_SSE41_CLONES
#define SONAVEL_AVX2_CLONES
#endif
