// The delay and modulation filters and their effect commands: Echo, Reverb, Chorus,
// Flanger and Phaser.

#include "effects/delay_effects.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "effects/dsp/fixed_point.h"
#include "effects/dsp/sine.h"
#include "effects/effect_groups.h"
#include "effects/resampler.h"

namespace sonavel {
namespace {

constexpr std::int32_t kShortestEcho = 20;
constexpr std::int32_t kShortestReverb = 128;
constexpr std::int32_t kLongestSweepMs = 1000;

// `bound` times `factor`, held at the largest 32-bit value.
std::int32_t ScaledBound(std::int32_t bound, double factor) {
  return static_cast<std::int32_t>(
      std::min<double>(std::max(bound, 0) * factor, std::numeric_limits<std::int32_t>::max()));
}

// The linear interpolation between the samples h and h + 1 frames back, weighted 1 − a
// and a, times `gain`, truncated.
inline std::int64_t Voice(double a, std::int32_t near, std::int32_t far, double gain) {
  return static_cast<std::int64_t>(((1.0 - a) * near + a * far) * gain);
}

}  // namespace

// ---- Echo ----

EchoFilter::EchoFilter(SourceRef source, std::int32_t length, std::int32_t gain)
    : FilterSource(std::move(source)),
      ring_(static_cast<std::size_t>(std::max(length, kShortestEcho)), 0),
      gain_(gain) {
  // The repeats may grow without limit; only the saturation bounds them.
  peak_bound = std::numeric_limits<std::int32_t>::max();
}

void EchoFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const std::int64_t total = std::int64_t{frames} * channels;
  const std::int32_t length = static_cast<std::int32_t>(ring_.size());
  const std::int64_t gain = gain_;
  for (std::int64_t done = 0; done < total;) {
    // Up to the ring's end the read and written samples are the same ones, in order.
    const std::int32_t run = static_cast<std::int32_t>(std::min<std::int64_t>(total - done, length - write_));
    std::int32_t* ring = ring_.data() + write_;
    std::int32_t* out = buffer + done;
    for (std::int32_t j = 0; j < run; ++j) {
      const std::int32_t y = SaturateToInt32(out[j] + ((ring[j] * gain) >> 9));
      out[j] = y;
      ring[j] = y;
    }
    write_ += run;
    if (write_ == length) write_ = 0;
    done += run;
  }
}

void EchoFilter::Seek(std::int32_t frame) {
  std::fill(ring_.begin(), ring_.end(), 0);
  write_ = 0;
  upstream->Seek(frame);
}

// ---- Reverb ----

ReverbFilter::ReverbFilter(SourceRef source, std::int32_t length, std::int32_t level)
    : FilterSource(std::move(source)), ring_(static_cast<std::size_t>(std::max(length, kShortestReverb)), 0) {
  const double l = static_cast<double>(ring_.size());
  start_taps_ = {static_cast<std::int32_t>(l * 0.7413), static_cast<std::int32_t>(l * 0.5581),
                 static_cast<std::int32_t>(l * 0.3823), static_cast<std::int32_t>(l * 0.211)};
  gains_ = {static_cast<std::int32_t>(0.4 * level), static_cast<std::int32_t>(0.1 * level),
            static_cast<std::int32_t>(0.3 * level), static_cast<std::int32_t>(0.07 * level),
            static_cast<std::int32_t>(0.13 * level)};
  peak_bound = std::numeric_limits<std::int32_t>::max();
  Reset();
}

void ReverbFilter::Reset() {
  std::fill(ring_.begin(), ring_.end(), 0);
  read_ = start_taps_;
  write_ = 0;
}

void ReverbFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const std::int64_t total = std::int64_t{frames} * channels;
  const std::int32_t length = static_cast<std::int32_t>(ring_.size());
  const std::int64_t g1 = gains_[0], g2 = gains_[1], g3 = gains_[2], g4 = gains_[3], g5 = gains_[4];
  std::int32_t* ring = ring_.data();
  for (std::int64_t done = 0; done < total;) {
    // A run ends where the first of the five indices reaches the ring's end.
    std::int64_t run = std::min<std::int64_t>(total - done, length - write_);
    for (std::int32_t r : read_) run = std::min<std::int64_t>(run, length - r);
    const std::int32_t* t1 = ring + read_[0];
    const std::int32_t* t2 = ring + read_[1];
    const std::int32_t* t3 = ring + read_[2];
    const std::int32_t* t4 = ring + read_[3];
    std::int32_t* w = ring + write_;
    std::int32_t* out = buffer + done;
    for (std::int64_t j = 0; j < run; ++j) {
      const std::int64_t y = out[j] + ((t1[j] * g1) >> 9) + ((t2[j] * g2) >> 9) + ((t3[j] * g3) >> 9) +
                             ((t4[j] * g4) >> 9) + ((w[j] * g5) >> 9);
      const std::int32_t s = SaturateToInt32(y);
      w[j] = s;
      out[j] = s;
    }
    const auto advance = [&](std::int32_t& index) {
      index += static_cast<std::int32_t>(run);
      if (index == length) index = 0;
    };
    for (std::int32_t& r : read_) advance(r);
    advance(write_);
    done += run;
  }
}

void ReverbFilter::Seek(std::int32_t frame) {
  Reset();
  upstream->Seek(frame);
}

// ---- Swept delays ----

SweptDelayFilter::SweptDelayFilter(SourceRef source, int time_ms, int depth_percent)
    : FilterSource(std::move(source)) {
  delay_ = static_cast<std::int32_t>(std::int64_t{std::clamp(time_ms, 0, kLongestSweepMs)} * rate / 1000);
  depth_ = static_cast<double>(std::int64_t{delay_} * std::clamp(depth_percent, 0, 100) / 100);
  ring_frames_ = delay_ + static_cast<std::int32_t>(depth_) + 2;
  ring_.assign(static_cast<std::size_t>(ring_frames_) * channels, 0);
}

void SweptDelayFilter::Seek(std::int32_t frame) {
  // The sweep goes on where it was; only the stored frames go.
  std::fill(ring_.begin(), ring_.end(), 0);
  write_ = 0;
  upstream->Seek(frame);
}

ChorusFilter::ChorusFilter(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz)
    : SweptDelayFilter(std::move(source), time_ms, depth_percent),
      gain1_(gain_percent * 0.01),
      gain2_(gain1_ * 0.5),
      step1_(mod_hz * 4.71238898038469 / rate),
      step2_(mod_hz * 7.85398163397448 / rate) {
  peak_bound = ScaledBound(peak_bound, 1.0 + std::abs(gain1_) + std::abs(gain2_));
}

void ChorusFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  if (channels != 2) return;
  // Locals, so that the stores into the ring and the buffer do not reload the state.
  std::int32_t* const ring = ring_.data();
  const std::int32_t length = static_cast<std::int32_t>(ring_.size());
  const double d = delay_, f = depth_, g1 = gain1_, g2 = gain2_, i1 = step1_, i2 = step2_;
  double p1 = phase1_, p2 = phase2_;
  std::int32_t w = write_;
  // The left sample `back` frames before the current one; the right one follows it.
  auto back = [&](std::int32_t frames_back) {
    std::int32_t index = w - 2 * frames_back;
    return ring + (index < 0 ? index + length : index);
  };
  for (std::int32_t i = 0; i < frames; ++i) {
    const double d1 = Sine(p1) * f + d;
    p1 += i1;
    const double d2 = Sine(p2) * f + d;
    p2 += i2;
    const std::int32_t h1 = static_cast<std::int32_t>(d1);
    const std::int32_t h2 = static_cast<std::int32_t>(d2);
    const double a1 = d1 - h1;
    const double a2 = d2 - h2;
    std::int32_t* frame = buffer + 2 * static_cast<std::int64_t>(i);
    const std::int32_t xl = frame[0], xr = frame[1];
    ring[w] = xl;
    ring[w + 1] = xr;
    const std::int32_t* n1 = back(h1);
    const std::int32_t* f1 = back(h1 + 1);
    const std::int32_t* n2 = back(h2);
    const std::int32_t* f2 = back(h2 + 1);
    frame[0] = SaturateToInt32(std::int64_t{xl} + Voice(a1, n1[0], f1[0], g1) + Voice(a2, n2[0], f2[0], g2));
    frame[1] = SaturateToInt32(std::int64_t{xr} + Voice(a1, n1[1], f1[1], g2) + Voice(a2, n2[1], f2[1], g1));
    w += 2;
    if (w == length) w = 0;
  }
  phase1_ = p1;
  phase2_ = p2;
  write_ = w;
}

