#include "formats/g711.h"

namespace sonavel {
namespace {

// µ-law: segment bases of the expanded magnitudes (2112 × (2^segment - 1)) and the
// decision levels of compression (base - 2^(segment + 6), 0 for the first segment).
constexpr std::int32_t kMuLawBase[8] = {0, 2112, 6336, 14784, 31680, 65472, 133056, 268224};
constexpr std::int64_t kMuLawLevel[8] = {0, 1984, 6080, 14272, 30656, 63424, 128960, 260032};

// A-law: step size and expanded base per segment, and the compression levels.
constexpr std::int32_t kALawStep[8] = {256, 256, 512, 1024, 2048, 4096, 8192, 16384};
constexpr std::int32_t kALawBase[8] = {128, 4224, 8448, 16896, 33792, 67584, 135168, 270336};
constexpr std::int64_t kALawLevel[8] = {0, 4096, 8192, 16384, 32768, 65536, 131072, 262144};

// The largest segment whose level `magnitude` reaches.
int SegmentOf(std::int64_t magnitude, const std::int64_t (&levels)[8]) {
  int segment = 7;
  while (segment > 0 && magnitude < levels[segment]) --segment;
  return segment;
}

}  // namespace

std::int32_t ExpandMuLaw(std::uint8_t byte) {
  const unsigned inverted = static_cast<std::uint8_t>(~byte);
  const unsigned segment = (inverted >> 4) & 7;
  const std::int32_t mantissa = static_cast<std::int32_t>(inverted & 15);
  const std::int32_t magnitude = (mantissa << (segment + 7)) + kMuLawBase[segment];
  return (byte & 0x80) != 0 ? magnitude : -magnitude;
}

std::uint8_t CompressMuLaw(std::int32_t value) {
  const unsigned sign = value < 0 ? 0x80 : 0;
  // 64 bits: the magnitude of the most negative value does not fit 32.
  const std::int64_t magnitude = value < 0 ? -std::int64_t{value} : std::int64_t{value};
  const int segment = SegmentOf(magnitude, kMuLawLevel);
  std::int64_t mantissa = (magnitude - kMuLawLevel[segment]) >> (segment + 7);
  if (mantissa > 15) mantissa = 15;
  const unsigned code = static_cast<unsigned>(segment << 4) | sign | static_cast<unsigned>(mantissa);
  return static_cast<std::uint8_t>(~code);
}

std::int32_t ExpandALaw(std::uint8_t byte) {
  const unsigned toggled = byte ^ 0x55u;
  const unsigned segment = (toggled >> 4) & 7;
  const std::int32_t mantissa = static_cast<std::int32_t>(toggled & 15);
  const std::int32_t magnitude = mantissa * kALawStep[segment] + kALawBase[segment];
  return (byte & 0x80) != 0 ? magnitude : -magnitude;
}

std::uint8_t CompressALaw(std::int32_t value) {
  const unsigned sign = value >= 0 ? 0x80 : 0;
  const std::int64_t magnitude = value < 0 ? -std::int64_t{value} : std::int64_t{value};
  const int segment = SegmentOf(magnitude, kALawLevel);
  std::int64_t mantissa = (magnitude - kALawLevel[segment]) / kALawStep[segment];
  if (mantissa > 15) mantissa = 15;
  const unsigned code = static_cast<unsigned>(segment << 4) | sign | static_cast<unsigned>(mantissa);
  return static_cast<std::uint8_t>(code ^ 0x55u);
}

}  // namespace sonavel
