#pragma once
// 16-bit file samples to and from store samples in bulk, in either byte order: the hot
// loops of every reader and writer of 16-bit samples (WAV, AU, AIFF, raw). Each is one
// tight loop that the compiler turns into vector code.

#include <cstddef>
#include <cstdint>

namespace sonavel {

// `samples` 16-bit file samples at `in` to store samples (f × 16).
void Words16ToStore(const std::uint8_t* in, std::int32_t* out, std::size_t samples, bool big_endian);
// `samples` store samples to 16-bit file samples at `out`: (s + 8) >> 4, saturated to the
// 16-bit range (StoreTo16).
void StoreToWords16(const std::int32_t* in, std::uint8_t* out, std::size_t samples, bool big_endian);

}  // namespace sonavel