FlangerFilter::FlangerFilter(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz)
    : SweptDelayFilter(std::move(source), time_ms, depth_percent),
      gain_(gain_percent * 0.01),
      step_(mod_hz * 2.0 * 3.14159265358979323846 / rate) {
  peak_bound = ScaledBound(peak_bound, 1.0 + std::abs(gain_));
}

void FlangerFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  upstream->Read(buffer, frames);
  CheckUpstream();
  const int c = channels;
  const std::int32_t length = static_cast<std::int32_t>(ring_.size());
  const std::int64_t total = std::int64_t{frames} * c;
  if (depth_ == 0.0) {
    // No sweep: every frame reads d frames back with weight 1 (and 0 for d + 1), which is
    // the interpolation below without the sine.
    const std::int32_t back = delay_ * c;
    std::int32_t tap = write_ - back;
    if (tap < 0) tap += length;
    std::int32_t* ring = ring_.data();
    for (std::int64_t k = 0; k < total; ++k) {
      const std::int32_t x = buffer[k];
      ring[write_] = x;
      buffer[k] = SaturateToInt32(x + static_cast<std::int64_t>(gain_ * ring[tap]));
      if (++write_ == length) write_ = 0;
      if (++tap == length) tap = 0;
    }
    phase_ += step_ * frames;
    return;
  }
  const double d = delay_, f = depth_, g = gain_, step = step_;
  double phase = phase_;
  std::int32_t* const ring = ring_.data();
  std::int32_t w = write_;
  for (std::int64_t k = 0; k < total; k += c) {
    const double delay = Sine(phase) * f + d;
    phase += step;
    const std::int32_t h = static_cast<std::int32_t>(delay);
    const double a = delay - h;
    std::int32_t near = w - h * c;
    if (near < 0) near += length;
    std::int32_t far = near - c;
    if (far < 0) far += length;
    for (int ch = 0; ch < c; ++ch) {
      const std::int32_t x = buffer[k + ch];
      ring[w + ch] = x;
      buffer[k + ch] = SaturateToInt32(x + Voice(a, ring[near + ch], ring[far + ch], g));
    }
    w += c;
    if (w == length) w = 0;
  }
  phase_ = phase;
  write_ = w;
}

SourceRef MakeEcho(SourceRef source, int time_ms, int gain_percent) {
  if (time_ms <= 0 || !source) return source;
  const std::int64_t length = std::int64_t{EffectMsToFrames(source->rate, time_ms)} * source->channels;
  const std::int32_t gain = PercentToQ9(std::min(gain_percent, 99));
  return MakeCounted<EchoFilter>(source, static_cast<std::int32_t>(std::min<std::int64_t>(length, 1 << 30)), gain);
}

SourceRef MakeReverb(SourceRef source, int time_ms, int level_percent) {
  if (!source) return source;
  const std::int64_t length =
      std::int64_t{EffectMsToFrames(source->rate, std::max(time_ms, 0))} * source->channels;
  return MakeCounted<ReverbFilter>(source, static_cast<std::int32_t>(std::min<std::int64_t>(length, 1 << 30)),
                                   PercentToQ9(level_percent));
}

SourceRef MakeChorus(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz) {
  if (!source) return source;
  const std::uint8_t channels = source->channels;
  SourceRef stereo = ConvertFormat(source, source->rate, 2);
  if (stereo->channels != 2) return source;
  SourceRef chorus = MakeCounted<ChorusFilter>(stereo, time_ms, depth_percent, gain_percent, mod_hz);
  return ConvertFormat(chorus, chorus->rate, channels);
}

SourceRef MakeFlanger(SourceRef source, int time_ms, int depth_percent, int gain_percent, double mod_hz) {
  if (!source) return source;
  return MakeCounted<FlangerFilter>(source, time_ms, depth_percent, gain_percent, mod_hz);
}

SourceRef MakePhaser(SourceRef source, int time_ms, int gain_percent) {
  return MakeFlanger(std::move(source), time_ms, 0, gain_percent, 0.0);
}

// ---- The commands ----

