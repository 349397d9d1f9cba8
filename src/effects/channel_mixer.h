#pragma once
// The channel mixer: a filter whose output always has two channels, each a sum of every
// input channel at its own level. Stereo pan is built from it.

#include <cstdint>
#include <utility>
#include <vector>

#include "effects/filter_source.h"

namespace sonavel {

inline constexpr std::int32_t kChannelMixerPeak = 0x200000;

class ChannelMixer final : public FilterSource {
 public:
  // One decibel byte per input channel for the left and for the right output (-127, the
  // silence code, gives gain 0); input channels missing from a list get gain 0.
  ChannelMixer(SourceRef source, const std::vector<int>& left_levels, const std::vector<int>& right_levels);

  // left = Σc q24(in[c], GL[c]); right = Σc q24(in[c], GR[c]), wrapping as 32-bit sums.
  void Read(std::int32_t* buffer, std::int32_t frames) override;

  const std::vector<std::int32_t>& left_gains() const { return left_; }
  const std::vector<std::int32_t>& right_gains() const { return right_; }

 private:
  std::vector<std::int32_t> left_;   // Q24, one per input channel
  std::vector<std::int32_t> right_;
  std::uint8_t input_channels_;
  std::vector<std::int32_t> input_;
};

// A mixer over `source`; `source` itself when its status is not 0.
SourceRef MakeChannelMixer(SourceRef source, const std::vector<int>& left_levels,
                           const std::vector<int>& right_levels);

// A gain factor as a decibel byte: 20 × log10(gain) rounded half away from zero and
// limited to -127 … 127; a gain of 0 (or less) is the silence code.
int GainToDecibelByte(double gain);
// The left and right decibel bytes of a stereo pan at `percent` (0 left … 100 right,
// limited to that range): √(1 − c) × 1.4142 and √c × 1.4142 with c = percent / 100.
std::pair<int, int> StereoPanLevels(int percent);
// The stereo pan filter: left from channel 0 only, right from channel 1 only.
SourceRef MakeStereoPan(SourceRef source, int percent);

}  // namespace sonavel
