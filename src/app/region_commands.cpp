#include "app/region_commands.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

#include "document/bookmark_file.h"
#include "document/edit_commands.h"
#include "document/file_commands.h"
#include "formats/open_file.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "store/segment_reader.h"
#include "store/time.h"
#include "views/wave_mouse.h"

namespace sonavel {

namespace {

constexpr std::int64_t kMaxFrames = std::numeric_limits<std::int32_t>::max();

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of('/') + 1);
}

// The save dialog's type list: every extension the export offers.
std::string AudioFilesFilter() {
  std::string filter = "Audio Files (";
  for (std::string_view extension : kRegionExportExtensions) {
    if (filter.back() != '(') filter += ' ';
    filter += "*";
    filter += extension;
  }
  return filter + ")";
}

// A region's name as a file name: sanitised, "Bereich" when nothing is left.
std::string FileNameOf(const Region& region) {
  const std::string name = SanitiseName(region.name);
  return name.empty() ? "Bereich" : name;
}

Message Question(std::string text, std::string caption, MessageButtons buttons) {
  return {std::move(text), std::move(caption), MessageIcon::kQuestion, buttons};
}

Message Refusal(std::string text, std::string caption) {
  return {std::move(text), std::move(caption), MessageIcon::kError, MessageButtons::kOk};
}

