#pragma once
// G.711 A-law and µ-law on store-scale values: store full scale is 0x7FFF0, a 16-bit
// sample × 16. Every expanded value is a multiple of 16, so dividing by 16 gives the
// exact 16-bit value. Shared by the codec table, raw and AU files.

#include <cstdint>

namespace sonavel {

// Store-scale value of a µ-law byte (±0 .. ±513984).
std::int32_t ExpandMuLaw(std::uint8_t byte);
// µ-law byte of a store-scale value; values beyond the largest segment saturate.
std::uint8_t CompressMuLaw(std::int32_t value);

// Store-scale value of an A-law byte (±128 .. ±516096).
std::int32_t ExpandALaw(std::uint8_t byte);
// A-law byte of a store-scale value; values beyond the largest segment saturate.
std::uint8_t CompressALaw(std::int32_t value);

}  // namespace sonavel
