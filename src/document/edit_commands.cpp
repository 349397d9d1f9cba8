#include "document/edit_commands.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "document/file_commands.h"
#include "effects/effect.h"
#include "effects/resampler.h"
#include "formats/open_file.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"
#include "store/time.h"
#include "document/working_folder.h"

namespace sonavel {
namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

std::int32_t Length(const AudioDocument& document) { return SoundLength(document.sound); }
std::int32_t OneSecond(const AudioDocument& document) { return document.sound.rate; }
std::int32_t HalfSecond(const AudioDocument& document) { return document.sound.rate / 2; }

struct Range {
  std::int32_t start;
  std::int32_t end;
};

// The selection limited to [0, length].
Range ClampedSelection(const AudioDocument& document) {
  const std::int32_t length = Length(document);
  const std::int32_t start = std::clamp(document.state.selection_start, 0, length);
  return {start, std::clamp(document.state.selection_end, start, length)};
}

bool HasSelection(const AudioDocument& document) {
  return document.state.selection_start < document.state.selection_end;
}

// Selection [0, length], cursor unchanged, the whole sound shown.
void SelectAll(AudioDocument& document) {
  SetSelection(document, 0, Length(document), document.state.cursor);
  ZoomToAll(document);
}

void SelectAllWhenEmpty(AudioDocument& document) {
  if (!HasSelection(document)) SelectAll(document);
}

// After the segment list changed: the view stays inside the sound and the windows redraw.
void SoundChanged(AudioDocument& document) {
  RefreshAfterSoundChange(document);
  document.Notify(kSoundChanged | kViewChanged);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

const std::string& FieldValue(const std::vector<EffectField>& fields, std::string_view name) {
  static const std::string kNone;
  for (const EffectField& field : fields)
    if (field.name == name) return field.value;
  return kNone;
}

// `source` in `rate` and `channels`, rendered through the format conversion into
// `converted` under the progress window. kDone, kCancelled or kFailed.
Result ConvertSound(const Sound& source, std::int32_t rate, std::uint8_t channels, Sound& converted,
                 Progress& progress, ResampleQuality quality) {
  if (SoundLength(source) == 0) {
    converted = Sound(rate, channels);
    return kDone;
  }
  SourceRef reader = ConvertFormat(OpenSoundReader(source), rate, channels, quality);
  if (reader->status != kStatusOk || reader->rate != rate || reader->channels != channels) return kFailed;
  Sound rendered(rate, channels);
  const Result result = LoadIntoSound(*reader, rendered, progress, "Converting rate or channels...");
  if (result == kDone) converted = std::move(rendered);
  return result;
}

bool SameFormat(const Sound& a, const Sound& b) { return a.rate == b.rate && a.channels == b.channels; }

// The paste job (replace [start, end) with `source`) or, with `insert`, the insert job
// (insert `source` at `start`). The pasted length at the target's rate, or nothing when the
// conversion was cancelled or failed (the target is then unchanged).
std::optional<std::int32_t> PasteJob(Sound& target, std::int32_t start, std::int32_t end, const Sound& source,
                                     Ui& ui, bool insert, ResampleQuality quality) {
  std::unique_ptr<Progress> progress = ui.OpenProgress(insert ? "Datei einfügen" : "Einfügen");
  Sound converted(target.rate, target.channels);
  const Sound* pasted = &source;
  if (!SameFormat(source, target)) {
    if (ConvertSound(source, target.rate, target.channels, converted, *progress, quality) != kDone)
      return std::nullopt;
    pasted = &converted;
  }
  const std::int32_t length = SoundLength(*pasted);
  // The result must stay within the frame count a sound can hold.
  const std::int64_t removed = insert ? 0 : std::int64_t{end} - start;
  if (std::int64_t{SoundLength(target)} - removed + length > kMaxFrames) return std::nullopt;
  if (insert)
    InsertSound(target, start, *pasted);
  else
    ReplaceRange(target, start, end, *pasted);
  return length;
}

// ---- the mix ----

struct MixParameters {
  int volume = setting::kPasteMixVolume.fallback;   // percent, 0 … 100
  int balance = 50;                                 // 0 … 100, 50 = centre
  int choice = setting::kLongerSelection.fallback;  // 0 insert silence, 1 adapt the selection, 2 fade out
  int fade = setting::kFadeOutTime.fallback;        // frames
};

constexpr const char* kLongerSelectionChoices[] = {"Stille einfügen", "Markierung anpassen", "Mix ausblenden"};

EffectField Field(int id, std::string_view name, const char* label, std::string value) {
  EffectField field;
  field.id = id;
  field.name = name;
  field.label = label;
  field.value = std::move(value);
  return field;
}

// What the mix dialog stores and what its typed fields take: the volume up to 100 %, one of
// the three choices, a fade time of 0 or more frames.
const EffectDefinition& MixValues() {
  static const EffectDefinition mix = [] {
    auto stored = [](const IntSetting& key) {
      EffectParameter parameter;
      parameter.key = key.group;
      parameter.name = key.name;
      parameter.fallback = std::to_string(key.fallback);
      return parameter;
    };
    EffectDefinition definition;
    EffectParameter volume = stored(setting::kPasteMixVolume);
    volume.label = "Lautstärke (%)";
    volume.lowest = 0;
    volume.highest = 100;
    volume.too_high = "Mix Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen.";
    EffectParameter choice = stored(setting::kLongerSelection);
    choice.choices.assign(std::begin(kLongerSelectionChoices), std::end(kLongerSelectionChoices));
    EffectParameter fade = stored(setting::kFadeOutTime);
    fade.label = "Ausblendzeit:";
    fade.lowest = 0;
    fade.highest = kMaxFrames;
    definition.parameters = {volume, choice, fade};
    return definition;
  }();
  return mix;
}

// The mix dialog; stores the accepted values. Nothing when cancelled.
std::optional<MixParameters> AskMixParameters(EditContext& context, const char* title) {
  Settings& settings = context.settings;
  const bool selection_empty = !HasSelection(context.document);
  const bool stereo = context.document.sound.channels == 2;
  // Stored values beyond their ranges start at the defaults.
  const EffectValues stored = ReadEffectValues(MixValues(), settings);
  EffectDialog dialog;
  dialog.title = title;
  dialog.kind = EffectDialogKind::kMix;
  auto stored_text = [&stored](const IntSetting& key) { return stored.at(std::string(key.name)); };
  dialog.fields.push_back(
      Field(101, setting::kPasteMixVolume.name, "Lautstärke (%)", stored_text(setting::kPasteMixVolume)));
  dialog.fields.push_back(Field(102, "Balance", "Stereo Regler (L - R)", "50"));
  EffectField longer = Field(103, setting::kLongerSelection.name, "Wenn Mix länger als Markierung ist:",
                             selection_empty ? "1" : stored_text(setting::kLongerSelection));
  longer.choices.assign(std::begin(kLongerSelectionChoices), std::end(kLongerSelectionChoices));
  dialog.fields.push_back(std::move(longer));
  dialog.fields.push_back(Field(104, setting::kFadeOutTime.name, "Ausblendzeit:", stored_text(setting::kFadeOutTime)));
  dialog.fields.push_back(Field(0, "Stereo", "", stereo ? "1" : "0"));
  dialog.fields.push_back(Field(0, "SelectionEmpty", "", selection_empty ? "1" : "0"));
  dialog.validate = [](const std::vector<EffectField>& fields) {
    return RefusalMessage(MixValues(), FieldValues(fields));
  };
  if (!context.services.ui.AskEffectParameters(dialog)) return std::nullopt;

  MixParameters parameters;
  parameters.volume = std::clamp(TextToInt(FieldValue(dialog.fields, setting::kPasteMixVolume.name)), 0, 100);
  // The slider is disabled for mono documents: the centre.
  parameters.balance = stereo ? std::clamp(TextToInt(FieldValue(dialog.fields, "Balance")), 0, 100) : 50;
  // With an empty selection the choice is disabled at "Markierung anpassen".
  parameters.choice =
      selection_empty ? 1 : std::clamp(TextToInt(FieldValue(dialog.fields, setting::kLongerSelection.name)), 0, 2);
  parameters.fade = std::max(0, TextToInt(FieldValue(dialog.fields, setting::kFadeOutTime.name)));
  settings.WriteUser(setting::kPasteMixVolume, parameters.volume);
  settings.WriteUser(setting::kLongerSelection, parameters.choice);
  if (parameters.choice == 2) settings.WriteUser(setting::kFadeOutTime, parameters.fade);
  return parameters;
}

std::int32_t Saturate(std::int64_t value) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(), kMaxFrames));
}

