#pragma once
// The built-in codec table: conversion streams between a coded wave format and 16-bit
// PCM at the same rate and channel count, in both directions. The WAV reader decodes
// every non-PCM format through it and the WAV writer encodes through it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/codec_stream.h"
#include "formats/wave_format.h"

namespace sonavel {

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
