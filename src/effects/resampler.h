#pragma once
// Rate, speed and channel conversion, and the one format conversion that playback,
// saving and the effects use whenever a stream must match a device or file format.
//
// The resampler is a 63-tap polyphase filter (Kaiser-windowed sinc) in 32-bit integer
// arithmetic: taps are scaled by 2^16, and the samples in its window are normalised per
// block of 8192 input frames to 15 bits by a right shift s, which the output undoes.
// Output frame n is centred on input position n × M / L, M / L being the exact reduced
// ratio of the rates; its phase (n × M mod L) picks one of L tap sets. Where the table of
// L tap sets would exceed kPolyphaseTableBytes, the tap set of each output is interpolated
// between the two nearest of kPrototypePhases + 1 finer-grained sets of the same filter,
// while position and phase still step in exact integers.
//
// HighQualityResampler is the optional long filter in double precision for material
// that needs more than the default's 60 dB.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "effects/filter_source.h"
#include "store/stream.h"

namespace sonavel {

class SettingsReader;

// The converter runs at the ratio M / L of input frames per output frame.
struct PolyphaseRatio {
  int L;  // phases
  int M;  // phase step
  bool operator==(const PolyphaseRatio&) const = default;
};

// Which filter converts rates: the 63-tap table below (the default, whose output stored
// files and peers may rely on), or the long high-quality design of HighQualityResampler.
enum class ResampleQuality { kDefault = 0, kHigh = 1 };

inline constexpr int kPolyphaseTaps = 63;
// The Kaiser window's shape for both directions: about 60 dB of stopband from 63 taps, so
// that neither images nor aliases reach -60 dB below 20 kHz between the common rates.
inline constexpr double kKaiserBeta = 5.65;
// The largest tap table a converter precomputes (L phases × 64 ints, twice that in stereo):
// 4096 phases in stereo, 8192 in mono, which every pair of the common rates from 6000 to
// 196000 Hz fits (11025 → 64000 needs the most, 2560).
inline constexpr std::size_t kPolyphaseTableBytes = std::size_t{2} << 20;
// Tap sets of the prototype that larger ratios interpolate between (linearly, in 15-bit
// weights, from taps kept with 8 more bits): within 0.05 of a tap unit of the exact taps.
inline constexpr int kPrototypePhases = 1024;

// The exact reduced ratio from_rate / to_rate, however many phases its denominator needs
// (44100 → 48000 gives L = 160, M = 147; 8000 → 44100 gives L = 441, M = 80). Rates ≤ 0
// give {1, 1}.
PolyphaseRatio ChoosePolyphaseRatio(std::int32_t from_rate, std::int32_t to_rate);

// Modified Bessel function of order 0 by its power series up to the (x² / 4)^6 term.
double BesselI0(double x);

// The tap table for converting from_rate to to_rate with `phases` phases: phases × 63 taps,
// phase j at [j × 63, j × 63 + 63), each rounded to the nearest integer (halves away from
// zero). `narrow` lowers the cutoff for the first of two downsampling stages.
std::vector<std::int32_t> PolyphaseTable(std::int32_t from_rate, std::int32_t to_rate,
                                         int phases, bool narrow);

class Resampler : public FilterSource {
 public:
  // A converter from the source's rate to `target_rate` (≤ 0 gives status 3). Its peak
  // bound is twice the source's when that is at most 0x100000. A tap table larger than
  // `table_bytes` is not built: the taps are interpolated from the prototype instead.
  Resampler(SourceRef source, std::int32_t target_rate, bool narrow = false,
            std::size_t table_bytes = kPolyphaseTableBytes);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  // The output frame that the next read delivers.
  std::int32_t Position() const override;
  // ceil(source length × L / M): every output frame centred inside the source.
  std::int32_t Length() const override;
  // Rebuilds the window so that what follows equals reading from the start up to `frame`
  // (as long as the block shifts agree, which they do for material whose 8192-frame blocks
  // have peaks in the same power-of-two range).
  void Seek(std::int32_t frame) override;

  PolyphaseRatio ratio() const { return ratio_; }
  bool narrow() const { return narrow_; }
  // Whether the taps come from the interpolated prototype rather than a table of L phases.
  bool interpolated() const { return interpolated_; }
  // The normalisation shift of the current block.
  int block_shift() const { return shift_; }

 private:
  // Places the window so that the next output is centred on input frame `center` with
  // phase `phase`; seeks the upstream when `seek_upstream`.
  void Start(std::int64_t center, std::int32_t phase, bool seek_upstream);
  // Reads the next block behind the history and normalises history and block afresh.
  void Refill();
  // Delivers `frames` input frames: pending leading zeros first, then the upstream's.
  void Fetch(std::int32_t* into, std::int32_t frames);