// The mix job: mixes `source` into the document from the selection start. True when it
// completed; a cancel or failure leaves what was already done (the inserted silence).
bool MixJob(AudioDocument& document, const Sound& source, const MixParameters& parameters, Ui& ui,
            ResampleQuality quality) {
  Sound& sound = document.sound;
  const std::int32_t start = document.state.selection_start;
  std::int64_t end = document.state.selection_end;
  if (end < start || start < 0) return false;
  std::unique_ptr<Progress> progress = ui.OpenProgress("Füge Mix ein");

  Sound converted(sound.rate, sound.channels);
  const Sound* mix = &source;
  if (!SameFormat(source, sound)) {
    if (ConvertSound(source, sound.rate, sound.channels, converted, *progress, quality) != kDone) return false;
    mix = &converted;
  }
  const std::int64_t mix_length = SoundLength(*mix);
  const std::int64_t overhang = start + mix_length - end;
  const bool fading = overhang >= 1 && parameters.choice == 2;
  // The inserted silence, or the region, must stay within what a sound can hold.
  const std::int64_t grows = overhang >= 1 && parameters.choice == 0 ? overhang : 0;
  if (start + mix_length > kMaxFrames || SoundLength(sound) + grows > kMaxFrames) return false;
  if (!fading) {
    if (grows > 0) InsertSilence(sound, static_cast<std::int32_t>(grows), static_cast<std::int32_t>(end));
    end = start + mix_length;
  }
  document.state.selection_end = static_cast<std::int32_t>(end);
  // Nothing to mix: an empty source over an empty region leaves the sound alone.
  if (end == start) return true;

  const std::int64_t total = end - start;
  const std::int64_t steady = fading ? std::max<std::int64_t>(0, total - parameters.fade) : total;
  // Channel gains in 2^24 fixed point; the largest is 2 × 2^24, so 64 bits.
  const std::int64_t volume = parameters.volume;
  const std::int64_t balance = parameters.balance;
  const std::int64_t gains[2] = {((100 - balance) * volume / 50) * kUnityGain / 100,
                                 (balance * volume / 50) * kUnityGain / 100};
  const int channels = sound.channels;

  SourceRef existing = OpenSoundReader(sound);
  existing->Seek(start);
  SourceRef mixed_in = OpenSoundReader(*mix);
  Sound result(sound.rate, sound.channels);
  {
    SinkRef writer = CreateBlockWriter(result, sound.rate, sound.channels);
    std::vector<std::int32_t> out(static_cast<std::size_t>(kChunkFrames) * channels);
    std::vector<std::int32_t> in(out.size());
    std::int64_t fade_gains[2] = {gains[0], gains[1]};
    progress->SetTexts("Füge Mix ein", "Bitte warten...");
    for (std::int64_t done = 0; done < total;) {
      if (progress->Pump()) return false;
      progress->SetFraction(static_cast<double>(done) / static_cast<double>(total));
      const std::int32_t frames = static_cast<std::int32_t>(std::min<std::int64_t>(kChunkFrames, total - done));
      existing->Read(out.data(), frames);
      mixed_in->Read(in.data(), frames);
      std::int64_t decrements[2] = {0, 0};
      bool decrements_set = false;
      for (std::int32_t i = 0; i < frames; ++i) {
        const std::int64_t frame = done + i;
        std::int32_t* target = &out[static_cast<std::size_t>(i) * channels];
        const std::int32_t* added = &in[static_cast<std::size_t>(i) * channels];
        if (frame < steady) {
          for (int c = 0; c < channels; ++c)
            target[c] = Saturate(target[c] + ((std::int64_t{added[c]} * (gains[c] >> 15)) >> 9));
          continue;
        }
        // The fade: each gain falls linearly to 0 at the region's end; the step is set anew
        // at the first fade frame of every chunk from the gain left and the frames left.
        if (!decrements_set) {
          for (int c = 0; c < channels; ++c) decrements[c] = fade_gains[c] / (total - frame);
          decrements_set = true;
        }
        for (int c = 0; c < channels; ++c) {
          target[c] = Saturate(target[c] + std::int64_t{added[c]} * fade_gains[c] / kUnityGain);
          fade_gains[c] -= decrements[c];
        }
      }
      writer->Write(out.data(), frames);
      done += frames;
    }
    progress->SetFraction(1);
    if ((writer->status & (kSinkUnusable | kSinkWriteFailed)) != 0) return false;
  }
  ReplaceRange(sound, start, static_cast<std::int32_t>(end), result);
  return true;
}

