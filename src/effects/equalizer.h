#pragma once
// The drawn-curve equaliser: its frequency axis, the curve's point list in "equalizer.dat",
// the band and pass preset curves, the 2048-bin response table, the coefficients of the
// linear-phase FIR filter of 4095 taps and the filter itself.
//
// A curve point (x, y) lies at f(x) Hz (x = 0 is 0 Hz, x = 255 is 20 000 Hz on a
// logarithmic-like axis) with the gain y / 128 (127.5 is 100 %).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "effects/envelope.h"
#include "effects/filter_source.h"

namespace sonavel {

class SettingsReader;
class Settings;
class UnorderedFft;

inline constexpr int kEqualizerBins = 2048;
using EqualizerTable = std::array<std::uint8_t, kEqualizerBins>;
using FirCoefficients = std::array<std::int32_t, kEqualizerBins>;

// The frequency axis: f(x) = truncate(20000 × (e^(x / 255 × ln 16) − 1) / 15) Hz, its inverse
// X(f) (truncated) and a percentage as a curve height, Y(p) = truncate(p × 0.005 × 255).
int EqualizerFrequency(int x);
int EqualizerX(double hz);
int EqualizerY(double percent);

// Where the curve lives: "equalizer.dat" in UserDataFolder(). Loading reads it through the
// point-list reader (at most 64 points, x raised; missing or empty gives the flat default,
// written back).
std::string EqualizerFilePath();
EnvelopePoints LoadEqualizerPoints();
bool SaveEqualizerPoints(const EnvelopePoints& points);

// The presets of the drop-down, in its order (0 chooses none).
enum class EqualizerPreset { kNone = 0, kBandPass, kBandStop, kHighPass, kLowPass, kNotch, kBoostCut };
inline constexpr int kEqualizerPresets = 7;
// The drop-down's texts and the settings group of each preset's values ("Boost/Cut" is one
// group name, not a path).
extern const std::array<const char*, kEqualizerPresets> kEqualizerPresetNames;
extern const std::array<const char*, kEqualizerPresets> kEqualizerPresetKeys;

// The stored values of a band preset (BandPass, BandStop, Notch, Boost/Cut; Hz and %).
struct BandValues {
  int start = 8000;
  int end = 12000;
  int slope = 1000;
  int amp = 50;
};
// The stored values of a pass preset (HighPass, LowPass).
struct PassValues {
  int freq = 4000;
  int slope = 1000;
  int amp = 50;
};
// The six points of a band preset's curve after its limits.
EnvelopePoints BandPresetCurve(EqualizerPreset preset, BandValues values);
// The four points of a pass preset's curve after its limits.
EnvelopePoints PassPresetCurve(EqualizerPreset preset, PassValues values);
// A preset's values as stored under its own group (missing ones at their defaults), and
// its curve built from them; kNone gives the flat curve.
BandValues ReadBandValues(EqualizerPreset preset, const SettingsReader& settings);
PassValues ReadPassValues(EqualizerPreset preset, const SettingsReader& settings);
void WriteBandValues(EqualizerPreset preset, const BandValues& values, Settings& settings);
void WritePassValues(EqualizerPreset preset, const PassValues& values, Settings& settings);
EnvelopePoints PresetCurve(EqualizerPreset preset, const SettingsReader& settings);

// The response table of a curve at `rate` (44100 when not positive). Each segment runs
// from its first point's f(x) bin to its second point's f(x) bin with a linear ramp; bins
// below the first point take its y, bins after the last point take the last y. Fewer than
// two points fill the table with the first y (128 with none).
EqualizerTable BuildEqualizerTable(const EnvelopePoints& points, std::int32_t rate);

// The FIR coefficients of a table: c[i] = (truncate(sum) + 4) >> 3 with
// sum = T[0] / 2 + Σ j=1..2047 of T[j] cos(j i π / 2048) + T[2047] / 2 × cos(i π),
// so a flat table of 128 gives {32768, 0, …}. The fast form evaluates the sum as a cosine
// transform by FFT and falls back to the direct sum where the truncation is in doubt; the
// direct form is the reference.
FirCoefficients ComputeFirCoefficients(const EqualizerTable& table);
FirCoefficients DirectFirCoefficients(const EqualizerTable& table);

// The zero-phase FIR filter of 4095 taps (look-ahead 2047 frames) over one or two channels;
// other channel counts pass through. Works on 8192-frame blocks shifted right by the least
// s that keeps every sample of the window within 15 bits, and outputs
// (c[0] w[k] + Σ c[m] (w[k − m] + w[k + m])) >> (15 − s), summed in 64 bits and saturated
// to 32. The exact form sums directly; the fast form convolves by FFT and rounds the sums,
// which recovers the same integers unless the rounding error reaches ½.
class FirEqualizer final : public FilterSource {
 public:
  static constexpr std::int32_t kTaps = 2 * kEqualizerBins - 1;
  static constexpr std::int32_t kHalf = kEqualizerBins - 1;  // the look-ahead
  static constexpr std::int32_t kBlock = 8192;
  static constexpr std::int32_t kWindow = kTaps + kBlock;  // frames

  FirEqualizer(SourceRef source, const FirCoefficients& coefficients, bool exact = false);
  ~FirEqualizer() override;

  void Read(std::int32_t* buffer, std::int32_t frames) override;
  std::int32_t Position() const override { return position_; }
  void Seek(std::int32_t frame) override;

 private:
  // Reads `frames` frames from upstream into window frame `at` onwards.
  void Fill(std::int32_t at, std::int32_t frames);
  // Shifts the window right by the least s that brings its peak within 15 bits, and
  // computes the block's output when fast.
  void Normalise();
  // The next block: the last 4095 frames move to the front at full size, 8192 more follow.
  void NextBlock();
  void ConvolveBlock();
  std::int32_t ExactSample(std::int32_t k, int channel) const;
  std::int32_t Scale(std::int64_t sum) const;

  FirCoefficients c_;
  bool exact_;
  bool active_;
  bool primed_ = false;
  int channels_;
  std::vector<std::int32_t> window_;  // kWindow frames, interleaved
  std::int32_t k_ = 0;  // the next output frame of the block
  int shift_ = 0;       // s of the block
  std::int32_t position_ = 0;
  // Fast form: the kernel's spectrum and the block's output.
  std::unique_ptr<UnorderedFft> plan_;
  std::vector<double> kernel_real_;
  std::vector<double> kernel_imaginary_;
  std::vector<double> real_;
  std::vector<double> imaginary_;
  std::vector<std::int32_t> output_;  // kBlock frames, interleaved
};

// The equaliser on `source` for `table`: the fast filter (the exact one with `exact`), or
// `source` itself for more than two channels or a flat table of 128.
SourceRef MakeFirEqualizer(SourceRef source, const EqualizerTable& table, bool exact = false);

// The telephone effect's band table: 100 from the 300 Hz bin to below the 3600 Hz bin,
// else 0, with the bins b = min(614400 / N, 2047), c = min(7372800 / N, 2047), N = rate / 2.
EqualizerTable TelephoneTable(std::int32_t rate);
// The telephone effect's band filter at the source's rate (its soft clip follows).
SourceRef MakeTelephoneBand(SourceRef source);
// The whole telephone effect: the band filter, then a soft clip at -8 dB of degree 0.1.
SourceRef MakeTelephone(SourceRef source);

}  // namespace sonavel
