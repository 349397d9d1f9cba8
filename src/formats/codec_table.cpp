#include "formats/codec_table.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "formats/codecs_internal.h"
#include "formats/g711.h"

namespace sonavel {
namespace codecs {

BlockStream::BlockStream(std::size_t source_block, std::size_t destination_block)
    : source_block_(std::max<std::size_t>(source_block, 1)),
      destination_block_(std::max<std::size_t>(destination_block, 1)) {}

std::size_t BlockStream::SourceSizeFor(std::size_t destination_bytes) const {
  const std::size_t blocks = destination_bytes / destination_block_ +
                             (destination_bytes % destination_block_ != 0 ? 1 : 0);
  if (blocks > std::numeric_limits<std::size_t>::max() / source_block_)
    return std::numeric_limits<std::size_t>::max() / source_block_ * source_block_;
  return blocks * source_block_;
}

std::size_t BlockStream::DestinationSizeFor(std::size_t source_bytes) const {
  const std::size_t blocks = source_bytes / source_block_;
  const std::size_t tail = TailSize(source_bytes % source_block_);
  if (blocks > (std::numeric_limits<std::size_t>::max() - tail) / destination_block_)
    return std::numeric_limits<std::size_t>::max();
  return blocks * destination_block_ + tail;
}

ConvertResult BlockStream::Convert(const std::uint8_t* source, std::size_t source_bytes,
                                   std::uint8_t* destination, std::size_t destination_bytes,
                                   unsigned flags) {
  ConvertResult result;
  if ((flags & kConvertStart) != 0) Restart();
  if (source == nullptr) source_bytes = 0;
  if (destination == nullptr) destination_bytes = 0;

  const std::size_t blocks =
      std::min(source_bytes / source_block_, destination_bytes / destination_block_);
  if (blocks > 0) {
    const std::size_t done = ConvertBlocks(source, destination, blocks);
    result.source_used = done * source_block_;
    result.destination_used = done * destination_block_;
    if (done < blocks) {
      // Bad data: report it only when nothing came before it in this call, so that the
      // caller first takes the good blocks.
      result.ok = done > 0;
      return result;
    }
  }

  const std::size_t rest = source_bytes - result.source_used;
  if ((flags & kConvertEnd) == 0 || rest == 0 || rest >= source_block_) return result;
  const std::size_t tail = TailSize(rest);
  if (tail == 0) {
    result.source_used += rest;  // too short to hold anything: dropped
  } else if (tail <= destination_bytes - result.destination_used) {
    if (ConvertTail(source + result.source_used, rest, destination + result.destination_used)) {
      result.source_used += rest;
      result.destination_used += tail;
    } else {
      result.ok = result.source_used > 0;
    }
  }
  return result;
}

std::uint32_t AverageBytes(std::uint32_t rate, std::size_t block_align,
                           std::size_t samples_per_block) {
  if (samples_per_block == 0) return 0;
  const std::uint64_t bytes =
      (std::uint64_t{rate} * block_align + samples_per_block / 2) / samples_per_block;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, 0xFFFFFFFFu));
}

namespace {

// A-law and µ-law: one byte per sample. Decoding goes through a 256-entry table.
class G711Stream : public BlockStream {
 public:
  G711Stream(bool alaw, bool encode, std::uint16_t channels)
      : BlockStream(encode ? 2u * channels : channels, encode ? channels : 2u * channels),
        alaw_(alaw),
        encode_(encode),
        channels_(channels) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      const std::int32_t value = alaw ? ExpandALaw(static_cast<std::uint8_t>(byte))
                                      : ExpandMuLaw(static_cast<std::uint8_t>(byte));
      expanded_[byte] = static_cast<std::int16_t>(value / 16);
    }
  }

 protected:
  std::size_t ConvertBlocks(const std::uint8_t* source, std::uint8_t* destination,
                            std::size_t count) override {
    const std::size_t samples = count * channels_;
    if (encode_) {
      for (std::size_t i = 0; i < samples; ++i) {
        const std::int32_t value = ReadSample(source + 2 * i) * 16;
        destination[i] = alaw_ ? CompressALaw(value) : CompressMuLaw(value);
      }
    } else {
      for (std::size_t i = 0; i < samples; ++i) WriteSample(destination + 2 * i, expanded_[source[i]]);
    }
    return count;
  }
  std::size_t TailSize(std::size_t) const override { return 0; }
  bool ConvertTail(const std::uint8_t*, std::size_t, std::uint8_t*) override { return true; }

 private:
  bool alaw_;
  bool encode_;
  std::uint16_t channels_;
  std::array<std::int16_t, 256> expanded_{};
};

bool G711LayoutValid(const WaveFormat& coded) {
  return coded.bits == 8 && coded.block_align == coded.channels;
}

}  // namespace
}  // namespace codecs