// ---- files and the system clipboard ----

// The open-file dialog for a file to mix or insert, starting in the folder stored under
// `folder_key`, which takes the chosen folder.
std::optional<std::string> ChooseSourceFile(EditContext& context, const TextSetting& folder_key) {
  const std::string folder = context.settings.Read(folder_key);
  std::optional<std::string> path = context.services.ui.ChooseOpenFile("Öffne Audiodateien", "All Files (*)", folder);
  if (!path) return std::nullopt;
  context.settings.Write(folder_key, FolderOf(*path));
  return path;
}

// The load job for a file to mix or insert, opened as the frame's open does (the stored
// settings, the raw settings dialog first for headerless files); false (after the
// message) when it failed or was cancelled.
bool LoadSourceFile(EditContext& context, const std::string& path, Sound& loaded) {
  OpenOptions options{&context.settings, std::nullopt, &context.settings};
  if (AskRawSettingsFirst(path, context.services.ui, options) != kDone) return false;
  std::unique_ptr<Progress> progress = context.services.ui.OpenProgress("Lade Ursprung der Audiodatei");
  return OpenSoundFile(path, loaded, *progress, context.services.ui, nullptr, options) == kDone;
}

// The internal clipboard as WAV bytes: saved as "_clipboard.wav" in the default working
// folder, read back and deleted. Empty when the save or the read failed.
std::vector<std::uint8_t> RenderClipboardWav(const Sound& sound, Ui& ui) {
  const std::string path = JoinPath(DefaultWorkingFolder(), "_clipboard.wav");
  {
    std::unique_ptr<Progress> progress = ui.OpenProgress("Speichere in Zwischenablage");
    const WaveFormat format = StoredFormatAt(static_cast<std::uint32_t>(sound.rate), sound.channels);
    if (SaveSoundAsWav(sound, format, path, *progress) != kDone) return {};
  }
  std::vector<std::uint8_t> bytes;
  {
    File file(path, File::Mode::kRead);
    const std::int64_t size = file.IsOpen() ? std::max<std::int64_t>(0, file.Size()) : 0;
    try {
      bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      bytes.clear();
    }
    if (bytes.size() != static_cast<std::size_t>(size) || file.Read(bytes.data(), bytes.size()) != bytes.size())
      bytes.clear();
  }
  RemoveFile(path);
  return bytes;
}

