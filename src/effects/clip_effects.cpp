// The distortion family: the soft clipper, the one-pole filters and the second-order
// high-pass, and the catalogue entries of distortion, AM radio and the high-pass filter.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "effects/clip_filters.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect_groups.h"

namespace sonavel {
namespace {

constexpr int kDistortionCommand = 4028;
constexpr int kAmRadioCommand = 4029;
constexpr int kHighPassCommand = 4031;
constexpr const char* kDistortionKey = "Distortion";
// The soft clipper's threshold scale: T = 10^(level / 20) × 131072 (a quarter of full scale).
constexpr double kClipScale = 131072.0;
constexpr int kHighestDecibelByte = 127;
// Peak bounds up to this are doubled by the one-pole filters.
constexpr std::int32_t kOnePoleDoublesBelow = 0x100000;
constexpr std::int32_t kHighPassPeak = 0x3FFFFF;
constexpr int kDefaultCutOff = 10;
// 1 / (2 Q) for Q = 0.707.
constexpr double kHighPassDamping = 0.7072135785007072;
constexpr int kQ24Shift = 24;

std::int32_t Q24(double factor) { return static_cast<std::int32_t>(factor * kQ24Unity); }

void DoublePeak(SampleSource& source) {
  if (source.peak_bound <= kOnePoleDoublesBelow) source.peak_bound *= 2;
}

}  // namespace

SoftClipFilter::SoftClipFilter(SourceRef source, int level_db, double degree) : FilterSource(std::move(source)) {
  const int level = std::clamp(level_db, -kHighestDecibelByte, kHighestDecibelByte);
  // Levels above +84 dB give a threshold beyond 32 bits: it is limited, not wrapped.
  const double threshold = std::pow(10.0, level * 0.05) * kClipScale;
  const std::int32_t t = threshold >= INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(threshold);
  t1 = t >> 2;
  t2 = t;
  const double middle = 1.0 - 0.22 * degree;
  k_lo = Q24(4.0 - 3.0 * middle);
  k_mid = Q24(middle);
  k_hi = Q24(1.0 - degree);
  o_mid = SaturateToInt32(Q24MultiplyWide(t1, k_lo) - Q24MultiplyWide(t1, k_mid));
  o_hi = SaturateToInt32(std::int64_t{o_mid} - Q24MultiplyWide(t2, k_hi) + Q24MultiplyWide(t2, k_mid));
}

bool SoftClipFilter::Identity() const { return k_lo == kQ24Unity && k_mid == kQ24Unity && k_hi == kQ24Unity; }

std::int32_t SoftClipFilter::Clip(std::int32_t x) const {
  // Each region's slope and offset is chosen without a branch so that the loop vectorises;
  // negative samples mirror the curve.
  const std::int64_t wide = x;
  const std::int64_t magnitude = wide < 0 ? -wide : wide;
  const bool low = magnitude < t1;
  const bool high = magnitude >= t2;
  const std::int64_t slope = low ? k_lo : (high ? k_hi : k_mid);
  const std::int64_t offset = low ? 0 : (high ? o_hi : o_mid);
  return SaturateToInt32(Q24MultiplyWide(wide, slope) + (wide < 0 ? -offset : offset));
}

void SoftClipFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const std::int64_t count = std::int64_t{frames} * channels;
  const SoftClipFilter& curve = *this;
  for (std::int64_t i = 0; i < count; ++i) buffer[i] = curve.Clip(buffer[i]);
}

SourceRef MakeSoftClip(SourceRef source, int level_db, double degree) {
  auto filter = MakeCounted<SoftClipFilter>(source, level_db, degree);
  if (filter->Identity()) return source;
  return filter;
}

std::int32_t OnePoleCoefficient(double cut_off_hz, std::int32_t rate) {
  if (rate <= 0) rate = 44100;
  return static_cast<std::int32_t>((1.0 - std::exp(-2.0 * std::numbers::pi * cut_off_hz / rate)) * 256.0);
}

OnePoleHigh::OnePoleHigh(SourceRef source, double cut_off_hz)
    : FilterSource(std::move(source)), k(OnePoleCoefficient(cut_off_hz, rate)), accumulators_(channels, 0) {
  DoublePeak(*this);
}

void OnePoleHigh::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const int stride = channels;
  for (int c = 0; c < stride; ++c) {
    std::int64_t a = accumulators_[c];
    std::int32_t* sample = buffer + c;
    for (std::int32_t n = 0; n < frames; ++n, sample += stride) {
      const std::int64_t y = *sample - (a >> 8);
      a += y * k;
      *sample = SaturateToInt32(y);
    }
    accumulators_[c] = a;
  }
}

void OnePoleHigh::Seek(std::int32_t frame) {
  std::fill(accumulators_.begin(), accumulators_.end(), 0);
  upstream->Seek(frame);
}

OnePoleLow::OnePoleLow(SourceRef source, double cut_off_hz)
    : FilterSource(std::move(source)), k(OnePoleCoefficient(cut_off_hz, rate)), accumulators_(channels, 0) {
  DoublePeak(*this);
}

void OnePoleLow::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const int stride = channels;
  for (int c = 0; c < stride; ++c) {
    std::int64_t a = accumulators_[c];
    std::int64_t b = a >> 8;
    std::int32_t* sample = buffer + c;
    for (std::int32_t n = 0; n < frames; ++n, sample += stride) {
      a += (*sample - b) * k;
      b = a >> 8;
      *sample = SaturateToInt32(b);
    }
    accumulators_[c] = a;
  }
}

void OnePoleLow::Seek(std::int32_t frame) {
  std::fill(accumulators_.begin(), accumulators_.end(), 0);
  upstream->Seek(frame);
}

