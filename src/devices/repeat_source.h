#pragma once
// The repeat source: plays a stretch of its inner source over and over, for playback with
// repeat. The loop is given in milliseconds and converted to frames at the inner rate; the
// smaller value becomes the loop start, the larger the loop end (negative times count as 0).
//
// Reading runs the inner source up to the lap end and then seeks it back to the loop start.
// The lap end is the loop end, but never less than loop start + 256 frames: a loop shorter
// than that (a selection of a few milliseconds) plays on past its end until 256 frames
// have passed since the loop start, so no lap is shorter than 256 frames and a tiny loop
// never turns into a seek per handful of frames. A first lap that begins inside the loop
// ends at the same lap end; one that begins at or beyond the lap end wraps at once.
//
// The length is loop end + 8 × rate, which the reported position (the inner source's own,
// so the cursor follows the sound) never reaches: the engine plays until it is closed.

#include <cstdint>

#include "store/stream.h"

namespace sonavel {

inline constexpr std::int32_t kRepeatMinimumLap = 256;

class RepeatSource final : public SampleSource {
 public:
  // Holds one reference to `inner` (a null one reads as a placeholder).
  RepeatSource(SourceRef inner, std::int64_t loop_start_ms, std::int64_t loop_end_ms);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  std::int32_t Position() const override { return inner_->Position(); }
  std::int32_t Length() const override { return length_; }
  // A frame before the loop end is sought as it is. A frame f at or beyond it goes to
  // loop start + ((f - loop end) mod (loop end - loop start)); a loop of zero length (its
  // start equal to its end, at 0 or anywhere else) takes every such frame to its start.
  void Seek(std::int32_t frame) override;

  std::int32_t loop_start() const { return loop_start_; }
  std::int32_t loop_end() const { return loop_end_; }
  // Where a lap turns back: max(loop end, loop start + 256).
  std::int64_t lap_end() const { return lap_end_; }

 private:
  SourceRef inner_;
  std::int32_t loop_start_ = 0;
  std::int32_t loop_end_ = 0;
  std::int64_t lap_end_ = 0;
  std::int32_t length_ = 0;
};

// A repeat source over `inner` looping between the two times (in either order).
SourceRef MakeRepeatSource(SourceRef inner, std::int64_t loop_start_ms, std::int64_t loop_end_ms);

}  // namespace sonavel