// Offers the internal clipboard to other programs; the WAV is made only when asked for.
void AnnounceSystemClipboard(EditContext& context) {
  if (context.system_clipboard == nullptr) return;
  EditClipboard* clipboard = &context.clipboard;
  Ui* ui = &context.services.ui;
  context.system_clipboard->OfferWav([clipboard, ui] { return RenderClipboardWav(clipboard->sound, *ui); });
}

// The system clipboard's audio: its WAV bytes are written unchanged to "clipboard.wav" in
// the default working folder (left there) and loaded. Without audio on the clipboard the
// source is an empty 44100 Hz mono sound. False when the data could not be loaded.
bool FetchSystemClipboard(EditContext& context, Sound& source) {
  source = Sound(44100, 1);
  std::optional<std::vector<std::uint8_t>> bytes = context.system_clipboard->FetchWav();
  if (!bytes || bytes->empty()) return true;
  const std::string path = JoinPath(DefaultWorkingFolder(), "clipboard.wav");
  if (!ReplaceFileContents(path, bytes->data(), bytes->size())) return false;
  std::unique_ptr<Progress> progress = context.services.ui.OpenProgress("Lade Datei clipboard.wav");
  const OpenOptions options{&context.settings, std::nullopt, nullptr};
  return OpenSoundFile(path, source, *progress, context.services.ui, nullptr, options) == kDone;
}

// ---- the commands ----

bool Cut(EditContext& context) {
  AudioDocument& document = context.document;
  SelectAllWhenEmpty(document);
  context.services.playback.Stop();
  RecordUndo(document, "Schneiden");
  const Range range = ClampedSelection(document);
  CutRange(document.sound, context.clipboard.sound, range.start, range.end);
  SoundChanged(document);
  SetSelection(document, range.start, range.start, range.start);
  FinishEdit(document, context.services, range.start, OneSecond(document));
  return true;
}

