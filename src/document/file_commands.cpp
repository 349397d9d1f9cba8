#include "document/file_commands.h"

#include <filesystem>
#include <memory>
#include <utility>

#include "document/bookmark_file.h"
#include "document/document_list.h"
#include "effects/resampler.h"
#include "formats/open_file.h"
#include "formats/playlists.h"
#include "formats/pump.h"
#include "formats/stored_format.h"
#include "formats/tag_files.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "store/segment_reader.h"
#include "document/working_folder.h"

namespace sonavel {

namespace {

constexpr int kMinimumRate = 6000;
constexpr int kMaximumRate = 96000;

// Documents hold 1 or 2 channels at a positive rate, whatever the settings say.
std::int32_t UsableRate(int rate) { return rate > 0 ? rate : 44100; }
std::uint8_t UsableChannels(int channels) { return channels == 2 ? 2 : 1; }

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

// The title without its extension: what a save dialog suggests before its own ".wav".
std::string Stem(std::string title) {
  const std::size_t slash = title.find_last_of("/\\");
  const std::size_t dot = title.rfind('.');
  if (dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1)) title.resize(dot);
  return title;
}

std::string NotSavedText(const std::string& path) {
  return "Kann die Datei nicht speichern, \"" + path +
         "\" da nicht genügend freier Speicherplatz vorhanden ist. Bitte versuchen Sie die Datei an einem anderen "
         "Ort zu speichern oder löschen Sie alte Dateien und versuche Sie es dann erneut.";
}

std::string MaybeNotSavedText(const std::string& path) {
  return "Die Datei \"" + path +
         "\" wurde eventuell nicht gespeichert, da zu wenig freier Speicherplatz vorhanden ist. Bitte versuchen Sie "
         "die Datei an einem anderen Ort zu speichern oder löschen Sie alte Dateien und versuche Sie es dann erneut.";
}

// A document's file format, or the stored save format, as written at `rate` and `channels`.
WaveFormat FormatAt(const std::optional<WaveFormat>& own, std::uint32_t rate, std::uint16_t channels) {
  if (own) {
    // PCM of 12 or 20 bits is written in its container's size, as it was stored.
    std::uint16_t bits = own->bits;
    if (own->tag == kTagPcm) bits = bits <= 8 ? 8 : bits <= 16 ? 16 : bits <= 24 ? 24 : 32;
    const WaveFormat format = WritableFormat(own->tag, bits, rate, channels);
    if (format.tag != 0) return format;
  }
  return StoredFormatAt(rate, channels);
}

// What a save of a sound of `rate` and `channels` to a file other than its document's own
// writes: for WAV where the chooser is asked, the chooser's start; for WAV without it, the
// stored format as stored (the sound is converted to it); for the other formats the stored
// kind at the sound's rate and channels, which they take from it.
WaveFormat NewFileFormat(const std::string& path, std::uint32_t rate, std::uint16_t channels,
                         const OpenOptions& options) {
  const FileFormat* entry = FormatForPath(path);
  if (entry == nullptr || !entry->chooses_wav_format) return FormatAt(std::nullopt, rate, channels);
  return options.ask_raw_settings != nullptr ? ChooserStartFormat(rate, channels) : StoredSaveFormat(rate, channels);
}

}  // namespace

Message CannotSaveMessage(const std::string& path) {
  return {"Kann Datei nicht erstellen\"" + path + "\"zum Speichern.", "Sonavel", MessageIcon::kError,
          MessageButtons::kOk};
}

Result SaveSoundFile(SourceRef source, const WaveFormat& wanted, const std::string& path, Ui& ui,
                     const OpenOptions& asked, WaveFormat* written) {
  OpenOptions options = asked;
  WaveFormat chosen = wanted;
  // An encoded format needs its encoder, installed on demand. The format options come
  // before the progress window; cancelling them ends the save without a message. An
  // extension that cannot be written is told below.
  const bool writable = CheckWritable(path, ui);
  if (Settings* settings = std::exchange(options.ask_raw_settings, nullptr);
      settings != nullptr && writable &&
      !RunFormatOptions(path, static_cast<std::uint32_t>(source->rate), source->channels, ui, *settings, chosen,
                        options))
    return kFailed;
  std::unique_ptr<Progress> progress = ui.OpenProgress("Speichere...");
  const WaveFormat format = SaveFormatFor(path, chosen, options);
  const ResampleQuality quality =
      options.settings != nullptr ? StoredResampleQuality(*options.settings) : ResampleQuality::kDefault;
  source = ConvertFormat(std::move(source), static_cast<std::int32_t>(format.rate),
                         static_cast<std::uint8_t>(format.channels), quality);
  const Result result = SaveSource(std::move(source), format, path, *progress, options);
  progress.reset();
  if (written != nullptr) *written = format;
  // A writer that could not be made and a write that failed on the way are told alike.
  if (result == kFailed) ui.ShowMessage(CannotSaveMessage(path));
  return result;
}

