#include "document/audio_document.h"

#include <algorithm>
#include <cmath>

#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "document/working_folder.h"

namespace sonavel {

namespace {

constexpr unsigned kRestored =
    kSoundChanged | kSelectionChanged | kCursorChanged | kViewChanged | kModifiedChanged | kUndoChanged;

int Slot(int index) { return ((index % kUndoSlots) + kUndoSlots) % kUndoSlots; }

// At most 259 bytes, not cutting a UTF-8 character in two.
std::string UndoName(std::string_view name) {
  if (name.size() <= kMaxUndoName) return std::string(name);
  std::size_t cut = kMaxUndoName;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut));
}

void Empty(UndoEntry& entry) {
  entry.name.clear();
  FreeSegments(entry.sound);
}

// Steps 1 to 3 of recording: the next slot takes the state, the two after it are emptied.
void Store(AudioDocument& document, std::string_view name) {
  document.undo_index = Slot(document.undo_index + 1);
  UndoEntry& entry = document.undo[document.undo_index];
  CopySound(document.sound, entry.sound);
  entry.state = document.state;
  entry.name = UndoName(name);
  Empty(document.undo[Slot(document.undo_index + 1)]);
  Empty(document.undo[Slot(document.undo_index + 2)]);
}

void Restore(AudioDocument& document, const UndoEntry& entry) {
  CopySound(entry.sound, document.sound);
  document.state = entry.state;
}

bool HasFolder(const std::string& path) { return path.find_first_of("/\\") != std::string::npos; }

}  // namespace

AudioDocument::AudioDocument(std::int32_t rate, std::uint8_t channels, std::string document_path)
    : sound(rate, channels), path(std::move(document_path)) {}

void AudioDocument::AddObserver(DocumentObserver* observer) { observers_.push_back(observer); }

void AudioDocument::RemoveObserver(DocumentObserver* observer) {
  std::erase(observers_, observer);
}

void AudioDocument::Notify(unsigned changes) {
  // A copy: an observer may remove itself while it is told.
  const std::vector<DocumentObserver*> observers = observers_;
  for (DocumentObserver* observer : observers) observer->DocumentChanged(*this, changes);
}

void RecordUndo(AudioDocument& document, std::string_view name) {
  Store(document, name);
  const bool was_modified = document.state.modified != 0;
  document.state.modified = 1;
  document.Notify(kUndoChanged | (was_modified ? 0u : unsigned{kModifiedChanged}));
}

bool Undo(AudioDocument& document) {
  const int i = document.undo_index;
  if (document.undo[i].name.empty()) return false;
  if (document.undo[Slot(i + 1)].name.empty()) {
    // The first undo after a new step keeps the present state for redo.
    Store(document, "Redo");
    document.undo_index = i;
  }
  Restore(document, document.undo[i]);
  document.undo_index = Slot(i - 1);
  document.Notify(kRestored);
  return true;
}

bool Redo(AudioDocument& document) {
  const int j = Slot(document.undo_index + 2);
  if (document.undo[j].name.empty()) return false;
  Restore(document, document.undo[j]);
  document.undo_index = Slot(document.undo_index + 1);
  document.Notify(kRestored);
  return true;
}

UndoMenu UndoMenuState(const AudioDocument& document) {
  UndoMenu menu;
  const std::string& undo_name = document.undo[document.undo_index].name;
  menu.undo_enabled = !undo_name.empty();
  menu.undo_text = "Rückgängig " + undo_name + "\tCtrl+Z";
  menu.redo_enabled = !document.undo[Slot(document.undo_index + 2)].name.empty();
  menu.redo_text = "Rückgängig " +
                   (menu.redo_enabled ? document.undo[Slot(document.undo_index + 1)].name : std::string()) +
                   "\tCtrl+Y";
  return menu;
}

void SetSelection(AudioDocument& document, std::int32_t start, std::int32_t end, std::int32_t cursor) {
  document.state.selection_start = std::min(start, end);
  document.state.selection_end = std::max(start, end);
  document.state.cursor = cursor;
  document.Notify(kSelectionChanged | kCursorChanged);
}

void RefreshAfterSoundChange(AudioDocument& document) {
  const std::int32_t length = SoundLength(document.sound);
  EditState& state = document.state;
  state.view_end = std::min(state.view_end, length);
  if (state.view_start > length) state.view_start = 0;
  if (length == 0) state.view_end = document.sound.rate;
}

void SetView(AudioDocument& document, std::int32_t end, std::int32_t start) {
  document.state.view_start = std::max(0, start);
  document.state.view_end = std::min(SoundLength(document.sound), end);
  document.Notify(kViewChanged);
}

void ZoomIn(AudioDocument& document) {
  std::int64_t width = std::int64_t{document.state.view_end} - document.state.view_start;
  width = width >= 200 ? width / 2 : 100;
  const std::int64_t start = std::max<std::int64_t>(0, document.state.cursor - width / 2);
  SetView(document, static_cast<std::int32_t>(std::min<std::int64_t>(start + width, INT32_MAX)),
          static_cast<std::int32_t>(start));
}

void ZoomOut(AudioDocument& document) {
  const std::int64_t length = SoundLength(document.sound);
  const std::int64_t width =
      std::min(length, 2 * (std::int64_t{document.state.view_end} - document.state.view_start));
  // In floating point, truncated toward zero: view start 10 and width 5 give 8.
  const double shifted = static_cast<double>(document.state.view_start) - static_cast<double>(width) * 0.25;
  const std::int64_t start = std::max<std::int64_t>(0, static_cast<std::int64_t>(std::trunc(shifted)));
  SetView(document, static_cast<std::int32_t>(std::min<std::int64_t>(start + width, INT32_MAX)),
          static_cast<std::int32_t>(start));
}

void ZoomToSelection(AudioDocument& document) {
  if (document.state.selection_start == document.state.selection_end) return;
  SetView(document, document.state.selection_end, document.state.selection_start);
}

void ZoomToAll(AudioDocument& document) {
  const std::int32_t length = SoundLength(document.sound);
  if (length > 0) SetView(document, length, 0);
}

std::string DisplayTitle(const AudioDocument& document) {
  if (!HasFolder(document.path)) return document.path;
  return document.path.substr(document.path.find_last_of("/\\") + 1);
}

bool IsUntitled(const AudioDocument& document) { return !HasFolder(document.path); }

bool FinishEdit(AudioDocument& document, DocumentServices& services, std::int32_t cursor,
                std::int32_t pre_roll) {
  if (!LowSpaceCheck(services.ui, LowSpaceText(document.undo[document.undo_index].name))) return false;
  document.state.cursor = cursor;
  if (services.settings.Read(setting::kAutoPlaybackAfterEffects)) {
    document.state.cursor = std::max(0, cursor - pre_roll);
    services.playback.PlayFrom(document, document.state.cursor);
  }
  document.Notify(kCursorChanged);
  return true;
}

bool UndoCommand(AudioDocument& document, DocumentServices& services) {
  services.playback.Stop();
  return Undo(document);
}

bool RedoCommand(AudioDocument& document, DocumentServices& services) {
  services.playback.Stop();
  return Redo(document);
}

}  // namespace sonavel
