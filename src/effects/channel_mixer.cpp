#include "effects/channel_mixer.h"

#include <algorithm>
#include <cmath>

#include "effects/dsp/fixed_point.h"

namespace sonavel {
namespace {

std::vector<std::int32_t> GainsOf(const std::vector<int>& levels, std::size_t channels) {
  std::vector<std::int32_t> gains(channels, 0);
  for (std::size_t c = 0; c < channels && c < levels.size(); ++c) gains[c] = DecibelToQ24(levels[c]);
  return gains;
}

}  // namespace

ChannelMixer::ChannelMixer(SourceRef source, const std::vector<int>& left_levels,
                           const std::vector<int>& right_levels)
    : FilterSource(std::move(source)),
      left_(GainsOf(left_levels, channels)),
      right_(GainsOf(right_levels, channels)),
      input_channels_(channels) {
  channels = 2;
  peak_bound = kChannelMixerPeak;
}

void ChannelMixer::Read(std::int32_t* buffer, std::int32_t frames) {
  if (frames <= 0) return;
  const std::size_t in = input_channels_;
  input_.resize(static_cast<std::size_t>(frames) * in);
  upstream->Read(input_.data(), frames);
  CheckUpstream();
  const std::int32_t* frame = input_.data();
  for (std::int32_t f = 0; f < frames; ++f, frame += in) {
    std::uint32_t left = 0;  // unsigned sums wrap like 32-bit registers instead of overflowing
    std::uint32_t right = 0;
    for (std::size_t c = 0; c < in; ++c) {
      left += static_cast<std::uint32_t>(Q24Multiply(frame[c], left_[c]));
      right += static_cast<std::uint32_t>(Q24Multiply(frame[c], right_[c]));
    }
    buffer[2 * f] = static_cast<std::int32_t>(left);
    buffer[2 * f + 1] = static_cast<std::int32_t>(right);
  }
}

SourceRef MakeChannelMixer(SourceRef source, const std::vector<int>& left_levels,
                           const std::vector<int>& right_levels) {
  if (!source || source->status != kStatusOk) return source;
  return MakeCounted<ChannelMixer>(std::move(source), left_levels, right_levels);
}

int GainToDecibelByte(double gain) {
  if (!(gain > 0.0)) return kSilenceDb;
  return DecibelByte(20.0 * std::log10(gain));
}

std::pair<int, int> StereoPanLevels(int percent) {
  const double c = std::clamp(percent, 0, 100) * 0.01;
  return {GainToDecibelByte(std::sqrt(1.0 - c) * 1.4142), GainToDecibelByte(std::sqrt(c) * 1.4142)};
}

SourceRef MakeStereoPan(SourceRef source, int percent) {
  const auto [left, right] = StereoPanLevels(percent);
  return MakeChannelMixer(std::move(source), {left, kSilenceDb}, {kSilenceDb, right});
}

}  // namespace sonavel