// The indices in list order, each once, only those of existing regions.
std::vector<std::size_t> InListOrder(std::vector<std::size_t> indices, std::size_t count) {
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  indices.erase(std::lower_bound(indices.begin(), indices.end(), count), indices.end());
  return indices;
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace

std::array<std::string, 3> RegionRow(const Region& region) {
  return {region.name, FormatTimeHundredths(region.start) + "-" + FormatTimeHundredths(region.end),
          region.source_title};
}

bool AddRegionCommand(RegionFrame& frame) {
  AudioDocument* document = frame.active();
  if (document == nullptr) return false;
  if (document->state.selection_end <= document->state.selection_start) {
    frame.ui.ShowMessage({"Bitte markieren sie zuerst den Bereich, den sie speichern möchten.",
                          "Sonavel", MessageIcon::kInformation, MessageButtons::kOk});
    return false;
  }
  std::string offered = DefaultRegionName(*document);
  for (;;) {
    const std::optional<std::string> typed =
        frame.ui.PromptText("Bereich hinzufügen", "Name für Bereich eingeben", offered);
    if (!typed) return false;
    offered = *typed;
    if (typed->find_first_not_of(' ') == std::string::npos) {
      frame.ui.ShowMessage(Refusal("Der Name muss Text enthalten.", "Ungültiger Name"));
      continue;
    }
    // The name as the region keeps it (cut to its longest) is the one compared.
    Region region = MakeRegion(*document, *typed);
    if (frame.regions.Find(region.name) != nullptr) {
      const MessageAnswer answer = frame.ui.ShowMessage(Question(
          "Ein anderer Bereich mit diesem Namen existiert bereits. Möchten sie ihn ersetzen?",
          "Sonavel", MessageButtons::kYesNoCancel));
      if (answer == MessageAnswer::kCancel) return false;
      if (answer != MessageAnswer::kYes) continue;
      frame.regions.Remove(region.name);
    }
    frame.regions.Append(std::move(region));
    break;
  }
  if (frame.regions_changed) frame.regions_changed(true);
  return true;
}

bool ChooseRegion(RegionFrame& frame, std::size_t index) {
  if (index >= frame.regions.regions().size()) return false;
  const Region& region = frame.regions.regions()[index];
  for (const DocumentRef& each : frame.documents.documents()) {
    AudioDocument& document = *each;
    if (!SameName(DisplayTitle(document), region.source_title)) continue;
    frame.activate(document);
    const std::int32_t start = BookmarkFrame(document, region.start);
    const std::int32_t end = BookmarkFrame(document, std::max(region.start, region.end));
    SetSelection(document, start, end, start);
    // The view scrolls, keeping its width, so that the region's start shows.
    const FrameRange view = KeepCursorVisible({document.state.view_start, document.state.view_end},
                                              start, SoundLength(document.sound));
    document.state.view_start = static_cast<std::int32_t>(view.start);
    document.state.view_end = static_cast<std::int32_t>(view.end);
    document.Notify(kSelectionChanged | kCursorChanged | kViewChanged);
    if (frame.settings.Read(setting::kPlayRegion)) frame.play();
    return true;
  }
  return false;
}

bool PlayRegion(RegionFrame& frame, std::size_t index) {
  if (index >= frame.regions.regions().size()) return false;
  return frame.playback.Preview(OpenSoundReader(frame.regions.regions()[index].audio));
}

std::optional<Message> RegionNameProblem(const RegionList& regions, std::size_t index,
                                         std::string_view new_name) {
  const std::string name = SanitiseName(new_name);
  if (name.empty())
    return Refusal(
        "Der Name muss Text enthalten. Satzzeichen wie \" * . / : < > ? \\ | werden entfernt.",
        "Ungültiger Name");
  for (std::size_t i = 0; i < regions.regions().size(); ++i)
    if (i != index && SameName(regions.regions()[i].name, name))
      return Refusal(
          "Der Bereich kann nicht umbenannt werden, da bereits ein anderer Bereich mit diesem "
          "Namen "
          "existiert. Bitte versuchen sie einen anderen Namen.",
          "Bereichsname existiert");
  return std::nullopt;
}

bool RenameRegion(RegionFrame& frame, std::size_t index, std::string_view new_name) {
  if (index >= frame.regions.regions().size()) return false;
  if (const std::optional<Message> problem = RegionNameProblem(frame.regions, index, new_name)) {
    frame.ui.ShowMessage(*problem);
    return false;
  }
  frame.regions.regions()[index].name = SanitiseName(new_name);
  if (frame.regions_changed) frame.regions_changed(false);
  return true;
}

bool DeleteRegions(RegionFrame& frame, const std::vector<std::size_t>& indices) {
  const std::vector<std::size_t> chosen = InListOrder(indices, frame.regions.regions().size());
  if (chosen.empty()) return false;
  if (frame.ui.ShowMessage(Question("Markierte(n) Bereich(e) löschen?", "Löschen bestätigen",
                                    MessageButtons::kYesNo)) != MessageAnswer::kYes)
    return false;
  std::vector<Region>& regions = frame.regions.regions();
  for (auto index = chosen.rbegin(); index != chosen.rend(); ++index)
    regions.erase(regions.begin() + static_cast<std::ptrdiff_t>(*index));
  if (frame.regions_changed) frame.regions_changed(false);
  return true;
}

bool DeleteAllRegions(RegionFrame& frame) {
  if (frame.regions.regions().empty()) return false;
  if (frame.ui.ShowMessage(Question("Alle markierten Bereich(e) löschen?",
                                    "Alles löschen bestätigen", MessageButtons::kYesNo)) !=
      MessageAnswer::kYes)
    return false;
  frame.regions.Clear();
  if (frame.regions_changed) frame.regions_changed(false);
  return true;
}

bool SaveRegionCommand(RegionFrame& frame, std::size_t index) {
  if (index >= frame.regions.regions().size()) return false;
  std::string path;
  for (;;) {
    const std::string suggested = JoinPath(frame.settings.Read(setting::kSaveRegionDir),
                                           FileNameOf(frame.regions.regions()[index]) + ".wav");
    std::optional<std::string> chosen =
        frame.ui.ChooseSaveFile("Speichere Bereich als", AudioFilesFilter(), suggested);
    if (!chosen) return false;
    if (FileExtension(*chosen).empty()) *chosen += ".wav";
    frame.settings.Write(setting::kSaveRegionDir, FolderOf(*chosen));
    if (Exists(*chosen)) {
      const MessageAnswer answer =
          frame.ui.ShowMessage(Question("Es existiert bereits eine andere Datei mit dem selben "
                                        "Namen. Möchten sie diese erstezen?",
                                        "Sonavel", MessageButtons::kYesNoCancel));
      if (answer == MessageAnswer::kCancel) return false;
      if (answer != MessageAnswer::kYes) continue;
    }
    path = *chosen;
    break;
  }
  // The list may have changed while the dialogs were up.
  if (index >= frame.regions.regions().size()) return false;
  return SaveSoundToNewFile(frame.regions.regions()[index].audio, path, frame.ui,
                            OpenOptions{&frame.settings, std::nullopt, &frame.settings}) == kDone;
}

bool CopyRegionToNew(RegionFrame& frame, std::size_t index) {
  if (index >= frame.regions.regions().size()) return false;
  const Sound& audio = frame.regions.regions()[index].audio;
  Sound copy(audio.rate, audio.channels);
  CopySound(audio, copy);
  frame.open_untitled(std::move(copy));
  return true;
}

bool ExportRegions(RegionFrame& frame, const std::vector<std::size_t>& indices) {
  const std::vector<std::size_t> chosen = InListOrder(indices, frame.regions.regions().size());
  if (chosen.empty()) return false;
  ExportRegionsDialog dialog;
  for (std::size_t index : chosen) {
    const Region& region = frame.regions.regions()[index];
    dialog.regions.emplace_back(
        region.name, FormatTimeSeconds(FramesToMs(SoundLength(region.audio), region.audio.rate)));
  }
  dialog.folder = frame.settings.Read(setting::kExportRegionFolder);
  dialog.extensions.assign(kRegionExportExtensions.begin(), kRegionExportExtensions.end());
  dialog.format = frame.settings.Read(setting::kExportRegionFormat);
  if (!frame.ui.AskExportRegions(dialog)) return false;
  if (dialog.format < 0 ||
      static_cast<std::size_t>(dialog.format) >= kRegionExportExtensions.size()) {
    frame.ui.ShowMessage(Refusal("Bitte wählen sie ein Dateiformat aus der Liste.", dialog.title));
    return false;
  }
  if (dialog.folder.empty()) {
    frame.ui.ShowMessage(Refusal("Bitte wählen sie einen Zielordner.", dialog.title));
    return false;
  }
  std::error_code ignored;
  if (!std::filesystem::is_directory(dialog.folder, ignored)) {
    frame.ui.ShowMessage(
        Refusal("Der Ordner \"" + dialog.folder + "\" existiert nicht.", dialog.title));
    return false;
  }
  frame.settings.Write(setting::kExportRegionFolder, dialog.folder);
  frame.settings.Write(setting::kExportRegionFormat, dialog.format);
  const std::string extension(kRegionExportExtensions[static_cast<std::size_t>(dialog.format)]);
  for (std::size_t index : chosen) {
    if (index >= frame.regions.regions().size()) return false;
    const Region& region = frame.regions.regions()[index];
    const std::string name = SanitiseName(region.name);
    if (name.empty()) {
      frame.ui.ShowMessage(Refusal(
          "Der Name des Bereiches \"" + region.name +
              "\" enthält ungültige Zeichen für einen Dateinamen. Bitte benennen sie ihn um "
              "und versuchen es noch einmal. Der neue Name sollte nur Text enthalten",
          "Ungültiger Dateiname"));
      return false;
    }
    const std::string path = JoinPath(dialog.folder, name + extension);
    if (Exists(path) && frame.ui.ShowMessage(Question(
                            "Dieser Bereich \"" + region.name +
                                "\" existiert bereits in diesem Ordner. Möchten sie ihn ersetzen?",
                            "Sonavel", MessageButtons::kYesNo)) != MessageAnswer::kYes)
      return false;
    if (SaveSoundToNewFile(region.audio, path, frame.ui,
                           OpenOptions{&frame.settings, std::nullopt}) != kDone)
      return false;
  }
  return true;
}

bool JoinRegionAudio(const std::vector<const Sound*>& entries, int gap_ms, Ui& ui, Sound& result) {
  if (entries.empty()) return false;
  Sound joined(entries.front()->rate, entries.front()->channels);
  CopySound(*entries.front(), joined);
  const std::int64_t gap = MsToFrames(std::max(gap_ms, 0), joined.rate);
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const std::int32_t length = SoundLength(joined);
    if (gap > 0) {
      if (length + gap > kMaxFrames) return false;
      InsertSilence(joined, static_cast<std::int32_t>(gap), length);
    }
    if (!InsertFileJob(joined, SoundLength(joined), *entries[i], ui)) return false;
  }
  result = std::move(joined);
  return true;
}

