#pragma once
// The Layer III frame decoder: whole frames in, store samples out. It keeps what runs from
// frame to frame (the bit reservoir, the overlap of the hybrid filter bank, the polyphase
// history), so frames are fed in stream order; Reset forgets all of it, as after a seek.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/mp3_header.h"

namespace sonavel::mp3 {

// A full-scale decoded sample; a decoded wave may overshoot it, up to kDecodedPeak.
inline constexpr std::int32_t kDecodedFullScale = 524288;
inline constexpr std::int32_t kDecodedPeak = 2097152;

class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Decodes the frame of `header` held in `frame` (`bytes` long, from its header on) into
  // header.samples_per_frame × header.channels interleaved samples at `out`, scaled so that
  // full scale is kDecodedFullScale and limited to ±kDecodedPeak. Main data that the frame
  // takes from earlier frames comes from the frames fed before; a granule that lacks it
  // (the first frames after a Reset) or whose data is bad is decoded as silence, and the
  // result is false. A frame shorter than its header says is decoded from what is there.
  bool Decode(const FrameHeader& header, const std::uint8_t* frame, std::size_t bytes, std::int32_t* out);

  // Forgets the reservoir, the overlap and the synthesis history.
  void Reset();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sonavel::mp3