SourceRef MakeAmRadio(SourceRef source) {
  SourceRef band = MakeCounted<OnePoleHigh>(std::move(source), 100.0);
  band = MakeCounted<OnePoleLow>(std::move(band), 5000.0);
  return MakeSoftClip(std::move(band), -8, 0.05);
}

HighPassFilter::HighPassFilter(SourceRef source, int cut_off_hz)
    : FilterSource(std::move(source)), states_(channels) {
  const double rate = this->rate > 0 ? this->rate : 44100;
  double cut_off = cut_off_hz > 0 ? cut_off_hz : kDefaultCutOff;
  cut_off = std::min(cut_off, kHighestCutOff * rate);
  const double w = 2.0 * std::numbers::pi * cut_off / rate;
  const double alpha = std::sin(w) * kHighPassDamping;
  const double l = 1.0 / (1.0 + alpha);
  const double c = std::cos(w);
  a1 = Q24(l * (-2.0 * c));
  a2 = Q24(l * (1.0 - alpha));
  b0 = Q24(l * (1.0 + c) / 2.0);
  b1 = Q24(l * -(1.0 + c));
  peak_bound = kHighPassPeak;
}

void HighPassFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const int stride = channels;
  for (int c = 0; c < stride; ++c) {
    State s = states_[c];
    std::int32_t* sample = buffer + c;
    for (std::int32_t n = 0; n < frames; ++n, sample += stride) {
      const std::int64_t x = *sample;
      // The exact sum of the products plus what the last output dropped; its floor is the
      // output and the rest carries on, so the rounding errors cancel over time.
      const std::int64_t sum = b0 * (x + s.x2) + b1 * s.x1 - a1 * s.y1 - a2 * s.y2 + s.carry;
      const std::int64_t y = SaturateToInt32(sum >> kQ24Shift);
      s.carry = sum & (kQ24Unity - 1);
      s.x2 = s.x1;
      s.x1 = x;
      s.y2 = s.y1;
      s.y1 = y;
      *sample = static_cast<std::int32_t>(y);
    }
    states_[c] = s;
  }
}

void HighPassFilter::Seek(std::int32_t frame) {
  std::fill(states_.begin(), states_.end(), State{});
  upstream->Seek(frame);
}

namespace {

EffectDefinition Distortion() {
  static const std::string kDegreeRefusal = "Verzögerungszeit muß zwischen 0.0 und 1.0 Millisekunden liegen";
  EffectDefinition effect;
  effect.command_id = kDistortionCommand;
  effect.undo_name = "Verzerrung";
  EffectParameter degree{.name = "Degree", .key = kDistortionKey, .fallback = "0.5", .label = "Grad (0.0 - 1.0)",
                         .id = 101, .real = true, .lowest = 0, .highest = 1, .too_high = kDegreeRefusal,
                         .too_low = kDegreeRefusal};
  // A decibel byte; the dialog's control spans -20 … +3 dB.
  EffectParameter level{.name = "Level", .key = kDistortionKey, .fallback = "-3", .label = "Pegel",
                        .id = 102, .lowest = -kHighestDecibelByte, .highest = kHighestDecibelByte,
                        .clamps_stored = true, .kind = EffectFieldKind::kDecibels, .control_lowest = -20,
                        .control_highest = 3};
  effect.parameters = {degree, level};
  effect.presets = {{"Clip", {"1.0", "-8"}}, {"Heavy", {"0.6", "-8"}}, {"Mittel", {"0.3", "-8"}},
                    {"Light", {"0.1", "-8"}}};
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    const int level = ValueInt(run.values, "Level");
    const double degree = ValueReal(run.values, "Degree");
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [&](SourceRef reader) { return MakeSoftClip(std::move(reader), level, degree); }, "Verzerrung",
        run.progress, run.input, run.output);
  };
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeSoftClip(std::move(reader), ValueInt(values, "Level"),
                        std::clamp(ValueReal(values, "Degree"), 0.0, 1.0));
  };
  return effect;
}

EffectDefinition AmRadio() {
  EffectDefinition effect;
  effect.command_id = kAmRadioCommand;
  effect.undo_name = "AM Radioeffekt";
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [](SourceRef reader) { return MakeAmRadio(std::move(reader)); }, "AM Radioeffekt", run.progress, run.input, run.output);
  };
  return effect;
}

EffectDefinition HighPass() {
  EffectDefinition effect;
  effect.command_id = kHighPassCommand;
  effect.undo_name = "High-Pass Filter";
  EffectParameter frequency{.name = "LowCutFreq", .fallback = "250", .label = "Grenzfrequenz (Hz)", .id = 101,
                            .lowest = 1, .highest = 1000000};
  effect.parameters = {frequency};
  effect.presets = {{"Allgemeines Audio Cleanup", {"200"}}, {"Radio- / Telefon -Qualität", {"4000"}}};
  effect.presets_id = 102;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    const int cut_off = ValueInt(run.values, "LowCutFreq");
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [cut_off](SourceRef reader) { return MakeCounted<HighPassFilter>(std::move(reader), cut_off); },
        "Low Frequency Cut", run.progress, run.input, run.output);
  };
  // The preview plays the lighter one-pole high-pass at twice the frequency.
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    const int cut_off = std::clamp(ValueInt(values, "LowCutFreq"), 1, 1000000);
    return SourceRef(MakeCounted<OnePoleHigh>(std::move(reader), 2.0 * cut_off));
  };
  return effect;
}

}  // namespace

void AddClipEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(Distortion());
  effects.push_back(AmRadio());
  effects.push_back(HighPass());
}

}  // namespace sonavel
