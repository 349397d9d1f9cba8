#include "formats/wave_format.h"

#include <algorithm>

namespace sonavel {

WaveFormat DefaultFormat(std::uint32_t rate, std::uint16_t channels) {
  return PcmFormat(rate, channels, 16);
}

WaveFormat PcmFormat(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
  WaveFormat format;
  format.tag = kTagPcm;
  format.channels = channels;
  format.rate = rate;
  format.bits = bits;
  format.block_align = static_cast<std::uint16_t>((bits + 7) / 8 * channels);
  format.avg_bytes_per_sec = rate * format.block_align;
  return format;
}

WaveFormat ParseFormat(const std::uint8_t* bytes, std::size_t size) {
  std::uint8_t record[kFormatHeaderSize] = {};
  std::copy_n(bytes, std::min(size, kFormatHeaderSize), record);
  WaveFormat format;
  format.tag = ReadLe16(record);
  format.channels = ReadLe16(record + 2);
  format.rate = ReadLe32(record + 4);
  format.avg_bytes_per_sec = ReadLe32(record + 8);
  format.block_align = ReadLe16(record + 12);
  format.bits = ReadLe16(record + 14);
  if (size > kFormatHeaderSize) {
    const std::size_t extra = std::min<std::size_t>(ReadLe16(record + 16), size - kFormatHeaderSize);
    format.extra.assign(bytes + kFormatHeaderSize, bytes + kFormatHeaderSize + extra);
  }
  return format;
}

std::vector<std::uint8_t> SerializeFormat(const WaveFormat& format) {
  const std::size_t extra = std::min<std::size_t>(format.extra.size(), 0xFFFF);
  std::vector<std::uint8_t> bytes(kFormatHeaderSize + extra);
  WriteLe16(&bytes[0], format.tag);
  WriteLe16(&bytes[2], format.channels);
  WriteLe32(&bytes[4], format.rate);
  WriteLe32(&bytes[8], format.avg_bytes_per_sec);
  WriteLe16(&bytes[12], format.block_align);
  WriteLe16(&bytes[14], format.bits);
  WriteLe16(&bytes[16], static_cast<std::uint16_t>(extra));
  std::copy_n(format.extra.begin(), extra, bytes.begin() + kFormatHeaderSize);
  return bytes;
}

FormatBuffer ToBuffer(const WaveFormat& format) {
  WaveFormat fitted = format;
  if (fitted.extra.size() > kFormatBufferSize - kFormatHeaderSize)
    fitted.extra.resize(kFormatBufferSize - kFormatHeaderSize);
  std::vector<std::uint8_t> bytes = SerializeFormat(fitted);
  FormatBuffer buffer{};
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  return buffer;
}

WaveFormat FromBuffer(const FormatBuffer& buffer) {
  return ParseFormat(buffer.data(), buffer.size());
}

WaveFormat ResolveExtensible(const WaveFormat& format) {
  // Extension: valid bits (2), channel mask (4), sub-format GUID (16) whose first two
  // bytes are the tag.
  static constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  if (format.tag != kTagExtensible || format.extra.size() < 22) return format;
  const std::uint16_t sub_tag = ReadLe16(&format.extra[6]);
  if (sub_tag != kTagPcm && sub_tag != kTagFloat) return format;
  if (!std::equal(std::begin(kGuidTail), std::end(kGuidTail), format.extra.begin() + 8))
    return format;
  WaveFormat resolved = format;
  resolved.tag = sub_tag;
  resolved.extra.clear();
  return resolved;
}

}  // namespace sonavel