  PolyphaseRatio ratio_;
  bool narrow_;
  bool interpolated_ = false;
  int tap_stride_;                   // ints per phase in taps_
  // Per table phase: 63 taps and a zero, in stereo each twice. Or per prototype phase
  // (0 .. kPrototypePhases, in 2^24 scale): 63 taps and a zero, each once.
  std::vector<std::int32_t> taps_;
  std::vector<std::int32_t> step_;   // per table phase: input frames to advance after an output
  std::vector<std::int32_t> next_;   // per table phase: the phase of the following output
  std::vector<std::int32_t> window_;  // (32768 + 64) frames × channels
  std::int32_t read_ = 0;             // first window frame of the next output
  std::int32_t phase_ = 0;            // numerator of the next output, 0 ≤ phase < L
  std::int32_t end_ = 0;              // frames of valid data in the window
  int shift_ = 0;                     // s: window samples are input >> s
  std::int64_t base_ = 0;             // input frame held at window frame 0
  std::int64_t lead_zeros_ = 0;       // zero frames to deliver before the upstream's
};

// The high-quality converter: a Kaiser-windowed sinc computed at construction, flat to
// 0.1 dB up to kHighQualityPassband of the lower Nyquist frequency and at least
// kHighQualityStopbandDb down from that Nyquist frequency on, in double taps and sums.
// Output positions step in exact integers at the reduced ratio M / L, as in Resampler;
// the length and seeking are the same as there. Where L phases of taps would exceed
// `table_bytes`, each output's taps are interpolated (cubic) between
// kHighQualityPrototypePhases + 3 finer-grained phases of the same filter.
inline constexpr double kHighQualityPassband = 0.9;
inline constexpr double kHighQualityStopbandDb = 160;
inline constexpr std::size_t kHighQualityTableBytes = std::size_t{4} << 20;
inline constexpr int kHighQualityPrototypePhases = 512;

class HighQualityResampler : public FilterSource {
 public:
  HighQualityResampler(SourceRef source, std::int32_t target_rate,
                       std::size_t table_bytes = kHighQualityTableBytes);

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  std::int32_t Position() const override;
  std::int32_t Length() const override;
  void Seek(std::int32_t frame) override;

  PolyphaseRatio ratio() const { return ratio_; }
  bool interpolated() const { return interpolated_; }

 private:
  void Start(std::int64_t center, std::int32_t phase, bool seek_upstream);
  // Drops the window frames before the read position and appends a block of input.
  void Refill();

  PolyphaseRatio ratio_;
  int taps_per_phase_ = 0;            // a multiple of 8
  int half_ = 0;                      // taps_per_phase_ / 2: the centre is tap half_ - 1
  bool interpolated_ = false;
  std::vector<double> taps_;          // per phase (or prototype row) taps_per_phase_ taps
  std::vector<double> scratch_;       // the interpolated taps of one output
  std::vector<double> window_;        // per channel capacity_ frames, one channel after another
  std::vector<std::int32_t> block_;   // one interleaved block of input
  std::int32_t capacity_ = 0;
  std::int32_t read_ = 0;             // first window frame of the next output
  std::int32_t phase_ = 0;            // numerator of the next output, 0 ≤ phase < L
  std::int32_t end_ = 0;              // frames of valid data in the window
  std::int64_t base_ = 0;             // input frame held at window frame 0
  std::int64_t lead_zeros_ = 0;       // zero frames to deliver before the upstream's
};

// A converter of `source` to `target_rate`: the source itself when the rate is unchanged
// or its status is non-zero. At the default quality two stages when target_rate < rate / 4
// (first to twice the target with the narrow filter, then to the target). The high
// quality converts in one stage down to rate / 16; below that it first converts to 16
// times the target (recursively), which keeps the length exact.
SourceRef MakeResampler(SourceRef source, std::int32_t target_rate,
                        ResampleQuality quality = ResampleQuality::kDefault);

// Audio that plays `factor` times faster and higher: a resampler to round(rate / factor)
// whose reported rate stays the source's. The factor is limited below at 0.1; a factor
// that leaves the rate unchanged returns the source itself.
SourceRef MakeSpeedChanger(SourceRef source, double factor);

// 2 → 1 keeps the left channel, 1 → 2 copies the mono sample to both; any other pair
// passes unchanged.
class ChannelConverter : public FilterSource {
 public:
  ChannelConverter(SourceRef source, std::uint8_t target_channels);
  void Read(std::int32_t* buffer, std::int32_t frames) override;

 private:
  std::vector<std::int32_t> buffer_;  // 8192 frames × upstream channels
};

// The source itself when the pair is not 2 → 1 or 1 → 2 or its status is non-zero.
SourceRef MakeChannelConverter(SourceRef source, std::uint8_t channels);

// The stream of `source` in `rate` and `channels`: fewer channels first, then the rate
// (at `quality`), then more channels. A source with a non-zero status passes unchanged.
SourceRef ConvertFormat(SourceRef source, std::int32_t rate, std::uint8_t channels,
                        ResampleQuality quality = ResampleQuality::kDefault);

// The quality the settings choose (ResampleQuality: 1 high, anything else the default).
ResampleQuality StoredResampleQuality(const SettingsReader& settings);

}  // namespace sonavel
