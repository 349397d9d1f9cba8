#pragma once
// The look-ahead limiter: a source over another source that keeps every sample within a
// bound by lowering the gain ahead of loud passages and raising it again after them.
// Saving and the effect runners put it wherever a stream must stay within a bound.
//
// The inner stream is taken in blocks of W = rate / 35 frames (20 … 8192). Three blocks
// are held: A, being delivered, and B and C, the look-ahead. Each block gets a gain in
// 24-bit fixed point (0x1000000 is unity) that brings its peak under the limit, and over
// each block the current gain moves in equal steps towards the lower of A's and B's gains
// (or the mean of the four latest block gains, if lower still). The delivered frames line
// up with the inner frames: there is no latency at the output.

#include <cstdint>
#include <vector>

#include "store/stream.h"

namespace sonavel {

inline constexpr std::int32_t kLimiterMaxLimit = 0x3FFFFF;
inline constexpr std::int32_t kLimiterUnity = 0x1000000;

// Block length for a sample rate: rate / 35, clamped to 20 … 8192 frames.
std::int32_t LimiterBlockLength(std::int32_t rate);
// Gain that brings a block whose peak magnitude is `peak` under `limit`: unity when the
// peak is within the limit, else about limit / peak in 24-bit fixed point.
std::int32_t LimiterBlockGain(std::int64_t peak, std::int32_t limit);
// x × gain / 0x1000000 as the limiter computes it, in three partial products of 12 bits.
// Inline, so that the limiter's sample loop becomes vector code.
inline std::int32_t LimiterScale(std::int32_t x, std::int32_t gain) {
  const std::int32_t gain_high = gain >> 12;
  const std::int32_t gain_low = gain & 0xFFF;
  const std::int32_t x_high = x >> 12;
  const std::int32_t x_low = x & 0xFFF;
  return ((x_low * gain_high) >> 12) + ((x_high * gain_low) >> 12) + x_high * gain_high;
}

class PeakLimiter final : public SampleSource {
 public:
  // Holds one reference to `inner` (a null one reads as a placeholder). The limit is
  // min(bound, 0x3FFFFF), and no less than 0; it becomes this source's peak bound.
  PeakLimiter(SourceRef inner, std::int32_t bound);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  // The inner frame that the next read delivers.
  std::int32_t Position() const override;
  std::int32_t Length() const override { return inner_->Length(); }
  // Seeks the inner source and primes the filter there again, so that what follows equals
  // a new limiter started at `frame`.
  void Seek(std::int32_t frame) override;

  std::int32_t limit() const { return peak_bound; }
  std::int32_t block_length() const { return block_; }

 private:
  // Reads the next block of the inner source into `block` and returns its gain.
  std::int32_t Fill(std::vector<std::int32_t>& block);
  void Prime();
  // Rotates the blocks and takes the next one from the inner source.
  void Advance();
  // Sets the step so that the gain reaches its target at the end of block A.
  void ComputeRamp();

  SourceRef inner_;
  std::int32_t block_;  // W
  std::vector<std::int32_t> a_, b_, c_;
  std::int32_t gain_prev_ = kLimiterUnity;
  std::int32_t gain_a_ = kLimiterUnity;
  std::int32_t gain_b_ = kLimiterUnity;
  std::int32_t gain_c_ = kLimiterUnity;
  std::int32_t gain_ = kLimiterUnity;  // applied to the next frame
  std::int32_t step_ = 0;              // added to the gain after each frame
  std::int32_t read_ = 0;              // p: frames of A already delivered; 3 × W before priming
};

// The limiter on the writing side: what is written passes through a PeakLimiter into
// `target`. The limiter looks up to four blocks ahead, so that much is held back until
// the sink is released, when the rest follows. `peak` is the largest magnitude the writer
// may deliver; within the bound nothing is held or changed. Write failures of the target
// show in this sink's status.
SinkRef MakeLimitingSink(SinkRef target, std::int32_t bound, std::int32_t peak);

// A limiter over `inner` with the given bound.
SourceRef MakePeakLimiter(SourceRef inner, std::int32_t bound);
// `source` itself when its peak bound is within `bound`, else a limiter over it.
SourceRef LimitTo(SourceRef source, std::int32_t bound);

}  // namespace sonavel