namespace {

bool IsPcm16(const WaveFormat& format) {
  return format.tag == kTagPcm && format.bits == 16;
}

bool CodedLayoutValid(const WaveFormat& coded) {
  switch (coded.tag) {
    case kTagFloat: return codecs::FloatLayoutValid(coded);
    case kTagALaw:
    case kTagMuLaw: return codecs::G711LayoutValid(coded);
    case kTagImaAdpcm: return codecs::ImaAdpcmLayoutValid(coded);
    case kTagMsAdpcm: return codecs::MsAdpcmLayoutValid(coded);
    case kTagGsm610: return codecs::Gsm610LayoutValid(coded);
    case kTagMpegLayer3: return codecs::Mp3LayoutValid(coded);
    default: return false;
  }
}

// The coded side of a conversion the table can do, or null; `encode` tells the direction.
const WaveFormat* CodedSide(const WaveFormat& from, const WaveFormat& to, bool& encode) {
  const bool from_pcm = IsPcm16(from);
  if (from_pcm == IsPcm16(to)) return nullptr;
  const WaveFormat& pcm = from_pcm ? from : to;
  const WaveFormat& coded = from_pcm ? to : from;
  if (pcm.channels == 0 || pcm.channels > 255 || pcm.rate == 0) return nullptr;
  if (coded.channels != pcm.channels || coded.rate != pcm.rate) return nullptr;
  if (!CodedLayoutValid(coded)) return nullptr;
  if (from_pcm && coded.tag == kTagMpegLayer3) return nullptr;  // decoded only
  encode = from_pcm;
  return &coded;
}

WaveFormat NoFormat() {
  WaveFormat none;
  none.tag = 0;
  return none;
}

// A record with a fixed number of bytes per sample and no extra data.
WaveFormat PlainFormat(std::uint16_t tag, std::uint32_t rate, std::uint16_t channels,
                       std::uint16_t bits) {
  WaveFormat format;
  format.tag = tag;
  format.channels = channels;
  format.rate = rate;
  format.bits = bits;
  format.block_align = static_cast<std::uint16_t>(channels * (bits / 8));
  format.avg_bytes_per_sec = codecs::AverageBytes(rate, format.block_align, 1);
  return format;
}

}  // namespace

std::unique_ptr<CodecStream> OpenCodecStream(const WaveFormat& from, const WaveFormat& to) {
  bool encode = false;
  const WaveFormat* coded = CodedSide(from, to, encode);
  if (coded == nullptr) return nullptr;
  switch (coded->tag) {
    case kTagFloat: return codecs::OpenFloatStream(*coded, encode);
    case kTagALaw:
    case kTagMuLaw:
      return std::make_unique<codecs::G711Stream>(coded->tag == kTagALaw, encode, coded->channels);
    case kTagImaAdpcm: return codecs::OpenImaAdpcmStream(*coded, encode);
    case kTagMsAdpcm: return codecs::OpenMsAdpcmStream(*coded, encode);
    case kTagGsm610: return codecs::OpenGsm610Stream(*coded, encode);
    case kTagMpegLayer3: return codecs::OpenMp3Stream(*coded, encode);
    default: return nullptr;
  }
}

bool CanConvert(const WaveFormat& from, const WaveFormat& to) {
  bool encode = false;
  return CodedSide(from, to, encode) != nullptr;
}

WaveFormat SuggestFormat(std::uint16_t tag, std::uint32_t rate, std::uint16_t channels,
                         std::uint16_t bits) {
  if (rate == 0 || channels == 0 || channels > 255) return NoFormat();
  switch (tag) {
    case kTagPcm:
      if (bits == 8 || bits == 16 || bits == 24 || bits == 32) return PlainFormat(tag, rate, channels, bits);
      break;
    case kTagFloat:
      if (bits == 32 || bits == 64) return PlainFormat(tag, rate, channels, bits);
      break;
    case kTagALaw:
    case kTagMuLaw:
      if (bits == 8) return PlainFormat(tag, rate, channels, bits);
      break;
    case kTagImaAdpcm:
      if (bits == 4) return codecs::SuggestImaAdpcm(rate, channels);
      break;
    case kTagMsAdpcm:
      if (bits == 4) return codecs::SuggestMsAdpcm(rate, channels);
      break;
    case kTagGsm610:
      if (bits == 0 && channels == 1) return codecs::SuggestGsm610(rate);
      break;
    default: break;
  }
  return NoFormat();
}

std::vector<FormatChoice> WritableFormats() {
  static constexpr std::uint32_t kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
  // Tag order; within a tag by rate, then bits, then channels.
  static constexpr struct {
    std::uint16_t tag;
    std::array<std::uint16_t, 4> bits;
    int bit_count;
    std::uint16_t most_channels;
  } kTags[] = {{kTagPcm, {8, 16, 24, 32}, 4, 2}, {kTagMsAdpcm, {4}, 1, 2},  {kTagFloat, {32, 64}, 2, 2},
               {kTagALaw, {8}, 1, 2},           {kTagMuLaw, {8}, 1, 2},    {kTagImaAdpcm, {4}, 1, 2},
               {kTagGsm610, {0}, 1, 1}};
  std::vector<FormatChoice> choices;
  for (const auto& entry : kTags)
    for (std::uint32_t rate : kRates)
      for (int b = 0; b < entry.bit_count; ++b)
        for (std::uint16_t channels = 1; channels <= entry.most_channels; ++channels)
          choices.push_back({entry.tag, rate, channels, entry.bits[static_cast<std::size_t>(b)]});
  return choices;
}

std::string FormatTagName(std::uint16_t tag) {
  switch (tag) {
    case kTagPcm: return "PCM";
    case kTagMsAdpcm: return "Microsoft ADPCM";
    case kTagFloat: return "IEEE Float";
    case kTagALaw: return "A-Law";
    case kTagMuLaw: return "µ-Law";
    case kTagImaAdpcm: return "IMA ADPCM";
    case kTagGsm610: return "GSM 6.10";
    case kTagMpegLayer3: return "MPEG Layer-3";
    case kTagExtensible: return "Extensible";
    default: break;
  }
  char name[16];
  std::snprintf(name, sizeof name, "Format 0x%04X", static_cast<unsigned>(tag));
  return name;
}

}  // namespace sonavel
