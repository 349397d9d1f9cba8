#pragma once
// The source over a Sound: reads its segments' block files in order, applying each
// segment's gain, and delivers silence for silence segments, before frame 0 and past
// the end. It reads its own copy of the sound, so later edits do not disturb it.

#include <cstdint>

#include "platform/file.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::int32_t kSegmentReaderPeak = 0x200000;

class SegmentReader final : public SampleSource {
 public:
  explicit SegmentReader(const Sound& sound);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override { return length_; }
  // A negative frame gives that many frames of leading silence.
  void Seek(std::int32_t frame) override;

 private:
  // Opens the block of `segment` at `frame` frames into it; silence opens nothing.
  void OpenSegment(const Segment& segment, std::int64_t frame);

  Sound sound_;
  const Segment* current_ = nullptr;  // the next segment to open
  std::int32_t position_ = 0;
  std::int32_t length_ = 0;
  File file_;
  std::int64_t frames_left_ = 0;
  std::int32_t gain_factor_ = 512;  // gain >> 15; 512 is unity
};

SourceRef OpenSoundReader(const Sound& sound);

}  // namespace sonavel
