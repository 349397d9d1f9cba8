#pragma once
// The sink that turns a stream into a new block file pair and, when finished (its last
// reference released), makes its target Sound exactly the frames written, in one segment.
//
// Peak file: for every run of 256 frames (the last may be shorter), one 2-byte record per
// channel in channel order: min(255, max >> 11) of the run's largest sample (0 if none is
// positive) and min(255, -min >> 11) of its smallest (0 if none is negative).

#include <cstdint>
#include <vector>

#include "platform/file.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr std::int32_t kPeakRunFrames = 256;

class BlockWriter final : public SampleSink {
 public:
  // `target` must outlive the writer; it is replaced when the writer finishes.
  BlockWriter(Sound& target, std::int32_t sample_rate, std::uint8_t channel_count);
  ~BlockWriter() override;

  void Write(const std::int32_t* buffer, std::int32_t frames) override;
  // Moves the write position. The peak run that holds `frame` is written again when it
  // fills or the writer finishes, from the frames before `frame` already in the file and
  // the frames written from `frame` on.
  void Seek(std::int32_t frame) override;

  BlockId block() const { return segment_.block; }

 private:
  // Folds `frames` frames into the running maxima and minima.
  void Fold(const std::int32_t* buffer, std::int32_t frames);
  void EmitPeaks();
  void FlushPeaks();

  Sound& target_;
  Segment segment_;
  File audio_;
  File peaks_;
  std::int32_t accumulated_ = 0;  // frames folded into the current run
  std::vector<std::int32_t> maximum_;
  std::vector<std::int32_t> minimum_;
  std::vector<std::uint8_t> pending_;  // peak records not yet written
};

SinkRef CreateBlockWriter(Sound& target, std::int32_t sample_rate, std::uint8_t channels);

}  // namespace sonavel
