#pragma once
// The fixed-point arithmetic shared by the effects and meters.
//
// Samples are 32-bit integers whose full scale is 0x7FFF0 (a 16-bit sample times 16).
// Q9 gains are factor × 512 (a percentage p is p × 512 / 100), applied as (x × g) >> 9.
// Q24 gains are factor × 2^24, applied by a split multiply that never needs 64 bits.
// Decibel bytes are signed: -127 (the byte 129) means silence.

#include <cstdint>

namespace sonavel {

inline constexpr std::int32_t kStoreFullScale = 0x7FFF0;
inline constexpr std::int32_t kQ24Unity = 1 << 24;
inline constexpr int kSilenceDb = -127;

// (x × g) >> 24 from the 12-bit halves of both operands, without the low × low term:
// ((xl × gh) >> 12) + ((xh × gl) >> 12) + xh × gh.
// Results beyond 32 bits wrap, as 32-bit arithmetic would.
inline std::int32_t Q24Multiply(std::int32_t x, std::int32_t g) {
  const std::int64_t xh = x >> 12;
  const std::int64_t xl = x & 0xFFF;
  const std::int64_t gh = g >> 12;
  const std::int64_t gl = g & 0xFFF;
  return static_cast<std::int32_t>(((xl * gh) >> 12) + ((xh * gl) >> 12) + xh * gh);
}

// The same split multiply kept in 64 bits, for operands whose product may not fit in 32
// (it equals Q24Multiply wherever that result fits).
inline std::int64_t Q24MultiplyWide(std::int64_t x, std::int64_t g) {
  const std::int64_t xh = x >> 12;
  const std::int64_t xl = x & 0xFFF;
  const std::int64_t gh = g >> 12;
  const std::int64_t gl = g & 0xFFF;
  return ((xl * gh) >> 12) + ((xh * gl) >> 12) + xh * gh;
}

// A wide result limited to the 32-bit range, where plain 32-bit arithmetic would wrap.
inline std::int32_t SaturateToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(value < INT32_MIN ? INT32_MIN : (value > INT32_MAX ? INT32_MAX : value));
}

inline std::int32_t PercentToQ9(std::int32_t percent) { return percent * 512 / 100; }
inline std::int32_t Q9Multiply(std::int32_t x, std::int32_t g) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(x) * g) >> 9);
}

// 10^(db / 20) × 2^24 + 0.5 truncated and limited to 0x7FFFFFFF for db in -126 … 127;
// 0 (silence) for -127 and -128. Other values are limited to -128 … 127 first.
std::int32_t DecibelToQ24(int db);
// The power twin: 10^(db / 10) × 2^24 + 0.5, truncated and limited likewise.
std::int32_t PowerDecibelToQ24(int db);
// A level in dB as a decibel byte: rounded to the nearest integer, halves away from zero,
// limited to -127 … 127.
int DecibelByte(double db);
// rate × (ms / 1000) + rate × (ms mod 1000) / 1000, in this order, so long times do not
// overflow.
std::int32_t EffectMsToFrames(std::int32_t rate, std::int32_t ms);

}  // namespace sonavel