WaveFormat DocumentSaveFormat(const AudioDocument& document) {
  return FormatAt(document.file_format, static_cast<std::uint32_t>(document.sound.rate), document.sound.channels);
}

std::optional<std::string> ChooseSavePath(Ui& ui, Settings& settings, const std::string& title,
                                          const std::string& own_file) {
  for (;;) {
    const std::string folder = settings.Read(setting::kSaveAsDir);
    // The stored extension is offered only when a save may ask for it.
    // Appended rather than built with "." + text: GCC 12 warns falsely about the latter.
    std::string extension = ".";
    extension += settings.Read(setting::kSaveAsFormat);
    if (!IsSaveFileType(extension)) extension = ".wav";
    std::optional<std::string> path =
        ui.ChooseSaveFile("Audiodatei speichern als", SaveFileFilter(), JoinPath(folder, Stem(title) + extension));
    if (!path) return std::nullopt;
    if (FileExtension(*path).empty()) *path += extension;
    settings.Write(setting::kSaveAsDir, FolderOf(*path));
    if (const std::string chosen = FileExtension(*path); IsSaveFileType(chosen))
      settings.Write(setting::kSaveAsFormat, chosen.substr(1));
    // A playlist or feed also replaces the MP3 beside it: that one counts as the file too.
    std::error_code ignored;
    const bool publishing = PublishingKindOf(FileExtension(*path)).has_value();
    if (*path != own_file && (std::filesystem::exists(*path, ignored) ||
                              (publishing && std::filesystem::exists(PublishedMp3Path(*path), ignored)))) {
      const MessageAnswer answer = ui.ShowMessage(
          {"Es existiert bereits eine andere Datei mit dem selben Namen. Möchten sie diese erstezen?", "Sonavel",
           MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
      if (answer == MessageAnswer::kCancel) return std::nullopt;
      if (answer != MessageAnswer::kYes) continue;
    }
    return path;
  }
}

bool SaveDocumentTo(AudioDocument& document, const std::string& path, Ui& ui, const OpenOptions& options) {
  // The file goes to the target's disk, so that is the one checked, before and after.
  if (!LowSpaceCheckAt(ui, NotSavedText(path), path)) return false;
  const auto rate = static_cast<std::uint32_t>(document.sound.rate);
  const bool own_file = path == document.path && document.file_format;
  const WaveFormat format = own_file ? DocumentSaveFormat(document)
                                     : NewFileFormat(path, rate, document.sound.channels, options);
  WaveFormat written = format;
  OpenOptions with_tags = options;
  with_tags.tags = &document.tags;
  const Result result = SaveSoundFile(OpenSoundReader(document.sound), format, path, ui, with_tags, &written);
  if (result != kDone) return false;
  const bool renamed = document.path != path;
  document.path = path;
  document.file_format = written;
  // The bookmarks follow the audio to its new place.
  if (const std::optional<Message> problem = SaveBookmarkFile(document)) ui.ShowMessage(*problem);
  // Too little space left afterwards: the file may be incomplete, so the changes stay marked.
  if (LowSpaceCheckAt(ui, MaybeNotSavedText(path), path)) document.state.modified = 0;
  document.Notify(kModifiedChanged | (renamed ? unsigned{kTitleChanged} : 0u));
  return true;
}

bool SaveDocumentCommand(AudioDocument& document, Ui& ui, Settings& settings, bool save_as) {
  const OpenOptions options{&settings, std::nullopt, &settings};
  if (!save_as && !IsUntitled(document)) {
    const std::string extension = FileExtension(document.path);
    if (extension != ".ra" && extension != ".ram" && extension != ".rm")
      return SaveDocumentTo(document, document.path, ui, options);
    // RealAudio files are read, never written: offer another format instead.
    const MessageAnswer answer = ui.ShowMessage(
        {"Speichern im real audio Dateiformat wird nicht unterstützt. Möchten sie stattdessen in einem anderen "
         "Format speichern (wav, mp3, gsm, vox)?",
         "Sonavel", MessageIcon::kQuestion, MessageButtons::kYesNo});
    if (answer != MessageAnswer::kYes) return false;
  }
  const std::optional<std::string> path =
      ChooseSavePath(ui, settings, DisplayTitle(document), IsUntitled(document) ? std::string() : document.path);
  return path && SaveDocumentTo(document, *path, ui, options);
}

Result SaveSoundToNewFile(const Sound& sound, const std::string& path, Ui& ui, const OpenOptions& options) {
  const WaveFormat format = NewFileFormat(path, static_cast<std::uint32_t>(sound.rate), sound.channels, options);
  return SaveSoundFile(OpenSoundReader(sound), format, path, ui, options);
}

bool SaveSelectionCommand(AudioDocument& document, Ui& ui, Settings& settings) {
  const std::optional<std::string> path = ChooseSavePath(ui, settings, DisplayTitle(document));
  if (!path) return false;
  // Without a selection there is nothing to single out: the whole sound is saved.
  const std::int32_t length = SoundLength(document.sound);
  std::int32_t start = std::clamp(std::min(document.state.selection_start, document.state.selection_end), 0, length);
  std::int32_t end = std::clamp(std::max(document.state.selection_start, document.state.selection_end), 0, length);
  if (start == end) {
    start = 0;
    end = length;
  }
  Sound part(document.sound.rate, document.sound.channels);
  CopyRange(document.sound, part, start, end);
  return SaveSoundToNewFile(part, *path, ui, OpenOptions{&settings, std::nullopt, &settings, &document.tags}) ==
         kDone;
}

std::optional<std::string> ChooseFileToOpen(Ui& ui) { return ui.ChooseOpenFile("Öffnen", OpenFileFilter(), ""); }

DocumentRef OpenDocumentFile(DocumentList& list, const std::string& path, Ui& ui, const OpenOptions& asked) {
  // The raw settings dialog comes before the progress window; cancelling it opens nothing.
  OpenOptions options = asked;
  if (AskRawSettingsFirst(path, ui, options) != kDone) return {};
  DocumentRef document = MakeCounted<AudioDocument>(44100, 1, path);
  {
    std::unique_ptr<Progress> progress = ui.OpenProgress("Lade Datei...");
    if (OpenSoundFile(path, document->sound, *progress, ui, &document->file_format, options) != kDone) return {};
  }
  ReadTags(document->tags, path);
  LoadBookmarkFile(*document);
  document->state.modified = 0;
  document->state.view_end = SoundLength(document->sound);
  RefreshAfterSoundChange(*document);
  list.Add(document);
  return document;
}

bool EditTagsCommand(AudioDocument& document, Ui& ui) {
  if (!HasTags(document.path)) {
    ui.ShowMessage({"Nur wav und mp3 können bearbeitete Tags haben.", "Sonavel", MessageIcon::kError,
                    MessageButtons::kOk});
    return false;
  }
  TagDialog dialog;
  for (const std::string_view name : kTagNames) dialog.fields.emplace_back(name, document.tags.Get(name));
  dialog.genres.assign(GenreNames().begin(), GenreNames().end());
  // The drop-down shows the stored genre when it names one, else the first name.
  for (auto& [name, text] : dialog.fields)
    if (name == "GENRE") text = GenreNames()[static_cast<std::size_t>(std::max(GenreIndex(text), 0))];
  if (!ui.AskTags(dialog)) return false;
  for (const auto& [name, text] : dialog.fields) document.tags.Set(name, text);
  document.state.modified = 1;
  document.Notify(kModifiedChanged | kTitleChanged);
  return true;
}

bool RunNewFileDialog(Ui& ui, Settings& settings, bool defaults) {
  const IntSetting& rate_key = defaults ? setting::kDefaultSampleRate : setting::kSelectedSampleRate;
  const IntSetting& channels_key = defaults ? setting::kDefaultChannels : setting::kSelectedChannels;
  int rate = settings.Read(rate_key);
  int channels = UsableChannels(settings.Read(channels_key));
  for (;;) {
    if (!ui.AskSampleFormat(defaults ? "Voreinstellungen setzen" : "Neue Datei", rate, channels)) return false;
    if (rate >= kMinimumRate && rate <= kMaximumRate) break;
    ui.ShowMessage({"Samplerate muss zwischen 6000 und 96000 Samples pro Sekunde liegen.", "Sonavel",
                    MessageIcon::kError, MessageButtons::kOk});
  }
  settings.Write(rate_key, rate);
  settings.Write(channels_key, UsableChannels(channels));
  return true;
}

DocumentRef NewDocumentCommand(DocumentList& list, Ui& ui, Settings& settings) {
  const bool prompt = settings.Read(setting::kPromptSampleAndChannels);
  if (prompt && !RunNewFileDialog(ui, settings, false)) return {};
  const int rate = settings.Read(prompt ? setting::kSelectedSampleRate : setting::kDefaultSampleRate);
  const int channels = settings.Read(prompt ? setting::kSelectedChannels : setting::kDefaultChannels);
  DocumentRef document = MakeCounted<AudioDocument>(UsableRate(rate), UsableChannels(channels),
                                                    "Unbenannt " + std::to_string(list.UntitledNumber()));
  RefreshAfterSoundChange(*document);
  list.Add(document);
  return document;
}

}  // namespace sonavel
