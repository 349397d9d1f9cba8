#pragma once
// Finding Layer III frames in a run of bytes: the search that the ".mp3" reader and the
// MP3-in-WAV stream share, and the tags an encoder leaves in a stream's first frame.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "formats/mp3_header.h"

namespace sonavel::mp3 {

// How far a search slides, byte by byte, before it gives up.
inline constexpr std::size_t kSearchSpan = 65535;

struct FoundHeader {
  std::size_t offset = 0;
  FrameHeader header;
};

// The first header among the first kSearchSpan positions of `bytes` (`size` long) whose
// four bytes all lie inside them; nothing when there is none.
std::optional<FoundHeader> SearchHeader(const std::uint8_t* bytes, std::size_t size);

// The smallest frame of the stream of `header` (its lowest bit rate, no padding).
int SmallestFrameBytes(const FrameHeader& header);

// What the first frame of a stream may say about it instead of holding sound: a "Xing"
// tag (its twin "Info" for constant bit rates) or a "VBRI" tag, perhaps with an encoder's
// delay and padding (the LAME extension of the Xing tag).
struct StreamTag {
  enum class Kind : std::uint8_t { kXing, kInfo, kVbri } kind = Kind::kXing;
  std::optional<std::uint32_t> frames;  // the frames after the tag frame, when stated
  // The encoder's delay at the start and its padding at the end, in samples (12 bits each).
  std::optional<int> delay;
  std::optional<int> padding;
};

// The tag in the first frame `frame` (`bytes` long, from its header on), or nothing when
// the frame holds sound.
std::optional<StreamTag> ReadStreamTag(const FrameHeader& header, const std::uint8_t* frame, std::size_t bytes);

}  // namespace sonavel::mp3
