#pragma once
// The wave format record: the 18-byte little-endian layout that WAV files carry in their
// "fmt " chunk (tag, channels, rate, average bytes per second, block align, bits, cbSize),
// followed by cbSize bytes of format-specific data. Format buffers are 1024 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sonavel {

inline constexpr std::uint16_t kTagPcm = 1;
inline constexpr std::uint16_t kTagMsAdpcm = 2;
inline constexpr std::uint16_t kTagFloat = 3;
inline constexpr std::uint16_t kTagALaw = 6;
inline constexpr std::uint16_t kTagMuLaw = 7;
inline constexpr std::uint16_t kTagImaAdpcm = 0x11;
inline constexpr std::uint16_t kTagGsm610 = 0x31;
inline constexpr std::uint16_t kTagMpegLayer3 = 0x55;
inline constexpr std::uint16_t kTagExtensible = 0xFFFE;

inline constexpr std::size_t kFormatBufferSize = 1024;
inline constexpr std::size_t kFormatHeaderSize = 18;
using FormatBuffer = std::array<std::uint8_t, kFormatBufferSize>;

struct WaveFormat {
  std::uint16_t tag = kTagPcm;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint32_t avg_bytes_per_sec = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits = 0;
  std::vector<std::uint8_t> extra;  // the cbSize bytes after the 18-byte record

  bool operator==(const WaveFormat&) const = default;
};

// PCM, 16 bits, block align 2 × channels, average bytes rate × 2 × channels, no extra.
WaveFormat DefaultFormat(std::uint32_t rate, std::uint16_t channels);

// PCM with `bits` (8, 16, 24 or 32), block align and average bytes to match.
WaveFormat PcmFormat(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits);

// Reads a record from `size` bytes (as found in a "fmt " chunk or a format buffer). Fewer
// than 18 bytes count as cbSize 0; extra bytes beyond `size` are cut off.
WaveFormat ParseFormat(const std::uint8_t* bytes, std::size_t size);
// The record as bytes: 18 + extra.size() bytes.
std::vector<std::uint8_t> SerializeFormat(const WaveFormat& format);

// A 1024-byte buffer holding `format` (extra data beyond the buffer is cut off).
FormatBuffer ToBuffer(const WaveFormat& format);
WaveFormat FromBuffer(const FormatBuffer& buffer);

// WAVE_FORMAT_EXTENSIBLE with a PCM or float sub-format is that format: returns the
// format with the sub-format's tag and no extension; any other format comes back as is.
WaveFormat ResolveExtensible(const WaveFormat& format);

// Little-endian helpers for file layouts.
inline std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Big-endian helpers, for the formats of other platforms (AU, AIFF).
inline std::uint16_t ReadBe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((static_cast<std::uint32_t>(p[0]) << 8) | p[1]);
}
inline void WriteBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline std::uint32_t ReadBe32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline void WriteBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace sonavel
