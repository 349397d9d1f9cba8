#include "effects/equalizer.h"
#include "effects/equalizer_dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "effects/clip_filters.h"
#include "effects/dsp/fft.h"
#include "effects/effect_groups.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"

namespace sonavel {

const std::array<const char*, kEqualizerPresets> kEqualizerPresetNames = {
    "Voreinstellungen wählen", "BandPass", "BandStop", "HighPass", "LowPass", "Notch", "Boost/Schneiden"};
const std::array<const char*, kEqualizerPresets> kEqualizerPresetKeys = {
    "", "BandPass", "BandStop", "HighPass", "LowPass", "Notch", "Boost/Cut"};

namespace {

constexpr int kEqualizerCommand = 4003;
constexpr int kTelephoneCommand = 4030;
constexpr double kLn16 = 2.77258872;
constexpr int kHighestHz = 20000;
// The frequency-sum size: a cosine transform over 2048 + 1 points is a real FFT of 4096.
constexpr int kCosineOrder = 12;
// The block convolution: 12287 window frames with 4095 taps fit 16384 without wrapping.
constexpr int kConvolutionOrder = 14;

std::int32_t Saturate(std::int64_t value) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// A point's x; frequencies beyond the axis end at its last point.
std::uint8_t AxisX(double hz) { return static_cast<std::uint8_t>(std::clamp(EqualizerX(hz), 0, 255)); }
std::uint8_t Height(int percent) { return static_cast<std::uint8_t>(std::clamp(EqualizerY(percent), 0, 255)); }

// A stored preset value: a whole number in range, else the default.
int ReadPresetValue(const SettingsReader& settings, EqualizerPreset preset, const char* name, int fallback,
                    int highest) {
  const RangedSetting setting{{kEqualizerPresetKeys[static_cast<int>(preset)], name, fallback}, 0, highest};
  return settings.Read(setting);
}

// The table bin of a point's frequency at `rate`, at most 2048.
std::int32_t AxisBin(int x, std::int32_t rate) {
  const double bin = 2.0 * EqualizerFrequency(x) / rate * kEqualizerBins;
  return static_cast<std::int32_t>(std::min<double>(bin, kEqualizerBins));
}

// The flat table gives c = {32768, 0, …} only if the sums that are whole numbers come out
// whole: the fast sum is trusted where it lies further than this from an integer.
constexpr double kTruncationDoubt = 1e-6;

double DirectSum(const EqualizerTable& table, int i) {
  double sum = table[0] * 0.5;
  for (int j = 1; j < kEqualizerBins; ++j) {
    // j × i reduced modulo 2 × 2048 keeps the angle small and the cosine accurate.
    const int turn = (j * i) % (2 * kEqualizerBins);
    sum += std::cos(turn * std::numbers::pi / kEqualizerBins) * table[j];
  }
  sum += table[kEqualizerBins - 1] * 0.5 * ((i & 1) != 0 ? -1.0 : 1.0);
  return sum;
}

// The nearest integer (halves to even) of a value below 2^51 in magnitude: adding 1.5 × 2^52
// leaves no fraction bits. Plainer than llround and vectorised.
std::int64_t RoundToInteger(double value) {
  constexpr double kShifter = 6755399441055744.0;
  return static_cast<std::int64_t>((value + kShifter) - kShifter);
}

std::int32_t CoefficientOf(double sum) { return (static_cast<std::int32_t>(sum) + 4) >> 3; }

}  // namespace

int EqualizerFrequency(int x) {
  return static_cast<int>(kHighestHz * (std::exp(x / 255.0 * kLn16) - 1) / 15);
}

int EqualizerX(double hz) { return static_cast<int>(std::log(hz * 0.00005 * 15 + 1) * 91.97180893096903); }

int EqualizerY(double percent) { return static_cast<int>(percent * 0.005 * 255); }

std::string EqualizerFilePath() { return JoinPath(UserDataFolder(), "equalizer.dat"); }
EnvelopePoints LoadEqualizerPoints() { return LoadPointList(EqualizerFilePath()); }
bool SaveEqualizerPoints(const EnvelopePoints& points) { return SavePointList(EqualizerFilePath(), points); }

EnvelopePoints BandPresetCurve(EqualizerPreset preset, BandValues v) {
  if (preset == EqualizerPreset::kBoostCut || preset == EqualizerPreset::kNotch) v.amp = std::min(v.amp, 199);
  if (preset == EqualizerPreset::kNotch) {
    if (v.end - v.start <= 49) v.end = v.start + 50;
    v.slope = 0;
  } else {
    v.end = std::max(v.end, v.start);
  }
  if (preset == EqualizerPreset::kBandPass || preset == EqualizerPreset::kBandStop) v.amp = std::min(v.amp, 100);
  if (v.start - v.slope < 0) v.slope = v.start;
  v.end = std::min(v.end, kHighestHz);
  if (v.end + v.slope > kHighestHz) v.slope = kHighestHz - v.end;
  const bool pass = preset == EqualizerPreset::kBandPass;
  const std::uint8_t outside = Height(pass ? v.amp : 100);
  const std::uint8_t inside = Height(pass ? 100 : v.amp);
  return {{0, outside},
          {AxisX(v.start - v.slope), outside},
          {AxisX(v.start), inside},
          {AxisX(v.end), inside},
          {AxisX(v.end + v.slope), outside},
          {255, outside}};
}

EnvelopePoints PassPresetCurve(EqualizerPreset preset, PassValues v) {
  v.freq = std::min(v.freq, kHighestHz);
  if (v.freq - v.slope < 0) v.slope = v.freq;
  const std::uint8_t full = Height(100);
  const std::uint8_t limited = Height(std::min(v.amp, 100));
  if (preset == EqualizerPreset::kHighPass)
    return {{0, limited}, {AxisX(v.freq - v.slope), limited}, {AxisX(v.freq), full}, {255, full}};
  return {{0, full}, {AxisX(v.freq), full}, {AxisX(v.freq + v.slope), limited}, {255, limited}};
}

BandValues ReadBandValues(EqualizerPreset preset, const SettingsReader& settings) {
  const bool band = preset == EqualizerPreset::kBandPass || preset == EqualizerPreset::kBandStop;
  BandValues values;
  values.start = ReadPresetValue(settings, preset, "StartFreq", 8000, kHighestHz);
  values.end = ReadPresetValue(settings, preset, "EndFreq", 12000, kHighestHz);
  values.slope = ReadPresetValue(settings, preset, "Slope", 1000, kHighestHz);
  // The curve builder limits the level; the window's slider reaches 200 %.
  values.amp = ReadPresetValue(settings, preset, "Amp", band ? 50 : 1000, std::numeric_limits<int>::max());
  return values;
}

PassValues ReadPassValues(EqualizerPreset preset, const SettingsReader& settings) {
  PassValues values;
  values.freq = ReadPresetValue(settings, preset, "Freq", 4000, kHighestHz);
  values.slope = ReadPresetValue(settings, preset, "Slope", 1000, kHighestHz);
  values.amp = ReadPresetValue(settings, preset, "Amp", 50, std::numeric_limits<int>::max());
  return values;
}

void WriteBandValues(EqualizerPreset preset, const BandValues& values, Settings& settings) {
  const char* key = kEqualizerPresetKeys[static_cast<int>(preset)];
  settings.WriteValue(key, "StartFreq", values.start);
  settings.WriteValue(key, "EndFreq", values.end);
  settings.WriteValue(key, "Slope", values.slope);
  settings.WriteValue(key, "Amp", values.amp);
}

void WritePassValues(EqualizerPreset preset, const PassValues& values, Settings& settings) {
  const char* key = kEqualizerPresetKeys[static_cast<int>(preset)];
  settings.WriteValue(key, "Freq", values.freq);
  settings.WriteValue(key, "Slope", values.slope);
  settings.WriteValue(key, "Amp", values.amp);
}

EnvelopePoints PresetCurve(EqualizerPreset preset, const SettingsReader& settings) {
  switch (preset) {
    case EqualizerPreset::kNone: break;
    case EqualizerPreset::kHighPass:
    case EqualizerPreset::kLowPass: return PassPresetCurve(preset, ReadPassValues(preset, settings));
    default: return BandPresetCurve(preset, ReadBandValues(preset, settings));
  }
  return {{0, 128}, {255, 128}};
}

EqualizerTable BuildEqualizerTable(const EnvelopePoints& points, std::int32_t rate) {
  if (rate <= 0) rate = 44100;
  EqualizerTable table;
  if (points.size() < 2) {
    table.fill(points.empty() ? 128 : points.front().second);
    return table;
  }
  // Below the first point its height holds.
  const std::int32_t first = AxisBin(points.front().first, rate);
  std::fill(table.begin(), table.begin() + first, points.front().second);
  for (std::size_t p = 0; p + 1 < points.size(); ++p) {
    const std::int32_t b = AxisBin(points[p].first, rate);
    const std::int32_t t = AxisBin(points[p + 1].first, rate);
    const int from = points[p].second;
    const double step = t > b ? static_cast<double>(points[p + 1].second - from) / (t - b) : 0.0;
    for (std::int32_t i = b; i < t; ++i) table[i] = static_cast<std::uint8_t>(from + static_cast<int>(step * (i - b)));
  }
  const std::int32_t last = AxisBin(points.back().first, rate);
  std::fill(table.begin() + last, table.end(), points.back().second);
  return table;
}

FirCoefficients DirectFirCoefficients(const EqualizerTable& table) {
  FirCoefficients c;
  for (int i = 0; i < kEqualizerBins; ++i) c[i] = CoefficientOf(DirectSum(table, i));
  return c;
}

FirCoefficients ComputeFirCoefficients(const EqualizerTable& table) {
  // The sum is half the DFT of the table mirrored about bin 2048 (which repeats T[2047]).
  const FftPlan plan(kCosineOrder);
  const int n = plan.size();
  std::vector<double> real(n, 0.0);
  std::vector<double> imaginary(n, 0.0);
  for (int j = 0; j < kEqualizerBins; ++j) real[j] = table[j];
  real[kEqualizerBins] = table[kEqualizerBins - 1];
  for (int j = 1; j < kEqualizerBins; ++j) real[n - j] = table[j];
  plan.Forward(real.data(), imaginary.data());
  FirCoefficients c;
  for (int i = 0; i < kEqualizerBins; ++i) {
    double sum = real[i] * n / 2;
    if (std::abs(sum - std::round(sum)) < kTruncationDoubt) sum = DirectSum(table, i);
    c[i] = CoefficientOf(sum);
  }
  return c;
}

FirEqualizer::FirEqualizer(SourceRef source, const FirCoefficients& coefficients, bool exact)
    : FilterSource(std::move(source)), c_(coefficients), exact_(exact) {
  channels_ = channels;
  active_ = channels_ == 1 || channels_ == 2;
  position_ = upstream->Position();
  if (!active_) return;
  window_.assign(static_cast<std::size_t>(kWindow) * channels_, 0);
  if (exact_) return;
  plan_ = std::make_unique<UnorderedFft>(kConvolutionOrder);
  const std::int32_t n = plan_->size();
  kernel_real_.assign(n, 0.0);
  kernel_imaginary_.assign(n, 0.0);
  for (std::int32_t j = 0; j < kTaps; ++j) kernel_real_[j] = c_[std::abs(j - kHalf)];
  plan_->Forward(kernel_real_.data(), kernel_imaginary_.data());
  // The inverse transform multiplies by N: the kernel's spectrum takes the 1 / N.
  for (std::int32_t i = 0; i < n; ++i) {
    kernel_real_[i] /= n;
    kernel_imaginary_[i] /= n;
  }
  real_.resize(n);
  imaginary_.resize(n);
  output_.resize(static_cast<std::size_t>(kBlock) * channels_);
}

FirEqualizer::~FirEqualizer() = default;

void FirEqualizer::Fill(std::int32_t at, std::int32_t frames) {
  upstream->Read(window_.data() + static_cast<std::size_t>(at) * channels_, frames);
  CheckUpstream();
}

void FirEqualizer::Normalise() {
  std::int64_t peak = 0;
  for (const std::int32_t sample : window_) peak = std::max<std::int64_t>(peak, std::abs(std::int64_t{sample}));
  shift_ = 0;
  while ((peak >> shift_) > 0x7FFF) ++shift_;
  if (shift_ > 0)
    for (std::int32_t& sample : window_) sample >>= shift_;
  k_ = 0;
  if (!exact_) ConvolveBlock();
}

void FirEqualizer::NextBlock() {
  const std::size_t kept = static_cast<std::size_t>(kTaps) * channels_;
  const std::size_t from = static_cast<std::size_t>(kBlock) * channels_;
  for (std::size_t i = 0; i < kept; ++i) window_[i] = static_cast<std::int32_t>(std::int64_t{window_[from + i]} << shift_);
  Fill(kTaps, kBlock);
  Normalise();
}

std::int32_t FirEqualizer::Scale(std::int64_t sum) const {
  const int right = 15 - shift_;
  return Saturate(right >= 0 ? sum >> right : sum * (std::int64_t{1} << -right));
}

std::int32_t FirEqualizer::ExactSample(std::int32_t k, int channel) const {
  const std::int32_t* w = window_.data() + static_cast<std::size_t>(kHalf + k) * channels_ + channel;
  std::int64_t sum = std::int64_t{c_[0]} * w[0];
  for (std::int32_t m = 1; m < kEqualizerBins; ++m)
    sum += std::int64_t{c_[m]} * (std::int64_t{w[-m * channels_]} + w[m * channels_]);
  return Scale(sum);
}

void FirEqualizer::ConvolveBlock() {
  // Both channels at once: the left as the real part, the right as the imaginary part;
  // the kernel is real, so they stay apart.
  const std::int32_t n = plan_->size();
  for (std::int32_t f = 0; f < kWindow; ++f) {
    real_[f] = window_[static_cast<std::size_t>(f) * channels_];
    imaginary_[f] = channels_ == 2 ? window_[2 * static_cast<std::size_t>(f) + 1] : 0.0;
  }
  std::fill(real_.begin() + kWindow, real_.end(), 0.0);
  std::fill(imaginary_.begin() + kWindow, imaginary_.end(), 0.0);
  plan_->Forward(real_.data(), imaginary_.data());
  for (std::int32_t i = 0; i < n; ++i) {
    const double re = real_[i] * kernel_real_[i] - imaginary_[i] * kernel_imaginary_[i];
    const double im = real_[i] * kernel_imaginary_[i] + imaginary_[i] * kernel_real_[i];
    real_[i] = re;
    imaginary_[i] = im;
  }
  plan_->Inverse(real_.data(), imaginary_.data());
  // Output frame k is the full convolution at k + 4094.
  for (std::int32_t k = 0; k < kBlock; ++k) {
    output_[static_cast<std::size_t>(k) * channels_] = Scale(RoundToInteger(real_[k + kTaps - 1]));
    if (channels_ == 2) output_[2 * static_cast<std::size_t>(k) + 1] = Scale(RoundToInteger(imaginary_[k + kTaps - 1]));
  }
}

void FirEqualizer::Read(std::int32_t* buffer, std::int32_t frames) {
  if (!active_) {
    upstream->Read(buffer, frames);
    CheckUpstream();
    position_ += frames;
    return;
  }
  if (!primed_) {
    // Zeros before the first frame, then the first 2048 + 8192 frames.
    std::fill(window_.begin(), window_.end(), 0);
    Fill(kHalf, kWindow - kHalf);
    Normalise();
    primed_ = true;
  }
  for (std::int32_t done = 0; done < frames;) {
    if (k_ == kBlock) NextBlock();
    const std::int32_t n = std::min(frames - done, kBlock - k_);
    std::int32_t* out = buffer + static_cast<std::size_t>(done) * channels_;
    if (exact_) {
      for (std::int32_t f = 0; f < n; ++f)
        for (int c = 0; c < channels_; ++c) out[f * channels_ + c] = ExactSample(k_ + f, c);
    } else {
      std::copy_n(output_.begin() + static_cast<std::size_t>(k_) * channels_, static_cast<std::size_t>(n) * channels_,
                  out);
    }
    k_ += n;
    done += n;
  }
  position_ += frames;
}

void FirEqualizer::Seek(std::int32_t frame) {
  position_ = frame;
  if (!active_) {
    upstream->Seek(frame);
    return;
  }
  // The window starts 2047 frames before `frame`; frames before 0 are zeros.
  const std::int32_t from = frame - kHalf;
  const std::int32_t zeros = std::max(0, -from);
  std::fill(window_.begin(), window_.begin() + static_cast<std::size_t>(zeros) * channels_, 0);
  upstream->Seek(std::max(0, from));
  Fill(zeros, kWindow - zeros);
  Normalise();
  primed_ = true;
}

SourceRef MakeFirEqualizer(SourceRef source, const EqualizerTable& table, bool exact) {
  if (source->channels != 1 && source->channels != 2) return source;
  const FirCoefficients c = ComputeFirCoefficients(table);
  // A unit impulse (the flat curve) changes nothing but the low bits of samples beyond
  // 16-bit full scale, which the block shift would drop: no filter.
  FirCoefficients unit{};
  unit[0] = 1 << 15;
  if (c == unit) return source;
  return MakeCounted<FirEqualizer>(std::move(source), c, exact);
}

SourceRef MakeTelephoneBand(SourceRef source) {
  const EqualizerTable table = TelephoneTable(source->rate);
  return MakeFirEqualizer(std::move(source), table);
}

SourceRef MakeTelephone(SourceRef source) { return MakeSoftClip(MakeTelephoneBand(std::move(source)), -8, 0.1); }

EqualizerTable TelephoneTable(std::int32_t rate) {
  std::int32_t half = rate / 2;
  if (half <= 0) half = 44100;
  const std::int32_t low = std::min(614400 / half, kEqualizerBins - 1);
  const std::int32_t high = std::min(7372800 / half, kEqualizerBins - 1);
  EqualizerTable table;
  table.fill(0);
  for (std::int32_t i = low; i < high; ++i) table[i] = 100;
  return table;
}

namespace {

// The selection alone: frames outside [start, end) read as zeros, so that the filter's
// look-ahead and look-back see silence beyond the selection's ends.
class SelectionOnly final : public FilterSource {
 public:
  SelectionOnly(SourceRef source, std::int32_t start, std::int32_t end)
      : FilterSource(std::move(source)), start_(start), end_(end), position_(upstream->Position()) {}

