#include "formats/mp3_frames.h"

#include <algorithm>
#include <cstring>

#include "formats/wave_format.h"

namespace sonavel::mp3 {

namespace {

// The LAME extension follows the Xing tag's fixed 120 bytes (identifier, flags, frame and
// byte counts, table of contents, quality); delay and padding lie 21 bytes into it.
constexpr std::size_t kLameOffset = 120;
constexpr std::size_t kLameDelayOffset = 21;
// The VBRI tag sits 32 bytes after the header; its frame count 14 bytes into it.
constexpr std::size_t kVbriOffset = 4 + 32;
constexpr std::size_t kVbriFramesOffset = 14;

bool Matches(const std::uint8_t* frame, std::size_t bytes, std::size_t at, const char* text) {
  return at + 4 <= bytes && std::memcmp(frame + at, text, 4) == 0;
}

}  // namespace

std::optional<FoundHeader> SearchHeader(const std::uint8_t* bytes, std::size_t size) {
  if (size < kHeaderBytes) return std::nullopt;
  const std::size_t last = std::min(size - kHeaderBytes + 1, kSearchSpan);
  for (std::size_t at = 0; at < last; ++at) {
    if (bytes[at] != 0xFF) continue;
    if (auto header = ParseFrameHeader(bytes + at)) return FoundHeader{at, *header};
  }
  return std::nullopt;
}

int SmallestFrameBytes(const FrameHeader& header) {
  const int lowest_kbps = header.lower_sampling() ? 8 : 32;
  return (header.lower_sampling() ? 72 : 144) * lowest_kbps * 1000 / header.sample_rate;
}

std::optional<StreamTag> ReadStreamTag(const FrameHeader& header, const std::uint8_t* frame, std::size_t bytes) {
  StreamTag tag;
  // The Xing tag follows the side information, which encoders leave zero; some of them
  // put it there even when a CRC word moves the side information on by two bytes.
  for (const std::size_t at : {std::size_t(4) + header.side_info_bytes, std::size_t(header.main_data_offset())}) {
    const bool xing = Matches(frame, bytes, at, "Xing");
    if (!xing && !Matches(frame, bytes, at, "Info")) continue;
    tag.kind = xing ? StreamTag::Kind::kXing : StreamTag::Kind::kInfo;
    if (at + 12 <= bytes && (ReadBe32(frame + at + 4) & 1) != 0) tag.frames = ReadBe32(frame + at + 8);
    const std::size_t lame = at + kLameOffset;
    if (lame + kLameDelayOffset + 3 <= bytes &&
        (Matches(frame, bytes, lame, "LAME") || Matches(frame, bytes, lame, "Lavc") ||
         Matches(frame, bytes, lame, "Lavf"))) {
      const std::uint8_t* p = frame + lame + kLameDelayOffset;
      tag.delay = (p[0] << 4) | (p[1] >> 4);
      tag.padding = ((p[1] & 0x0F) << 8) | p[2];
    }
    return tag;
  }
  if (Matches(frame, bytes, kVbriOffset, "VBRI")) {
    tag.kind = StreamTag::Kind::kVbri;
    if (kVbriOffset + kVbriFramesOffset + 4 <= bytes) tag.frames = ReadBe32(frame + kVbriOffset + kVbriFramesOffset);
    return tag;
  }
  return std::nullopt;
}

}  // namespace sonavel::mp3
