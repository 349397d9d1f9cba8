#pragma once
// Writing RIFF/WAVE files. Tag 1 writes PCM of 8, 16, 24 or 32 bits with a 46-byte header;
// any other tag encodes 16-bit PCM through the codec table. Until the writer is finished
// (its last reference released) the header carries provisional sizes of 0xFFFFFFFF, which
// readers take as "the data runs to the end of the file".

#include <array>
#include <cstdint>
#include <string>

#include "formats/wave_format.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::int64_t kPcmHeaderSize = 46;

// The 46-byte header of a PCM file of `format` holding `data_bytes` of samples; a negative
// count gives the provisional sizes, and sizes beyond 32 bits are written as "to the end".
std::array<std::uint8_t, kPcmHeaderSize> PcmWavHeader(const WaveFormat& format, std::int64_t data_bytes);

// A failure to create the file or the codec stream sets bit 0 of the sink's status; the
// sink then ignores writes.
SinkRef CreateWavWriter(const WaveFormat& format, const std::string& path);

}  // namespace sonavel
