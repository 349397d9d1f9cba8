#include "document/effect_command.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "effects/envelope.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/segment_reader.h"
#include "store/sound.h"

namespace sonavel {

EffectDialog ParameterDialog(const EffectDefinition& effect, const EffectValues& values) {
  EffectDialog dialog;
  dialog.title = effect.undo_name;
  dialog.kind = effect.dialog;
  dialog.presets = effect.presets;
  dialog.presets_id = effect.presets_id;
  dialog.reset_id = effect.reset_id;
  for (const EffectParameter& parameter : effect.parameters) {
    EffectField field;
    field.id = parameter.id;
    field.name = parameter.name;
    field.label = parameter.label;
    field.choices = parameter.choices;
    field.free_entry = parameter.free_entry;
    field.kind = parameter.kind;
    field.lowest = parameter.control_lowest;
    field.highest = parameter.control_highest;
    const auto found = values.find(parameter.name);
    field.value = found != values.end() ? found->second : parameter.fallback;
    dialog.fields.push_back(std::move(field));
    if (effect.reset_id != 0) dialog.reset_values.push_back(parameter.fallback);
  }
  // Every typed value is read strictly and checked against its range at OK.
  dialog.validate = [&effect](const std::vector<EffectField>& fields) {
    return RefusalMessage(effect, FieldValues(fields));
  };
  return dialog;
}

namespace {

// The dialog for `effect`, filled with `values`; its preview plays over `preview_sound`.
EffectDialog BuildDialog(const EffectDefinition& effect, const EffectValues& values, const Sound& preview_sound,
                         PlaybackControl& playback) {
  EffectDialog dialog = ParameterDialog(effect, values);
  if (effect.has_preview && effect.preview) {
    // The preview plays the selection through the effect as the fields stand, from its start.
    dialog.start_preview = [&effect, &preview_sound, &playback](const EffectDialog& shown) {
      SourceRef chain = effect.preview(OpenSoundReader(preview_sound), FieldValues(shown.fields));
      return playback.Preview(chain);
    };
    dialog.stop_preview = [&playback] { playback.StopPreview(); };
    dialog.preview_empty = SoundLength(preview_sound) == 0;
  }
  return dialog;
}

}  // namespace

Result RunEffectCommand(AudioDocument& document, DocumentServices& services, Settings& settings,
                     const EffectDefinition& effect, const EffectCommandOptions& options) {
  // Nothing selected: the whole sound.
  EditState& state = document.state;
  const std::int32_t length = SoundLength(document.sound);
  if (effect.keeps_selection && state.selection_start >= state.selection_end) return kDone;
  if (state.selection_start >= state.selection_end) {
    state.selection_start = 0;
    state.selection_end = length;
    document.Notify(kSelectionChanged);
  }
  services.playback.Stop();
  if (effect.needs_stereo && document.sound.channels != 2) {
    services.ui.ShowMessage(StereoOnlyMessage());
    return kCancelled;
  }
  if (effect.refuse) {
    const std::optional<Message> refused =
        effect.refuse(document.sound, state.selection_start, state.selection_end);
    if (refused) {
      services.ui.ShowMessage(*refused);
      return kFailed;
    }
  }

  EffectValues values = ReadEffectValues(effect, settings);
  if (effect.initial) effect.initial(values, document.sound);
  std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
  if (effect.uses_envelope_file) points = LoadEnvelopePoints();
  if (options.values != nullptr) {
    for (const auto& [name, value] : *options.values) values[name] = value;
    if (const std::string refused = RefusalMessage(effect, values); !refused.empty()) {
      services.ui.ShowMessage({refused, "Ungültiger Wert", MessageIcon::kInformation, MessageButtons::kOk});
      return kFailed;
    }
  } else if (effect.has_dialog) {
    Sound preview_sound(document.sound.rate, document.sound.channels);
    if (effect.has_preview) CopyRange(document.sound, preview_sound, state.selection_start, state.selection_end);
    EffectDialog dialog = BuildDialog(effect, values, preview_sound, services.playback);
    dialog.points = points;
    if (effect.controls) dialog.equalizer = effect.controls(settings, values);
    const bool accepted = services.ui.AskEffectParameters(dialog);
    if (dialog.stop_preview) dialog.stop_preview();
    if (!accepted) return kCancelled;
    values = FieldValues(dialog.fields);
    points = dialog.equalizer ? dialog.equalizer->points() : dialog.points;
  }
  if (effect.unchanged && effect.unchanged(values, document.sound)) return kDone;
  if (options.store_values && effect.remembers) {
    WriteEffectValues(effect, values, settings);
    if (effect.uses_envelope_file) SaveEnvelopePoints(points);
  }

  if (effect.changes_sound) {
    RecordUndo(document, effect.undo_name);
    document.Notify(kUndoChanged | kModifiedChanged);
  }
  std::unique_ptr<Progress> progress =
      services.ui.OpenProgress(effect.progress_title.empty() ? effect.undo_name : effect.progress_title);
  EffectRun run{document.sound, state.selection_start, state.selection_end, values, points, *progress};
  run.cursor = state.selection_start;
  run.selection_start = state.selection_start;
  run.selection_end = state.selection_end;
  run.resample_quality = StoredResampleQuality(settings);
  const Result result = effect.run(run);
  progress.reset();
  if (result != kDone) {
    if (run.refusal)
      services.ui.ShowMessage(*run.refusal);
    else if (!run.failure.empty())
      services.ui.ShowMessage({run.failure, "Fehler", MessageIcon::kWarning, MessageButtons::kOk});
    if (effect.changes_sound) document.Notify(kSoundChanged);
    return result;
  }
  if (!effect.changes_sound) return kDone;

  RefreshAfterSoundChange(document);
  const std::int32_t new_length = SoundLength(document.sound);
  state.selection_start = std::clamp(run.selection_start, 0, new_length);
  state.selection_end = std::clamp(run.selection_end, state.selection_start, new_length);
  std::int32_t cursor = std::clamp(run.cursor, 0, new_length);
  if (run.show_all) {
    state.view_start = 0;
    state.view_end = new_length > 0 ? new_length : document.sound.rate;
  }
  const std::int32_t lead_in =
      effect.lead_in_ms > 0 ? static_cast<std::int32_t>(std::int64_t{document.sound.rate} * effect.lead_in_ms / 1000) : 0;
  document.Notify(kSoundChanged | kSelectionChanged | kCursorChanged | kViewChanged);
  FinishEdit(document, services, cursor, lead_in);
  return kDone;
}

}  // namespace sonavel
