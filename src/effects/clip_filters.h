#pragma once
// The distortion family's filters: the three-slope soft clipper (distortion, AM radio and
// the telephone effect end with it), the one-pole high- and low-pass of the AM radio, and
// the second-order high-pass ("Low Frequency Cut"). All work in integer arithmetic on the
// store scale and saturate to 32 bits where a wide result would not fit.

#include <cstdint>
#include <vector>

#include "effects/filter_source.h"

namespace sonavel {

// A symmetric curve of three slopes (Q24): k_lo below T1 = T / 4, k_mid up to T2 = T and
// k_hi above, with offsets that keep it continuous. T = 10^(level / 20) × 131072, computed
// wide and limited to 32 bits. Degree 0 makes every slope 1 (the input passes unchanged);
// degree 1 makes the top slope 0, a hard limit at T.
class SoftClipFilter final : public FilterSource {
 public:
  // `level_db` is limited to a decibel byte (-127 … 127) first.
  SoftClipFilter(SourceRef source, int level_db, double degree);
  void Read(std::int32_t* buffer, std::int32_t frames) override;

  // The curve for one sample.
  std::int32_t Clip(std::int32_t x) const;
  // True when every slope is 1 and the curve changes nothing.
  bool Identity() const;

  std::int32_t t1 = 0;
  std::int32_t t2 = 0;
  std::int32_t k_lo = 0;
  std::int32_t k_mid = 0;
  std::int32_t k_hi = 0;
  std::int32_t o_mid = 0;
  std::int32_t o_hi = 0;
};

// The soft clipper on `source`, or `source` itself when it would change nothing.
SourceRef MakeSoftClip(SourceRef source, int level_db, double degree);

// The Q8 coefficient of the one-pole filters: (1 - e^(-2π fc / rate)) × 256, truncated.
std::int32_t OnePoleCoefficient(double cut_off_hz, std::int32_t rate);

// One-pole high-pass per channel: y = x - (a >> 8), a += y × k. Seek clears the
// accumulators. The peak bound doubles when it is at most 0x100000.
class OnePoleHigh final : public FilterSource {
 public:
  OnePoleHigh(SourceRef source, double cut_off_hz);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;

  std::int32_t k;

 private:
  std::vector<std::int64_t> accumulators_;
};

// One-pole low-pass per channel: a += (x - (a >> 8)) × k, output a >> 8.
class OnePoleLow final : public FilterSource {
 public:
  OnePoleLow(SourceRef source, double cut_off_hz);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;

  std::int32_t k;

 private:
  std::vector<std::int64_t> accumulators_;
};

// The AM radio: one-pole high-pass at 100 Hz, one-pole low-pass at 5000 Hz, then the soft
// clipper at -8 dB with degree 0.05.
SourceRef MakeAmRadio(SourceRef source);

// The second-order high-pass (Q 0.707) with Q24 coefficients a1, a2, b0, b1 (b2 = b0,
// b1 = -2 b0 up to truncation). The products are summed exactly in 64 bits and the
// fraction the output drops is carried into the next sample, so the rounding leaves no DC
// offset however low the cut-off. Cut-offs not positive become 10 Hz; cut-offs from
// kHighestCutOff × rate up are limited to it, since at half the rate and above the
// filter would be unstable. Peak bound 0x3FFFFF.
class HighPassFilter final : public FilterSource {
 public:
  static constexpr double kHighestCutOff = 0.49;

  HighPassFilter(SourceRef source, int cut_off_hz);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;

  std::int32_t a1 = 0;
  std::int32_t a2 = 0;
  std::int32_t b0 = 0;
  std::int32_t b1 = 0;

 private:
  struct State {
    std::int64_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    std::int64_t carry = 0;  // the dropped fraction of the last output, 0 … 2^24 - 1
  };
  std::vector<State> states_;
};

}  // namespace sonavel
