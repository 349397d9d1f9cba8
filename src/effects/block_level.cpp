#include "effects/block_level.h"

#include <cmath>

#include "effects/dsp/fixed_point.h"

namespace sonavel {

std::uint64_t MeanSquare(const std::int32_t* samples, std::int32_t count, std::int32_t stride) {
  if (count <= 0) return 0;
  // |s >> 5| < 2^26, so a square is below 2^52 and its high part below 2^39: even
  // 2^21 of them stay far inside 64 bits.
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int64_t v = samples[static_cast<std::int64_t>(i) * stride] >> 5;
    const std::uint64_t square = static_cast<std::uint64_t>(v * v);
    high += square >> 13;
    low += square & 0x1FFF;
  }
  const std::uint64_t n = static_cast<std::uint64_t>(count);
  // (high × 8192 + low) / n without forming high × 8192.
  return (high / n) * 8192 + ((high % n) * 8192 + low) / n;
}

int MeanSquareLevel(std::uint64_t mean_square, double reference) {
  if (mean_square == 0) return kSilenceDb;
  return DecibelByte(10.0 * std::log10(static_cast<double>(mean_square) / reference));
}

}  // namespace sonavel