bool Copy(EditContext& context) {
  AudioDocument& document = context.document;
  SelectAllWhenEmpty(document);
  const Range range = ClampedSelection(document);
  CopyRange(document.sound, context.clipboard.sound, range.start, range.end);
  AnnounceSystemClipboard(context);
  return true;
}

bool Paste(EditContext& context, bool from_system) {
  AudioDocument& document = context.document;
  if (from_system ? context.system_clipboard == nullptr : !context.clipboard.HasAudio()) return false;
  context.services.playback.Stop();
  RecordUndo(document, "Einfügen");
  Sound fetched(44100, 1);
  if (from_system && !FetchSystemClipboard(context, fetched)) return false;
  const Sound& source = from_system ? fetched : context.clipboard.sound;
  const Range range = ClampedSelection(document);
  const std::optional<std::int32_t> pasted =
      PasteJob(document.sound, range.start, range.end, source, context.services.ui, false,
               StoredResampleQuality(context.settings));
  if (!pasted) return false;
  SoundChanged(document);
  SetSelection(document, range.start, range.start + *pasted, document.state.cursor);
  FinishEdit(document, context.services, range.start, HalfSecond(document));
  return true;
}

// After a mix: the whole sound shown, the selection over the mixed region.
void FinishMix(EditContext& context) {
  AudioDocument& document = context.document;
  SoundChanged(document);
  ZoomToAll(document);
  const std::int32_t start = document.state.selection_start;
  SetSelection(document, start, document.state.selection_end, document.state.cursor);
  FinishEdit(document, context.services, start, HalfSecond(document));
}

// Before a mix: the selection limited to the sound.
void ClampSelectionForMix(AudioDocument& document) {
  const Range range = ClampedSelection(document);
  document.state.selection_start = range.start;
  document.state.selection_end = range.end;
}

bool PasteMix(EditContext& context, bool from_system) {
  AudioDocument& document = context.document;
  if (from_system ? context.system_clipboard == nullptr : !context.clipboard.HasAudio()) return false;
  context.services.playback.Stop();
  ClampSelectionForMix(document);
  // Recorded before the dialog: a cancelled dialog leaves a step equal to the present state.
  RecordUndo(document, "Mix einfügen");
  const std::optional<MixParameters> parameters = AskMixParameters(context, "Mix einfügen");
  if (!parameters) return false;
  Sound fetched(44100, 1);
  if (from_system && !FetchSystemClipboard(context, fetched)) return false;
  const bool mixed =
      MixJob(document, from_system ? fetched : context.clipboard.sound, *parameters, context.services.ui,
             StoredResampleQuality(context.settings));
  if (!mixed) {
    SoundChanged(document);
    return false;
  }
  FinishMix(context);
  return true;
}

bool MixFile(EditContext& context) {
  AudioDocument& document = context.document;
  context.services.playback.Stop();
  const std::optional<std::string> path = ChooseSourceFile(context, setting::kMixFileDir);
  if (!path) return false;
  ClampSelectionForMix(document);
  const std::optional<MixParameters> parameters = AskMixParameters(context, "Datei Mixen");
  if (!parameters) return false;
  Sound loaded(44100, 1);
  if (!LoadSourceFile(context, *path, loaded)) return false;
  RecordUndo(document, "Datei Mixen");
  if (!MixJob(document, loaded, *parameters, context.services.ui, StoredResampleQuality(context.settings))) {
    SoundChanged(document);
    return false;
  }
  FinishMix(context);
  return true;
}

bool Delete(EditContext& context) {
  AudioDocument& document = context.document;
  if (!HasSelection(document)) return false;
  context.services.playback.Stop();
  RecordUndo(document, "Löschen");
  const Range range = ClampedSelection(document);
  DeleteRange(document.sound, range.start, range.end);
  SoundChanged(document);
  SetSelection(document, range.start, range.start, range.start);
  FinishEdit(document, context.services, range.start, OneSecond(document));
  return true;
}

// Trim, trim start and trim end: cursor 0, the whole sound shown, no pre-roll.
void FinishTrim(EditContext& context, std::int32_t selection_start, std::int32_t selection_end) {
  AudioDocument& document = context.document;
  SoundChanged(document);
  SetSelection(document, selection_start, selection_end, 0);
  ZoomToAll(document);
  FinishEdit(document, context.services, 0, 0);
}

