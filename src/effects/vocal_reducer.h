#pragma once
// Vocal reduction: the difference of a stereo pair, which cancels whatever both channels
// carry alike (a voice mixed to the middle) and keeps what differs between them.

#include <cstdint>

#include "effects/effect.h"
#include "effects/filter_source.h"

namespace sonavel {

inline constexpr std::int32_t kVocalReducerPeak = 0x200000;

// One channel of left − right per stereo frame, computed wide and saturated to 32 bits.
class VocalReducer final : public FilterSource {
 public:
  explicit VocalReducer(SourceRef source);
  void Read(std::int32_t* buffer, std::int32_t frames) override;

 private:
  std::vector<std::int32_t> input_;
};

// The reducer over a stereo `source`; any other channel count (or a failed source) passes
// unchanged.
SourceRef MakeVocalReducer(SourceRef source);

// What the command writes over a stereo reader: left − right, in `channels` (1 for the
// whole sound, 2 when the rest of a stereo sound stays), limited to full scale.
SourceRef VocalReductionChain(SourceRef reader, std::uint8_t channels);

}  // namespace sonavel