bool JoinRegionsCommand(RegionFrame& frame) {
  JoinRegionsDialog dialog;
  for (const Region& region : frame.regions.regions()) dialog.regions.push_back(RegionRow(region));
  dialog.auto_gap = frame.settings.Read(setting::kAutoGap);
  dialog.gap_ms = frame.settings.Read(setting::kAutoGapTime);
  dialog.start_preview = [&frame](int row) {
    return row >= 0 && PlayRegion(frame, static_cast<std::size_t>(row));
  };
  dialog.stop_preview = [&frame] { frame.playback.StopPreview(); };
  dialog.store_gap = [&frame](bool auto_gap, int gap_ms) {
    frame.settings.Write(setting::kAutoGap, auto_gap);
    frame.settings.Write(setting::kAutoGapTime, gap_ms);
  };
  const bool accepted = frame.ui.AskJoinRegions(dialog);
  frame.playback.StopPreview();
  if (!accepted || dialog.joined.empty()) return false;
  // Each entry gets its own copy of the audio, so the list may change while the join runs.
  std::vector<Sound> copies;
  for (int row : dialog.joined) {
    if (row < 0 || static_cast<std::size_t>(row) >= frame.regions.regions().size()) return false;
    const Sound& audio = frame.regions.regions()[static_cast<std::size_t>(row)].audio;
    CopySound(audio, copies.emplace_back(audio.rate, audio.channels));
  }
  std::vector<const Sound*> entries;
  for (const Sound& copy : copies) entries.push_back(&copy);
  Sound result;
  if (!JoinRegionAudio(entries, dialog.auto_gap ? dialog.gap_ms : 0, frame.ui, result))
    return false;
  frame.open_untitled(std::move(result));
  return true;
}

}  // namespace sonavel
