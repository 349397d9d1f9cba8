#include <algorithm>

#include "effects/compressor.h"
#include "effects/effect_groups.h"
#include "effects/gain_control.h"

namespace sonavel {
namespace {

constexpr int kCompressorCommand = 4024;
constexpr int kGainControlCommand = 4009;

EffectDefinition Compressor() {
  EffectDefinition effect;
  effect.command_id = kCompressorCommand;
  effect.undo_name = "Dynamic Range Compressor";
  // Threshold and limit are decibel bytes: the compressor takes -127 … 127 dB.
  EffectParameter threshold{.name = "CompressorThreshold", .fallback = "0", .label = "Schwelle (dB)", .id = 101,
                            .short_value = true, .lowest = -127, .highest = 127};
  EffectParameter limit{.name = "CompressorLimit", .fallback = "0", .label = "Begrenzung (dB)", .id = 102,
                        .short_value = true, .lowest = -127, .highest = 127};
  EffectParameter ratio{.name = "CompressorRatio", .fallback = "0", .label = "Verhältnis", .id = 104,
                        .short_value = true};
  for (const CompressorRatio& row : kCompressorRatios) ratio.choices.emplace_back(row.name);
  effect.parameters = {threshold, ratio, limit};
  effect.dialog = EffectDialogKind::kCompressor;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.lead_in_ms = 500;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    const int ratio_index = ValueInt(run.values, "CompressorRatio");
    // Only the seven rows of the drop-down describe a compressor.
    if (ratio_index < 0 || ratio_index >= kCompressorRatioRows) return kFailed;
    const int threshold_db = ValueInt(run.values, "CompressorThreshold");
    const int limit_db = ValueInt(run.values, "CompressorLimit");
    return RunGenericEffect(
        run.sound, run.start, run.end,
        [&](SourceRef reader) { return MakeCompressor(std::move(reader), threshold_db, ratio_index, limit_db); },
        "Dynamic Range Compressor", run.progress, run.input, run.output);
  };
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeCompressor(std::move(reader), std::clamp(ValueInt(values, "CompressorThreshold"), -127, 127),
                          std::clamp(ValueInt(values, "CompressorRatio"), 0, kCompressorRatioRows - 1),
                          std::clamp(ValueInt(values, "CompressorLimit"), -127, 127));
  };
  return effect;
}

EffectDefinition GainControl() {
  EffectDefinition effect;
  effect.command_id = kGainControlCommand;
  effect.undo_name = "Automatische Lautstärken Kontrolle";
  effect.lead_in_ms = -1;  // no playback lead-in: the cursor goes to frame 0
  effect.run = [](EffectRun& run) {
    const Result result = RunGainControl(run.sound, run.start, run.end, run.progress);
    if (result == kDone) {
      run.cursor = 0;
      run.show_all = true;
    }
    if (result == kFailed)
      run.failure = "Die temporären Dateien der automatischen Lautstärkenkontrolle konnten nicht geschrieben "
                    "werden. Der Ton bleibt unverändert.";
    return result;
  };
  return effect;
}

}  // namespace

void AddDynamicsEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(Compressor());
  effects.push_back(GainControl());
}

}  // namespace sonavel
