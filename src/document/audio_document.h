#pragma once
// An open sound: what a waveform window shows and edits. It holds the Sound, the file
// path (or "Unbenannt %d"), the edit state (modified flag, selection, cursor, visible
// range), marks, tags, bookmarks and an undo ring of 8 whole snapshots of the segment
// list. A snapshot shares the block files, so an undo step costs a few records whatever
// the length of the sound.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/bookmarks.h"
#include "formats/tag_list.h"
#include "formats/wave_format.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

class SettingsReader;
class Ui;

inline constexpr int kUndoSlots = 8;
inline constexpr std::size_t kMaxUndoName = 259;

// The fields copied as one group into and out of undo entries.
struct EditState {
  std::uint8_t modified = 0;
  std::int32_t selection_start = 0;
  std::int32_t selection_end = 0;  // exclusive; start = end: no selection
  std::int32_t cursor = 0;         // the play and insert position
  std::int32_t view_start = 0;     // first frame shown
  std::int32_t view_end = 0;       // end of the shown range
  bool operator==(const EditState&) const = default;
};

struct UndoEntry {
  Sound sound{44100, 1};
  EditState state;
  std::string name;  // empty: the slot is unused
};

// What changed, for the windows that show a document.
enum DocumentChange : unsigned {
  kSoundChanged = 1u << 0,
  kSelectionChanged = 1u << 1,
  kCursorChanged = 1u << 2,
  kViewChanged = 1u << 3,
  kModifiedChanged = 1u << 4,
  kTitleChanged = 1u << 5,
  kUndoChanged = 1u << 6,  // the undo and redo menu texts
  kBookmarksChanged = 1u << 7,  // a bookmark came, went, was renamed, moved or jumped to
};

class AudioDocument;

class DocumentObserver {
 public:
  virtual ~DocumentObserver() = default;
  virtual void DocumentChanged(AudioDocument& document, unsigned changes) = 0;
};

class AudioDocument final : public Counted {
 public:
  AudioDocument(std::int32_t rate, std::uint8_t channels, std::string document_path);

  Sound sound;
  EditState state;
  TagList tags;
  int undo_index = 0;  // the ring slot of the newest recorded step
  std::array<UndoEntry, kUndoSlots> undo;
  std::string path;  // the file, or "Unbenannt %d" (no folder part) for a new document
  // The WAV format of the file it was opened from or last saved to; what "Speichern"
  // writes again. None for a new sound.
  std::optional<WaveFormat> file_format;
  std::uint8_t view_option = 0;
  std::int32_t view_kind = 0;  // 0 … 2
  std::int32_t mark_start = 0;
  std::int32_t mark_end = 0;
  BookmarkList bookmarks;
  // A bookmark sidecar that exists but could not be read: a save without bookmarks keeps it.
  std::string unread_sidecar;

  void AddObserver(DocumentObserver* observer);
  void RemoveObserver(DocumentObserver* observer);
  // Tells every observer what changed.
  void Notify(unsigned changes);

 private:
  std::vector<DocumentObserver*> observers_;
};

using DocumentRef = CountedRef<AudioDocument>;

// Records an undo step under `name` before a change: the newest slot gets a copy of the
// sound and the edit state, the two slots after it are emptied, and the document becomes
// modified.
void RecordUndo(AudioDocument& document, std::string_view name);
// False when no step is available. The first undo after a new step first records the
// current state as "Redo", so that it can be redone.
bool Undo(AudioDocument& document);
bool Redo(AudioDocument& document);

// The Undo and Redo menu items (and toolbar buttons).
struct UndoMenu {
  std::string undo_text;  // "Rückgängig %s\tCtrl+Z"
  bool undo_enabled = false;
  std::string redo_text;  // "Rückgängig %s\tCtrl+Y"
  bool redo_enabled = false;
};
UndoMenu UndoMenuState(const AudioDocument& document);

// Selection from min(start, end) to max(start, end), and the cursor.
void SetSelection(AudioDocument& document, std::int32_t start, std::int32_t end, std::int32_t cursor);

// After the sound changed: the view is kept inside the sound, and an empty sound shows
// one second.
void RefreshAfterSoundChange(AudioDocument& document);

// The view range operations.
void SetView(AudioDocument& document, std::int32_t end, std::int32_t start);
void ZoomIn(AudioDocument& document);
void ZoomOut(AudioDocument& document);
void ZoomToSelection(AudioDocument& document);
void ZoomToAll(AudioDocument& document);

// The whole path when it has no folder part (untitled), else the file name.
std::string DisplayTitle(const AudioDocument& document);
bool IsUntitled(const AudioDocument& document);

// Playback as an edit needs it; the playback engine implements it.
class PlaybackControl {
 public:
  virtual ~PlaybackControl() = default;
  virtual void Stop() = 0;
  virtual void PlayFrom(AudioDocument& document, std::int32_t frame) = 0;
  // An effect dialog's preview: plays `source` from its position; false when nothing plays.
  virtual bool Preview(SourceRef /*source*/) { return false; }
  virtual void StopPreview() {}
};

// What the document's commands use around them.
struct DocumentServices {
  Ui& ui;
  const SettingsReader& settings;
  PlaybackControl& playback;
};

// After every change: the free-space check (with the newest step's name in its message);
// when it passes, the cursor goes to `cursor` and, with "AutoPlaybackAfterEffects",
// playback starts `pre_roll` frames before it. False when the check failed.
bool FinishEdit(AudioDocument& document, DocumentServices& services, std::int32_t cursor,
                std::int32_t pre_roll);

// The Undo and Redo commands: playback stops first.
bool UndoCommand(AudioDocument& document, DocumentServices& services);
bool RedoCommand(AudioDocument& document, DocumentServices& services);

}  // namespace sonavel