  void Read(std::int32_t* buffer, std::int32_t frames) override {
    upstream->Read(buffer, frames);
    CheckUpstream();
    const std::int64_t from = position_;
    const std::int64_t to = from + frames;
    // Zero the frames before the start and from the end on.
    const std::int64_t before = std::clamp<std::int64_t>(start_ - from, 0, frames);
    const std::int64_t after = std::clamp<std::int64_t>(to - end_, 0, frames);
    std::fill(buffer, buffer + before * channels, 0);
    std::fill(buffer + (frames - after) * channels, buffer + std::int64_t{frames} * channels, 0);
    position_ += frames;
  }
  std::int32_t Position() const override { return position_; }
  void Seek(std::int32_t frame) override {
    upstream->Seek(frame);
    position_ = frame;
  }

 private:
  std::int32_t start_;
  std::int32_t end_;
  std::int32_t position_;
};

EffectDefinition Equalizer() {
  EffectDefinition effect;
  effect.command_id = kEqualizerCommand;
  effect.undo_name = "Equalizer";
  effect.progress_title = "Equalizing";
  EffectParameter preset{.name = "EQPreset", .fallback = "0", .label = "Voreinstellung", .id = 105};
  preset.choices.assign(kEqualizerPresetNames.begin(), kEqualizerPresetNames.end());
  effect.parameters = {preset};
  effect.presets_id = 105;
  effect.lead_in_ms = 1000;
  effect.streams = true;
  effect.dialog = EffectDialogKind::kEqualizer;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.controls = [](Settings& settings, const EffectValues& values) {
    return std::make_shared<EqualizerEditor>(settings, ValueInt(values, "EQPreset"));
  };
  // The dialog stores every change of its curve at once, so the stored curve is the one
  // shown.
  effect.preview = [](SourceRef reader, const EffectValues&) {
    const EqualizerTable table = BuildEqualizerTable(LoadEqualizerPoints(), reader->rate);
    return MakeFirEqualizer(std::move(reader), table);
  };
  effect.run = [](EffectRun& run) {
    // The editor hands over its curve; else a chosen preset's stored values make it, and
    // without one the stored curve is used.
    EnvelopePoints points = run.points;
    if (points.empty()) {
      const int index = std::clamp(ValueInt(run.values, "EQPreset"), 0, kEqualizerPresets - 1);
      if (index > 0) {
        Registry registry;
        points = PresetCurve(static_cast<EqualizerPreset>(index), Settings(registry));
      } else {
        points = LoadEqualizerPoints();
      }
    }
    const EqualizerTable table = BuildEqualizerTable(points, run.sound.rate);
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [&](SourceRef reader) {
          return MakeFirEqualizer(MakeCounted<SelectionOnly>(std::move(reader), run.start, run.end), table);
        },
        "Equalizing", run.progress, run.input, run.output);
  };
  return effect;
}

EffectDefinition Telephone() {
  EffectDefinition effect;
  effect.command_id = kTelephoneCommand;
  effect.undo_name = "Telefoneffekt";
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [&run](SourceRef reader) {
          return MakeTelephone(MakeCounted<SelectionOnly>(std::move(reader), run.start, run.end));
        },
        "Telefoneffekt", run.progress, run.input, run.output);
  };
  return effect;
}

}  // namespace

void AddEqualizerEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(Equalizer());
  effects.push_back(Telephone());
}

}  // namespace sonavel