namespace {

constexpr const char* kGainMessage = "Steigerung in Prozent muß zwischen 0 und 100 liegen.";

// A whole number from `lowest` to `highest` whose refusal (either side) is `message`.
EffectParameter Checked(std::string name, std::string key, std::string fallback, std::string label, int id,
                        double lowest, double highest, const std::string& message) {
  EffectParameter parameter;
  parameter.name = std::move(name);
  parameter.key = std::move(key);
  parameter.fallback = std::move(fallback);
  parameter.label = std::move(label);
  parameter.id = id;
  parameter.lowest = lowest;
  parameter.highest = highest;
  parameter.too_low = parameter.too_high = message;
  return parameter;
}

// A real number (the modulation in Hz, typed as "0.5").
EffectParameter Real(EffectParameter parameter) {
  parameter.real = true;
  return parameter;
}

// The generic render of the chain `build` over the selection, streamed when headless.
template <typename Build>
std::function<Result(EffectRun&)> Render(std::string title, Build build) {
  return [title = std::move(title), build](EffectRun& run) {
    run.cursor = run.start;
    run.selection_end = run.end;
    const EffectValues values = run.values;
    return RunGenericEffect(
        run.sound, run.start, run.end, [&](SourceRef reader) { return build(std::move(reader), values); }, title,
        run.progress, run.input, run.output);
  };
}

EffectDefinition Base(int command_id, std::string name, std::int32_t lead_in_ms) {
  EffectDefinition effect;
  effect.command_id = command_id;
  effect.undo_name = name;
  effect.progress_title = std::move(name);
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.streams = true;
  effect.lead_in_ms = lead_in_ms;
  return effect;
}

EffectDefinition Echo() {
  EffectDefinition effect = Base(4004, "Echo", 500);
  const std::string store(setting::kStoredValuesGroup);
  effect.parameters = {
      Checked("EchoTime", store, "800", "Verzögerung (ms)", 101, 10, 3000,
              "Echo muss zwischen 10 and 3000ms. Bitte noch einmal versuchen."),
      Checked("EchoGain", store, "50", "Lautstärke (%)", 102, 0, 99,
              "Echo Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen.")};
  effect.parameters[1].too_low.clear();  // a negative gain gets the generic range message
  effect.presets = {{"Wohnzimmer", {"50", "10"}}, {"Höhle", {"400", "40"}}, {"Grand Canyon", {"750", "75"}}};
  auto build = [](SourceRef reader, const EffectValues& values) {
    return MakeEcho(std::move(reader), ValueInt(values, "EchoTime"), ValueInt(values, "EchoGain"));
  };
  effect.run = Render("Echo", build);
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeEcho(std::move(reader), std::clamp(ValueInt(values, "EchoTime"), 10, 3000),
                    std::min(ValueInt(values, "EchoGain"), 99));
  };
  return effect;
}

EffectDefinition Reverb() {
  EffectDefinition effect = Base(4005, "Reverb", 1000);
  const std::string store(setting::kStoredValuesGroup);
  effect.parameters = {
      Checked("ReverbLevel", store, "100", "Level (%)", 101, 0, 100,
              "Hall Level muss unter 100 kiegen. Bitte noch einmal versuchen."),
      Checked("ReverbTime", store, "50", "Verzögerung (ms)", 102, 50, 1000,
              "Verzögerung muss zwischen 50 und 1000 liegen. Bitte noch einmal versuchen.")};
  effect.parameters[0].too_low.clear();
  effect.presets = {{"Wohnzimmer", {"25", "50"}},
                    {"Badezimmer", {"50", "250"}},
                    {"Auditorium", {"75", "500"}},
                    {"Hangar", {"100", "1000"}}};
  // The progress window is titled "Reverb"; its first line says "Hall".
  effect.run = Render("Hall", [](SourceRef reader, const EffectValues& values) {
    return MakeReverb(std::move(reader), ValueInt(values, "ReverbTime"), ValueInt(values, "ReverbLevel"));
  });
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeReverb(std::move(reader), std::clamp(ValueInt(values, "ReverbTime"), 10, 1000),
                      std::min(ValueInt(values, "ReverbLevel"), 100));
  };
  return effect;
}