bool Trim(EditContext& context) {
  AudioDocument& document = context.document;
  SelectAllWhenEmpty(document);
  context.services.playback.Stop();
  RecordUndo(document, "Trimmem");
  const Range range = ClampedSelection(document);
  CropRange(document.sound, range.start, range.end);
  FinishTrim(context, 0, 0);
  return true;
}

bool TrimStartCommand(EditContext& context) {
  AudioDocument& document = context.document;
  context.services.playback.Stop();
  RecordUndo(document, "Anfang trimmen");
  const Range range = ClampedSelection(document);
  TrimStart(document.sound, range.start);
  // The selected audio stays selected.
  FinishTrim(context, 0, range.end - range.start);
  return true;
}

bool TrimEndCommand(EditContext& context) {
  AudioDocument& document = context.document;
  context.services.playback.Stop();
  RecordUndo(document, "Ende trimmen");
  const Range range = ClampedSelection(document);
  TrimEnd(document.sound, range.end);
  FinishTrim(context, range.start, range.end);
  return true;
}

bool SilenceSelection(EditContext& context) {
  AudioDocument& document = context.document;
  context.services.playback.Stop();
  RecordUndo(document, "Stille bearbeiten");
  const Range range = ClampedSelection(document);
  DeleteRange(document.sound, range.start, range.end);
  InsertSilence(document.sound, range.end - range.start, range.start);
  SoundChanged(document);
  FinishEdit(document, context.services, range.start, OneSecond(document));
  return true;
}

// A one-field dialog for the user's stored integer `key`; the accepted value is stored back.
std::optional<int> AskStoredNumber(EditContext& context, const char* title, const IntSetting& key,
                                   const char* label) {
  EffectDialog dialog;
  dialog.title = title;
  dialog.kind = EffectDialogKind::kFields;
  EffectField field;
  field.id = 101;
  field.name = key.name;
  field.label = label;
  field.value = std::to_string(context.settings.ReadUser(key));
  dialog.fields.push_back(std::move(field));
  // A typed count is a whole number of 0 or more.
  EffectParameter check;
  check.name = key.name;
  check.label = label;
  check.lowest = 0;
  dialog.validate = [check](const std::vector<EffectField>& fields) {
    const std::optional<ValueRefusal> refusal = CheckParameterValues({check}, FieldValues(fields));
    return refusal ? refusal->message : std::string();
  };
  if (!context.services.ui.AskEffectParameters(dialog)) return std::nullopt;
  const int value = TextToInt(dialog.fields[0].value);
  context.settings.WriteUser(key, value);
  return value;
}

enum class Place { kStart, kCursor, kEnd };

std::int32_t PlaceFrame(const AudioDocument& document, Place place) {
  switch (place) {
    case Place::kStart: return 0;
    case Place::kCursor: return std::clamp(document.state.cursor, 0, Length(document));
    case Place::kEnd: return Length(document);
  }
  return 0;
}

bool InsertSilenceCommand(EditContext& context, Place place) {
  static constexpr const char* kNames[] = {"Stille am Anfang einfügen", "Stille in der aktuellen Position einfügen",
                                           "Stille am Ende einfügen"};
  AudioDocument& document = context.document;
  const std::optional<int> ms = AskStoredNumber(context, "Stille einfügen", setting::kSilenceTimes, "Stille (ms):");
  if (!ms) return false;
  // Negative times insert nothing; the sound cannot grow past its frame limit.
  const std::int64_t frames = std::clamp<std::int64_t>(MsToFrames(*ms, document.sound.rate), 0,
                                                       kMaxFrames - Length(document));
  context.services.playback.Stop();
  RecordUndo(document, kNames[static_cast<int>(place)]);
  InsertSilence(document.sound, static_cast<std::int32_t>(frames), PlaceFrame(document, place));
  SoundChanged(document);
  FinishEdit(document, context.services, document.state.selection_start, OneSecond(document));
  return true;
}

bool InsertFileCommand(EditContext& context, Place place) {
  static constexpr const char* kNames[] = {"Datei am Anfang einfügen", "Datei an aktueller Position einfügen",
                                           "Datei am Ende einfügen"};
  AudioDocument& document = context.document;
  const std::optional<std::string> path = ChooseSourceFile(context, setting::kInsertFileDir);
  if (!path) return false;
  Sound loaded(44100, 1);
  if (!LoadSourceFile(context, *path, loaded)) return false;
  context.services.playback.Stop();
  RecordUndo(document, kNames[static_cast<int>(place)]);
  const std::int32_t at = PlaceFrame(document, place);
  if (!PasteJob(document.sound, at, at, loaded, context.services.ui, true, StoredResampleQuality(context.settings)))
    return false;
  SoundChanged(document);
  FinishEdit(document, context.services, document.state.selection_start, OneSecond(document));
  return true;
}

