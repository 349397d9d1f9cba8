// The multi-band noise gate and its catalogue entry.

#include "effects/noise_gate.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "effects/clip_filters.h"
#include "effects/dsp/fixed_point.h"
#include "effects/effect_groups.h"

namespace sonavel {
namespace {

constexpr int kNoiseGateCommand = 4010;
constexpr double kBandEdges[NoiseGateFilter::kBands] = {50.0, 400.0, 1100.0, 2600.0};
// Band thresholds relative to the level: the lowest band 3 dB above it, the third 3 dB below.
constexpr int kBandOffsets[NoiseGateFilter::kBands] = {3, 0, -3, 0};
constexpr std::int32_t kShortestBlock = 20;
constexpr std::int32_t kLongestBlock = 8192;
constexpr std::int32_t kBlocksPerSecond = 30;
// The gate opens at this many units of the scaled level and is fully open 2048 above it.
constexpr std::int64_t kGateOpens = 512;
constexpr std::int64_t kGateSpan = 2048;
constexpr int kGateShift = 13;
constexpr int kHighestDecibelByte = 127;
// 2^33 / (q × 2^-24 × 2^17) = 2^40 / q: a level of 2^17 at 0 dB scales to the opening point.
constexpr std::int64_t kFactorNumerator = std::int64_t{1} << 40;

}  // namespace

NoiseGateFilter::NoiseGateFilter(SourceRef source, int level_db)
    : FilterSource(std::move(source)), accumulators_(channels) {
  const int level = std::clamp(level_db, kLowestLevel, kHighestLevel);
  for (int band = 0; band < kBands; ++band) {
    k[band] = rate > 0 ? OnePoleCoefficient(kBandEdges[band], rate) : 0;
    const int db = std::clamp(level + kBandOffsets[band], -kHighestDecibelByte, kHighestDecibelByte);
    const std::int64_t q = DecibelToQ24(db);
    threshold[band] = q > 0 ? std::min<std::int64_t>(kFactorNumerator / q, INT32_MAX) : INT32_MAX;
  }
  block = std::clamp(rate / kBlocksPerSecond, kShortestBlock, kLongestBlock);
  const std::size_t set = std::size_t{kBands} * static_cast<std::size_t>(block) * channels;
  current_.assign(set, 0);
  ahead_.assign(set, 0);
  input_.assign(static_cast<std::size_t>(block) * channels, 0);
}

std::int32_t NoiseGateFilter::GateGain(std::int64_t level, std::int64_t factor) {
  const std::int64_t a = Q24MultiplyWide(level, factor);
  if (a < kGateOpens) return 0;
  if (a - kGateOpens > kGateSpan) return kQ24Unity;
  return static_cast<std::int32_t>((a - kGateOpens) << kGateShift);
}

void NoiseGateFilter::SplitBlock(std::vector<std::int32_t>& set) {
  upstream->Read(input_.data(), block);
  CheckUpstream();
  const std::size_t band_size = static_cast<std::size_t>(block) * channels;
  std::int32_t* band1 = set.data();
  std::int32_t* band2 = band1 + band_size;
  std::int32_t* band3 = band2 + band_size;
  std::int32_t* band4 = band3 + band_size;
  const std::int64_t k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
  for (int ch = 0; ch < channels; ++ch) {
    Accumulators s = accumulators_[ch];
    for (std::size_t i = ch; i < band_size; i += channels) {
      const std::int64_t l = input_[i] - (s.f >> 8);
      s.f += l * k0;
      s.b += (l - (s.b >> 8)) * k1;
      const std::int64_t b1 = s.b >> 8;
      const std::int64_t r1 = l - b1;
      s.c += (r1 - (s.c >> 8)) * k2;
      const std::int64_t b2 = s.c >> 8;
      const std::int64_t r2 = r1 - b2;
      s.a += (r2 - (s.a >> 8)) * k3;
      const std::int64_t b3 = s.a >> 8;
      band1[i] = SaturateToInt32(b1);
      band2[i] = SaturateToInt32(b2);
      band3[i] = SaturateToInt32(b3);
      band4[i] = SaturateToInt32(r2 - b3);
    }
    accumulators_[ch] = s;
  }
}

std::array<std::int32_t, NoiseGateFilter::kBands> NoiseGateFilter::Targets(const std::vector<std::int32_t>& set) const {
  const std::size_t band_size = static_cast<std::size_t>(block) * channels;
  std::array<std::int64_t, kBands> p{};
  for (int band = 0; band < kBands; ++band) {
    const std::int32_t* samples = set.data() + band * band_size;
    std::int64_t peak = 0;
    for (std::size_t i = 0; i < band_size; ++i) peak = std::max<std::int64_t>(peak, std::llabs(samples[i]));
    p[band] = peak;
  }
  const std::array<std::int64_t, kBands> level = {p[0] - (p[1] >> 2), p[1] - (p[2] >> 2) - (p[0] >> 4),
                                                  p[2] - (p[3] >> 4) - (p[1] >> 3), p[3] - (p[2] >> 3)};
  std::array<std::int32_t, kBands> targets{};
  for (int band = 0; band < kBands; ++band) targets[band] = GateGain(level[band], threshold[band]);
  return targets;
}

void NoiseGateFilter::Start() {
  std::fill(accumulators_.begin(), accumulators_.end(), Accumulators{});
  SplitBlock(current_);
  SplitBlock(ahead_);
  gain = Targets(ahead_);
  slope = {};
  offset_ = 0;
  started_ = true;
}

void NoiseGateFilter::Read(std::int32_t* buffer, std::int32_t frames) {
  if (!started_) Start();
  const std::size_t band_size = static_cast<std::size_t>(block) * channels;
  for (std::int32_t n = 0; n < frames; ++n) {
    if (offset_ == block) {
      std::swap(current_, ahead_);
      SplitBlock(ahead_);
      const std::array<std::int32_t, kBands> targets = Targets(ahead_);
      for (int band = 0; band < kBands; ++band) {
        const std::int64_t change = std::int64_t{targets[band]} - gain[band];
        // Opening takes one block; closing two, the lowest band four.
        const std::int64_t span = change > 0 ? block : (band == 0 ? 4 : 2) * std::int64_t{block};
        slope[band] = static_cast<std::int32_t>(change / span);
      }
      offset_ = 0;
    }
    const std::size_t frame = static_cast<std::size_t>(offset_) * channels;
    for (int ch = 0; ch < channels; ++ch) {
      std::int64_t sum = 0;
      for (int band = 0; band < kBands; ++band) {
        sum += Q24MultiplyWide(current_[band * band_size + frame + ch], gain[band]);
      }
      buffer[static_cast<std::size_t>(n) * channels + ch] = SaturateToInt32(sum);
    }
    for (int band = 0; band < kBands; ++band) gain[band] += slope[band];
    ++offset_;
  }
  position_ += frames;
}

void NoiseGateFilter::Seek(std::int32_t frame) {
  upstream->Seek(frame);
  position_ = frame;
  Start();
}

namespace {

EffectDefinition NoiseGate() {
  EffectDefinition effect;
  effect.command_id = kNoiseGateCommand;
  effect.undo_name = "Noise Reduction (Multi-band Noise Gating)";
  effect.progress_title = "Noise Reduction";
  EffectParameter level{.name = "NoiseGateLevel", .fallback = "-30", .label = "Schwellenwert", .id = 101,
                        .lowest = NoiseGateFilter::kLowestLevel, .highest = NoiseGateFilter::kHighestLevel,
                        .clamps_stored = true, .kind = EffectFieldKind::kDecibels,
                        .control_lowest = NoiseGateFilter::kLowestLevel,
                        .control_highest = NoiseGateFilter::kHighestLevel};
  effect.parameters = {level};
  effect.presets = {{"Störgeräusche Entfernen", {"-20"}}};
  effect.presets_id = 102;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.streams = true;
  effect.lead_in_ms = 1000;
  effect.run = [](EffectRun& run) {
    const int level = ValueInt(run.values, "NoiseGateLevel");
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [level](SourceRef reader) { return MakeCounted<NoiseGateFilter>(std::move(reader), level); },
        "Noise Reduction", run.progress, run.input, run.output);
  };
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return SourceRef(MakeCounted<NoiseGateFilter>(std::move(reader), ValueInt(values, "NoiseGateLevel")));
  };
  return effect;
}

}  // namespace

void AddNoiseGateEffects(std::vector<EffectDefinition>& effects) { effects.push_back(NoiseGate()); }

}  // namespace sonavel
