#pragma once
// Spectral subtraction: a noise floor per frequency bin, estimated from the selection
// itself (a percentile of each bin's levels over its blocks) or from a noise sample the
// user took, is taken off the magnitude of every bin of overlapping Hamming-windowed
// frames. The noise sample lives for the whole program run.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "effects/dsp/fft.h"
#include "effects/effect.h"
#include "effects/filter_source.h"
#include "platform/dialog_model.h"
#include "platform/progress.h"
#include "platform/result.h"

namespace sonavel {

inline constexpr std::int32_t kLargestSpectralFftSize = 8192;
// The percentile of the levels taken as noise for a noise sample.
inline constexpr int kNoiseSamplePercentile = 90;
// A noise sample of more whole seconds than this is refused.
inline constexpr std::int32_t kLongestNoiseSampleSeconds = 8;

// The FFT size N for a rate: the smallest 2^m, m ≥ 3, with 2^m ≥ (rate / 33) × 3 / 4 (integer
// arithmetic); 1024 at 44100 Hz.
std::int32_t SpectralFftSize(std::int32_t rate);

// The noise magnitude of each bin below N / 2, per channel, and what it was measured on.
struct SpectralProfile {
  std::int32_t size = 0;  // N
  std::int32_t rate = 0;
  std::uint8_t channels = 0;
  std::vector<double> magnitude;  // channel by channel, N / 2 values each

  const double* Channel(int channel) const { return magnitude.data() + static_cast<std::size_t>(channel) * size / 2; }
  // Whether it applies to audio of this rate and channel count (the FFT size follows the rate).
  bool FitsSound(std::int32_t sound_rate, std::uint8_t sound_channels) const {
    return size == SpectralFftSize(sound_rate) && rate == sound_rate && channels == sound_channels;
  }
};

// Why [start, end) of audio at `rate` cannot be analysed (a rate needing an FFT above 8192
// points, or fewer frames than one block of N), with `caption`; nullopt when it can.
std::optional<Message> SpectralRangeRefusal(std::int32_t rate, std::int32_t frames, std::string_view caption);

// Reads [start, end) of `source` in blocks of N frames and takes, per channel and bin, the
// level below which `percentile` % of the blocks lie. The range must pass
// SpectralRangeRefusal (else kFailed). Progress runs from 0 to 30 %. kDone with `profile`
// filled, or kCancelled.
Result EstimateSpectralProfile(SampleSource& source, std::int32_t start, std::int32_t end, int percentile,
                               Progress& progress, SpectralProfile& profile);

// Takes the profile's magnitudes off each bin of frames of N hopping by N / 4: per frame the
// part of each bin up to its noise magnitude is the noise estimate, which is subtracted with
// a triangular crossfade between the overlapping frames. Two channels share one complex FFT.
// A profile that does not fit the source (SpectralProfile::FitsSound) leaves it unchanged.
class SpectralSubtractor final : public FilterSource {
 public:
  SpectralSubtractor(SourceRef source, SpectralProfile profile);
  void Read(std::int32_t* buffer, std::int32_t frames) override;
  void Seek(std::int32_t frame) override;
  std::int32_t Position() const override { return position_; }

 private:
  // Moves the frame on by a hop, reading N / 4 new frames, and fills `ready_` with the N / 4
  // frames the crossfade has finished.
  void Hop();
  void Reset();

  bool fits_;
  FftPlan plan_;
  std::int32_t size_;
  std::int32_t hop_;
  SpectralProfile profile_;
  std::vector<double> window_;
  // The crossfade's weights over a hop, divided by the window: k / (N / 4 × w[N / 4 + k]),
  // then (N / 4 − k) / (N / 4 × w[N / 2 + k]).
  std::vector<double> crossfade_;
  std::vector<double> frame_;      // the last N input frames, channel by channel
  std::vector<double> pending_;    // the falling half of the previous frame's estimate, per channel
  std::vector<double> real_;
  std::vector<double> imaginary_;
  std::vector<std::int32_t> input_;
  std::vector<std::int32_t> ready_;  // interleaved output frames of the last hop
  std::int32_t ready_offset_ = 0;
  std::int32_t fill_hops_ = 0;  // hops still filling the pipeline, whose output comes before the start
  std::int32_t position_ = 0;
};

// The noise sample of this program run: null until one was taken.
const SpectralProfile* NoiseSampleProfile();
// Replaces the noise sample (an empty profile forgets it).
void SetNoiseSampleProfile(SpectralProfile profile);

// The refusals of the noise sample commands.
Message NoiseSampleTooLongMessage();
Message IncompatibleNoiseSampleMessage();

}  // namespace sonavel