bool RepeatLoop(EditContext& context) {
  AudioDocument& document = context.document;
  SelectAllWhenEmpty(document);
  const std::optional<int> times =
      AskStoredNumber(context, "Loop wiederholen", setting::kRepeatNumTimes, "Anzahl der Wiederholungen:");
  if (!times) return false;
  const Range range = ClampedSelection(document);
  // No more copies than the sound can hold.
  const std::int64_t width = range.end - range.start;
  const std::int64_t fits = width > 0 ? (kMaxFrames - Length(document)) / width : 0;
  const std::int32_t copies = static_cast<std::int32_t>(std::clamp<std::int64_t>(*times, 0, fits));
  context.services.playback.Stop();
  RecordUndo(document, "Loop wiederholen");
  RepeatRange(document.sound, copies, range.start, range.end);
  SoundChanged(document);
  FinishEdit(document, context.services, range.start, OneSecond(document));
  ZoomToAll(document);
  SetSelection(document, range.start, range.end, document.state.cursor);
  return true;
}

bool Split(EditContext& context) {
  AudioDocument& document = context.document;
  if (!context.open_untitled) return false;
  context.services.playback.Stop();
  RecordUndo(document, "Splitte Dateien an diesem Punkt");
  const std::int32_t cursor = std::clamp(document.state.cursor, 0, Length(document));
  Sound rest(document.sound.rate, document.sound.channels);
  CopySound(document.sound, rest);
  TrimEnd(document.sound, cursor);
  document.state.modified = 1;
  TrimStart(rest, cursor);
  const Range range = ClampedSelection(document);
  SetSelection(document, range.start, range.end, cursor);
  SoundChanged(document);
  ZoomToAll(document);
  document.Notify(kModifiedChanged);
  context.open_untitled(std::move(rest));
  return true;
}

bool CopyToNew(EditContext& context) {
  AudioDocument& document = context.document;
  if (!HasSelection(document) || !context.open_untitled) return false;
  const Range range = ClampedSelection(document);
  Sound copy(document.sound.rate, document.sound.channels);
  CopySound(document.sound, copy);
  TrimEnd(copy, range.end);
  TrimStart(copy, range.start);
  context.open_untitled(std::move(copy));
  return true;
}

bool SelectRange(EditContext& context) {
  AudioDocument& document = context.document;
  const std::int32_t rate = document.sound.rate;
  EffectDialog dialog;
  dialog.title = "Bereich markieren";
  dialog.kind = EffectDialogKind::kFields;
  dialog.fields.push_back(Field(101, "Start", "Start", TypedTimeText(FramesToMs(document.state.selection_start, rate))));
  dialog.fields.push_back(Field(102, "Ende", "Ende", TypedTimeText(FramesToMs(document.state.selection_end, rate))));
  dialog.validate = [](const std::vector<EffectField>& fields) {
    for (const EffectField& field : fields)
      if (!IsTypedTime(field.value))
        return "Bitte geben Sie für \"" + field.label + "\" eine Zeit wie 1:02:03.45 ein (Stunden:Minuten:Sekunden).";
    return std::string();
  };
  if (!context.services.ui.AskEffectParameters(dialog)) return false;
  // Typed times outside the sound (negative ones included) are limited to it.
  const std::int64_t length = Length(document);
  auto frame_of = [&](const char* name) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(MsToFrames(ParseTypedTime(FieldValue(dialog.fields, name)), rate), 0, length));
  };
  SetSelection(document, frame_of("Start"), frame_of("Ende"), document.state.cursor);
  return true;
}

bool Marks(EditContext& context, int id) {
  AudioDocument& document = context.document;
  if (id == command_id::kSetMarkStart) document.mark_start = document.state.cursor;
  if (id == command_id::kSetMarkEnd) document.mark_end = document.state.cursor;
  SetSelection(document, document.mark_start, document.mark_end, document.mark_start);
  if (context.playing && context.playing()) {
    context.services.playback.Stop();
    context.services.playback.PlayFrom(document, document.state.cursor);
  }
  return true;
}

}  // namespace

