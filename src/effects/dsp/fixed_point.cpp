#include "effects/dsp/fixed_point.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sonavel {
namespace {

// Index db + 128.
std::array<std::int32_t, 256> BuildTable(double divisor) {
  std::array<std::int32_t, 256> table{};
  for (int db = -126; db <= 127; ++db) {
    const double value = std::pow(10.0, db / divisor) * 16777216.0 + 0.5;
    table[db + 128] = value >= 2147483647.0 ? 0x7FFFFFFF : static_cast<std::int32_t>(value);
  }
  return table;
}

const std::array<std::int32_t, 256>& AmplitudeTable() {
  static const std::array<std::int32_t, 256> table = BuildTable(20.0);
  return table;
}

const std::array<std::int32_t, 256>& PowerTable() {
  static const std::array<std::int32_t, 256> table = BuildTable(10.0);
  return table;
}

}  // namespace

std::int32_t DecibelToQ24(int db) { return AmplitudeTable()[std::clamp(db, -128, 127) + 128]; }

std::int32_t PowerDecibelToQ24(int db) { return PowerTable()[std::clamp(db, -128, 127) + 128]; }

int DecibelByte(double db) {
  if (std::isnan(db)) return kSilenceDb;
  const double rounded = db >= 0 ? std::floor(db + 0.5) : std::ceil(db - 0.5);
  return static_cast<int>(std::clamp(rounded, -127.0, 127.0));
}

std::int32_t EffectMsToFrames(std::int32_t rate, std::int32_t ms) {
  return rate * (ms / 1000) + rate * (ms % 1000) / 1000;
}

}  // namespace sonavel
