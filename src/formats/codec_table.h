#pragma once
// The built-in codec table: conversion streams between a coded wave format and 16-bit
// PCM at the same rate and channel count, in both directions. The WAV reader decodes
// every non-PCM format through it and the WAV writer encodes through it.
//
// A stream converts a source buffer into a destination buffer and reports how many bytes
// of each it used. Flags:
//   kConvertBlockAlign  convert only whole blocks of the source (coded blocks when
//                       decoding, whole blocks of input samples when encoding); the rest
//                       stays unused for the next call
//   kConvertStart       forget any state (after a seek); may come with no data
//   kConvertEnd         the source is the last there is: convert a trailing partial block
//                       too (an encoder writes it as a shorter final block)

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/wave_format.h"

namespace sonavel {

inline constexpr unsigned kConvertBlockAlign = 0x1;
inline constexpr unsigned kConvertStart = 0x2;
inline constexpr unsigned kConvertEnd = 0x4;

struct ConvertResult {
  bool ok = true;                    // false: the coded data is bad (nothing is thrown)
  std::size_t source_used = 0;       // bytes of the source consumed
  std::size_t destination_used = 0;  // bytes written to the destination
};

class CodecStream {
 public:
  virtual ~CodecStream() = default;
  // Source bytes needed to fill `destination_bytes` of output (whole blocks).
  virtual std::size_t SourceSizeFor(std::size_t destination_bytes) const = 0;
  // Largest output that `source_bytes` of input can produce.
  virtual std::size_t DestinationSizeFor(std::size_t source_bytes) const = 0;
  virtual ConvertResult Convert(const std::uint8_t* source, std::size_t source_bytes,
                                std::uint8_t* destination, std::size_t destination_bytes,
                                unsigned flags) = 0;
};

// A stream from `from` to `to`, where one of the two is 16-bit PCM at the other's rate
// and channel count and the other a format of the table. Null when the table cannot do
// that conversion (unknown tag, unusable block layout, mismatched rate or channels).
std::unique_ptr<CodecStream> OpenCodecStream(const WaveFormat& from, const WaveFormat& to);

// Whether OpenCodecStream would succeed, without building the stream.
bool CanConvert(const WaveFormat& from, const WaveFormat& to);

// The complete record of a writable format of the table for the given tag, rate,
// channels and bits (block align, average bytes, extra data as other programs write
// them). Null result (tag 0) when the table cannot write it.
WaveFormat SuggestFormat(std::uint16_t tag, std::uint32_t rate, std::uint16_t channels,
                         std::uint16_t bits);

// The format chooser's model: every format the table can write for these rates and
// channel counts (PCM included), in tag order.
struct FormatChoice {
  std::uint16_t tag;
  std::uint32_t rate;
  std::uint16_t channels;
  std::uint16_t bits;
};
std::vector<FormatChoice> WritableFormats();

// A short name of a format tag ("PCM", "IEEE Float", "A-Law", "µ-Law", "IMA ADPCM",
// "Microsoft ADPCM", ...); "Format 0x%04X" for others.
std::string FormatTagName(std::uint16_t tag);

}  // namespace sonavel
