// The catalogue entries of the gain and envelope effects.

#include <algorithm>
#include <string>

#include "effects/channel_mixer.h"
#include "effects/effect_groups.h"
#include "effects/envelope.h"
#include "effects/gain_runners.h"

namespace sonavel {
namespace {

constexpr int kLongestCrossFadeMs = 60000;

// A gain or level, kept in 16 bits.
EffectParameter Short(EffectParameter parameter) {
  parameter.short_value = true;
  return parameter;
}

// A whole number from `lowest` to `highest`.
EffectParameter Parameter(std::string name, std::string fallback, std::string label, int id, int lowest, int highest,
                          std::string key = std::string(setting::kStoredValuesGroup)) {
  EffectParameter parameter;
  parameter.lowest = lowest;
  parameter.highest = highest;
  parameter.name = std::move(name);
  parameter.key = std::move(key);
  parameter.fallback = std::move(fallback);
  parameter.label = std::move(label);
  parameter.id = id;
  return parameter;
}

// The selection stays where it was.
void KeepSelection(EffectRun& run) {
  run.cursor = run.start;
  run.selection_end = run.end;
}

EffectDefinition Amplify() {
  EffectDefinition effect;
  effect.command_id = 4001;
  effect.undo_name = "Anpassen";
  effect.progress_title = "Anpassen";
  // 0 % silences on purpose; more than 400 % is refused.
  effect.parameters = {Short(Parameter("AmplifyGain", "100", "Lautstärke (%)", 101, 0, 400))};
  effect.parameters[0].too_high = "Normalisierungslevel muss be unter 400% liegen. Bitte noch einmal versuchen.";
  effect.presets = {{"Viertel Lautstärke", {"25"}},
                    {"Halbe Lautstärke", {"50"}},
                    {"Doppelte Lautstärke", {"200"}},
                    {"Dreifache Lautstärke", {"300"}}};
  effect.has_dialog = true;
  effect.lead_in_ms = 1000;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return AmplifyRange(run.sound, ValueInt(run.values, "AmplifyGain"), run.start, run.end);
  };
  return effect;
}

EffectDefinition Normalise() {
  EffectDefinition effect;
  effect.command_id = 4002;
  effect.undo_name = "Normalisieren";
  effect.progress_title = "Normalisieren";
  // A peak of 0 % would be silence, not a level: at least 1 %.
  effect.parameters = {Short(Parameter("NormalizePeakLevel", "100", "Spitzenpegel (%)", 102, 1, 100))};
  effect.parameters[0].too_high = "Normalisierungslevel muss unter 100% liegen. Bitte noch einmal versuchen.";
  effect.presets = {{"Sehr Leises Audio Level", {"20"}},
                    {"Leises Audio Level", {"40"}},
                    {"Normales Audio Level", {"75"}},
                    {"Maximales Audio Level", {"100"}}};
  effect.has_dialog = true;
  effect.lead_in_ms = 500;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return NormaliseRange(run.sound, ValueInt(run.values, "NormalizePeakLevel"), run.start, run.end, run.progress);
  };
  return effect;
}

EffectDefinition Envelope() {
  EffectDefinition effect;
  effect.command_id = 4017;
  effect.undo_name = "Dynamik";
  effect.progress_title = "Dynamik";
  effect.dialog = EffectDialogKind::kEnvelope;
  effect.has_dialog = true;
  effect.uses_envelope_file = true;
  effect.lead_in_ms = 500;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return RenderEnvelope(run.sound, run.start, run.end, run.points, run.progress, run.input, run.output);
  };
  return effect;
}

EffectDefinition Fade(int command_id, std::string name, std::int32_t lead_in_ms, const EnvelopePoints& points) {
  EffectDefinition effect;
  effect.command_id = command_id;
  effect.undo_name = name;
  effect.progress_title = std::move(name);
  effect.lead_in_ms = lead_in_ms;
  effect.streams = true;
  effect.run = [points](EffectRun& run) {
    KeepSelection(run);
    return RenderEnvelope(run.sound, run.start, run.end, points, run.progress, run.input, run.output);
  };
  return effect;
}