bool EditClipboard::HasAudio() const { return FramesToMs(SoundLength(sound), sound.rate) > 0; }

bool IsEditCommand(int id) {
  using namespace command_id;
  return (id >= kCut && id <= kTrimEnd) || (id >= kSilenceSelection && id <= kSelectToEnd) ||
         (id >= kPasteFromSystem && id <= kSelectMarks);
}

bool RunEditCommand(int id, EditContext& context) {
  AudioDocument& document = context.document;
  switch (id) {
    case command_id::kCut: return Cut(context);
    case command_id::kCopy: return Copy(context);
    case command_id::kPaste: return Paste(context, false);
    case command_id::kPasteFromSystem: return Paste(context, true);
    case command_id::kPasteMix: return PasteMix(context, false);
    case command_id::kPasteMixFromSystem: return PasteMix(context, true);
    case command_id::kMixFile: return MixFile(context);
    case command_id::kDelete: return Delete(context);
    case command_id::kSelectAll: SelectAll(document); return true;
    case command_id::kSelectToStart: SetSelection(document, 0, document.state.cursor, document.state.cursor); return true;
    case command_id::kSelectToEnd: SetSelection(document, document.state.cursor, Length(document), document.state.cursor); return true;
    case command_id::kSelectRange: return SelectRange(context);
    case command_id::kRepeatLoop: return RepeatLoop(context);
    case command_id::kTrim: return Trim(context);
    case command_id::kTrimStart: return TrimStartCommand(context);
    case command_id::kTrimEnd: return TrimEndCommand(context);
    case command_id::kSilenceSelection: return SilenceSelection(context);
    case command_id::kInsertSilenceAtStart: return InsertSilenceCommand(context, Place::kStart);
    case command_id::kInsertSilenceAtCursor: return InsertSilenceCommand(context, Place::kCursor);
    case command_id::kInsertSilenceAtEnd: return InsertSilenceCommand(context, Place::kEnd);
    case command_id::kInsertFileAtStart: return InsertFileCommand(context, Place::kStart);
    case command_id::kInsertFileAtCursor: return InsertFileCommand(context, Place::kCursor);
    case command_id::kInsertFileAtEnd: return InsertFileCommand(context, Place::kEnd);
    case command_id::kCopyToNew: return CopyToNew(context);
    case command_id::kSaveSelectionAs: return SaveSelectionCommand(context.document, context.services.ui, context.settings);
    case command_id::kSplit: return Split(context);
    case command_id::kSetMarkStart:
    case command_id::kSetMarkEnd:
    case command_id::kSelectMarks: return Marks(context, id);
    default: return false;
  }
}

std::int64_t ParseTypedTime(std::string_view text) {
  // Whole milliseconds of the fields before the current one, the current field's seconds,
  // and the fraction's milliseconds; values are held below 2^50 so nothing overflows.
  constexpr std::int64_t kLimit = std::int64_t{1} << 50;
  std::int64_t before = 0;
  std::int64_t seconds = 0;
  std::int64_t fraction = 0;
  int fraction_digits = -1;  // -1: no "." yet
  bool negative = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      const int digit = c - '0';
      if (fraction_digits < 0) {
        seconds = std::min(kLimit, seconds * 10 + digit);
      } else if (fraction_digits < 3) {
        static constexpr int kPlaces[] = {100, 10, 1};
        fraction += digit * kPlaces[fraction_digits++];
      }
    } else if (c == ':') {
      before = std::min(kLimit, (before + std::min(kLimit, seconds * 1000) + fraction) * 60);
      seconds = 0;
      fraction = 0;
    } else if (c == '.') {
      if (fraction_digits < 0) fraction_digits = 0;
    } else if (c == '-') {
      negative = true;
    }
  }
  const std::int64_t ms = std::min(kLimit, before + std::min(kLimit, seconds * 1000) + fraction);
  return negative ? -ms : ms;
}

bool IsTypedTime(std::string_view text) {
  bool digit = false;
  for (const char c : text) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != ':' && c != '.' && c != '-' && c != ' ')
      return false;
  }
  return digit;
}

std::string TypedTimeText(std::int64_t milliseconds) { return FormatTimeHundredths(milliseconds); }

bool InsertFileJob(Sound& target, std::int32_t at, const Sound& source, Ui& ui) {
  return PasteJob(target, at, at, source, ui, true, ResampleQuality::kDefault).has_value();
}

}  // namespace sonavel
