#pragma once
// The loudness of a block of samples as a decibel byte, shared by the compressor and the
// automatic gain control.

#include <cstdint>

namespace sonavel {

// floor(Σ (s >> 5)² / count) over `count` samples taken `stride` apart from `samples`.
// Each square is split into its low 13 bits and the rest, summed apart and recombined
// with the remainder carried, so the mean is exact without wider-than-64-bit sums.
// 0 for a count of 0.
std::uint64_t MeanSquare(const std::int32_t* samples, std::int32_t count, std::int32_t stride = 1);

// 10 × log10(mean_square / reference) as a decibel byte (rounded half away from zero,
// limited to -127 … 127); a mean square of 0 is silence (-127).
int MeanSquareLevel(std::uint64_t mean_square, double reference);

}  // namespace sonavel
