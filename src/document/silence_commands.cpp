#include "document/silence_commands.h"

#include <memory>
#include <string>
#include <utility>

#include "document/effect_command.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/segment_reader.h"

namespace sonavel {

std::optional<std::vector<LoudRange>> FindSplitRanges(const Sound& sound, const EffectValues& values, Ui& ui) {
  std::unique_ptr<Progress> progress = ui.OpenProgress(kAutoSplitTitle);
  progress->SetTexts(kAutoSplitTitle, "Bitte warten...");
  SourceRef reader = OpenSoundReader(sound);
  return FindLoudRanges(*reader, SoundLength(sound), ValueInt(values, "Threshold"), ValueInt(values, "Duration"),
                        *progress);
}

Message TooFewPartsMessage() {
  return {"Es wurden weniger als zwei durch Stille getrennte Bereiche gefunden. Die Datei wurde nicht aufgeteilt.",
          kAutoSplitTitle, MessageIcon::kInformation, MessageButtons::kOk};
}

void OpenSplitDocuments(const Sound& sound, const std::string& path, const std::vector<LoudRange>& ranges,
                        DocumentList& list, const std::function<void(const DocumentRef&)>& show) {
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    Sound part(sound.rate, sound.channels);
    CopyRange(sound, part, ranges[i].start, ranges[i].end);
    const DocumentRef document = list.DocumentFromSound(std::move(part), RegionDocumentPath(path, static_cast<int>(i)));
    if (show) show(document);
  }
}

Result AutoSplitCommand(AudioDocument& document, DocumentServices& services, Settings& settings, DocumentList& list,
                        const std::function<bool(AudioDocument&)>& save,
                        const std::function<void(const DocumentRef&)>& show) {
  Ui& ui = services.ui;
  if (document.state.modified != 0) {
    // Appended rather than built with "\"" + title: GCC 12 warns falsely about the latter.
    std::string text = "\"";
    text += DisplayTitle(document);
    text += "\" wurde geändert. Vor dem automatischen Aufteilen muss die Datei gespeichert werden. Jetzt speichern?";
    const MessageAnswer answer =
        ui.ShowMessage({std::move(text), "Auto Split", MessageIcon::kQuestion, MessageButtons::kYesNo});
    if (answer != MessageAnswer::kYes || !save || !save(document)) return kCancelled;
  }
  services.playback.Stop();

  const EffectDefinition& split = AutoSplitDefinition();
  EffectDialog dialog = ParameterDialog(split, ReadEffectValues(split, settings));
  dialog.refusal_caption = kInvalidSilenceCaption;
  if (!ui.AskEffectParameters(dialog)) return kCancelled;
  const EffectValues values = FieldValues(dialog.fields);
  WriteEffectValues(split, values, settings);

  const std::optional<std::vector<LoudRange>> ranges = FindSplitRanges(document.sound, values, ui);
  if (!ranges) return kCancelled;
  if (ranges->size() < 2) {
    ui.ShowMessage(TooFewPartsMessage());
    return kDone;
  }
  OpenSplitDocuments(document.sound, document.path, *ranges, list, show);
  return kDone;
}

}  // namespace sonavel