// The four fields of chorus and flanger under `key`, with the limits of time, mod and
// depth and their messages.
std::vector<EffectParameter> SweepParameters(const std::string& key, const std::string& time_default,
                                             const std::string& depth_default, const std::string& gain_default,
                                             int longest_ms, int highest_mod, int deepest) {
  const std::string hz = std::to_string(highest_mod);
  const std::string mod_message = highest_mod == 2
                                      ? "Modulation (der Verzögerung) muß zwischen 0 und 2Hz liegen."
                                      : "Die Modulation (der Verzögerung) muß zwischen 0 und " + hz + "Hz liegen.";
  return {Checked("Time", key, time_default, "Verzögerungszeit (ms)", 101, 0, longest_ms,
                  "Verzögerungszeit muß zwischen 0 und " + std::to_string(longest_ms) + " Millisekunden liegen"),
          Real(Checked("Mod", key, "0.5", "Modulation (Hz)", 102, 0, highest_mod, mod_message)),
          Checked("Depth", key, depth_default, "Tiefe (%)", 103, 0, deepest,
                  "Tiefe in Prozent muß zwischen 0 und " + std::to_string(deepest) + " liegen."),
          Checked("Gain", key, gain_default, "Steigerung (%)", 104, 0, 100, kGainMessage)};
}

EffectDefinition Chorus() {
  EffectDefinition effect = Base(4025, "Chorus", 500);
  effect.parameters = SweepParameters("Chorus", "40", "5", "70", 100, 2, 30);
  effect.presets_id = 105;
  effect.presets = {{"Stark - Kurze Verzögerung", {"40", "0.5", "5", "80"}},
                    {"Stark - Lange Verzögerung", {"65", "0.5", "5", "80"}},
                    {"Leicht - Kurze Verzögerung", {"40", "0.5", "5", "50"}},
                    {"Leicht - Lange Verzögerung", {"65", "0.5", "5", "50"}}};
  effect.run = Render("Chorus", [](SourceRef reader, const EffectValues& values) {
    return MakeChorus(std::move(reader), ValueInt(values, "Time"), ValueInt(values, "Depth"),
                      ValueInt(values, "Gain"), ValueReal(values, "Mod"));
  });
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeChorus(std::move(reader), std::clamp(ValueInt(values, "Time"), 10, 100),
                      std::clamp(ValueInt(values, "Depth"), 0, 30), std::clamp(ValueInt(values, "Gain"), 0, 100),
                      std::clamp(ValueReal(values, "Mod"), 0.0, 2.0));
  };
  return effect;
}

EffectDefinition Flanger() {
  EffectDefinition effect = Base(4026, "Flanger", 500);
  effect.parameters = SweepParameters("Flanger", "5", "50", "75", 10, 5, 100);
  effect.presets_id = 105;
  effect.presets = {{"Stark", {"5", "0.5", "70", "100"}},
                    {"Mittel", {"5", "0.5", "70", "90"}},
                    {"Leicht", {"5", "0.5", "70", "50"}}};
  effect.run = Render("Flanger", [](SourceRef reader, const EffectValues& values) {
    return MakeFlanger(std::move(reader), ValueInt(values, "Time"), ValueInt(values, "Depth"),
                       ValueInt(values, "Gain"), ValueReal(values, "Mod"));
  });
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeFlanger(std::move(reader), std::clamp(ValueInt(values, "Time"), 0, 10),
                       std::clamp(ValueInt(values, "Depth"), 0, 100), std::clamp(ValueInt(values, "Gain"), 0, 100),
                       std::clamp(ValueReal(values, "Mod"), 0.0, 5.0));
  };
  return effect;
}

EffectDefinition Phaser() {
  EffectDefinition effect = Base(4027, "Phaser", 500);
  effect.parameters = {Checked("Time", "Phaser", "5", "Verzögerungszeit (ms)", 101, 0, 10,
                               "Verzögerungszeit muß zwischen 0 und 10 Millisekunden liegen"),
                       Checked("Gain", "Phaser", "100", "Steigerung (%)", 102, 0, 100, kGainMessage)};
  effect.presets = {{"Stark", {"3", "100"}}, {"Mittel", {"5", "50"}}, {"Leicht", {"7", "50"}}};
  effect.run = Render("Phaser", [](SourceRef reader, const EffectValues& values) {
    return MakePhaser(std::move(reader), ValueInt(values, "Time"), ValueInt(values, "Gain"));
  });
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakePhaser(std::move(reader), std::clamp(ValueInt(values, "Time"), 0, 10),
                      std::clamp(ValueInt(values, "Gain"), 0, 100));
  };
  return effect;
}

}  // namespace

void AddDelayEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(Echo());
  effects.push_back(Reverb());
  effects.push_back(Chorus());
  effects.push_back(Flanger());
  effects.push_back(Phaser());
}

}  // namespace sonavel