EffectDefinition FadeOutTrim() {
  EffectDefinition effect;
  effect.command_id = 4008;
  effect.undo_name = "Ausblenden und Trimmen";
  effect.progress_title = "Ausblenden und Trimmen";
  effect.lead_in_ms = 500;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return FadeOutAndTrim(run.sound, run.start, run.end, run.progress);
  };
  return effect;
}

EffectDefinition CrossFade() {
  EffectDefinition effect;
  effect.command_id = 4021;
  effect.undo_name = "Cross Fade";
  effect.progress_title = "Cross Fading";
  // Up to a minute each.
  effect.parameters = {Parameter("GapTimeMS", "300", "Pause (ms)", 101, 0, kLongestCrossFadeMs, "CrossFade"),
                       Parameter("FadeInTimeMS", "300", "Einblenden (ms)", 102, 0, kLongestCrossFadeMs, "CrossFade"),
                       Parameter("FadeOutTimeMS", "300", "Ausblenden (ms)", 104, 0, kLongestCrossFadeMs, "CrossFade")};
  effect.dialog = EffectDialogKind::kCrossFade;
  effect.has_dialog = true;
  effect.lead_in_ms = 1000;
  effect.run = [](EffectRun& run) {
    // The selection is gone: the cursor stays where it began, with nothing selected.
    run.cursor = run.start;
    run.selection_end = run.start;
    return CrossFadeRange(run.sound, run.start, run.end, ValueInt(run.values, "GapTimeMS"),
                          ValueInt(run.values, "FadeInTimeMS"), ValueInt(run.values, "FadeOutTimeMS"),
                          run.progress);
  };
  return effect;
}

EffectDefinition StereoPan() {
  EffectDefinition effect;
  effect.command_id = 4022;
  effect.undo_name = "Stereo Pan";
  effect.progress_title = "Stereo Pan";
  effect.parameters = {Short(Parameter("StereoPan", "50", "Links - Rechts", 101, 0, 100))};
  effect.dialog = EffectDialogKind::kStereoPan;
  effect.has_dialog = true;
  effect.has_preview = true;
  effect.needs_stereo = true;
  effect.lead_in_ms = 500;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    if (run.sound.channels != 2) return kFailed;
    const int percent = std::clamp(ValueInt(run.values, "StereoPan"), 0, 100);
    return RunGenericEffect(
        run.sound, run.start, run.end, [percent](SourceRef reader) { return MakeStereoPan(std::move(reader), percent); },
        "Stereo Regler", run.progress, run.input, run.output);
  };
  effect.preview = [](SourceRef reader, const EffectValues& values) {
    return MakeStereoPan(std::move(reader), std::clamp(ValueInt(values, "StereoPan"), 0, 100));
  };
  return effect;
}

EffectDefinition DcOffset() {
  EffectDefinition effect;
  effect.command_id = 4023;
  effect.undo_name = "DC Offset Correction";
  effect.progress_title = "DC Offset Correction";
  effect.lead_in_ms = 1000;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return RemoveDcOffset(run.sound, run.start, run.end, run.progress, run.input, run.output);
  };
  return effect;
}

EffectDefinition Reverse() {
  EffectDefinition effect;
  effect.command_id = 4018;
  effect.undo_name = "Umkehren";
  effect.progress_title = "Rückwärts";
  effect.lead_in_ms = 0;
  effect.streams = true;
  effect.run = [](EffectRun& run) {
    KeepSelection(run);
    return ReverseRange(run.sound, run.start, run.end, run.progress, run.input, run.output);
  };
  return effect;
}

}  // namespace

void AddGainEffects(std::vector<EffectDefinition>& effects) {
  effects.push_back(Amplify());
  effects.push_back(Normalise());
  effects.push_back(Envelope());
  effects.push_back(Fade(4006, "Fade In", 1000, kFadeInPoints));
  effects.push_back(Fade(4007, "Fade Out", 500, kFadeOutPoints));
  effects.push_back(FadeOutTrim());
  effects.push_back(CrossFade());
  effects.push_back(StereoPan());
  effects.push_back(DcOffset());
  effects.push_back(Reverse());
}

}  // namespace sonavel
