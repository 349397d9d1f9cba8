#pragma once
// The frame's region commands: add a region from the active document's selection, choose,
// play, rename, save, copy to a new document, delete, export to a folder, and join regions
// into a new document. They ask through the Ui port and reach the windows through
// RegionFrame, so the editor's list window and the tests drive them alike.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "document/audio_document.h"
#include "document/bookmarks.h"
#include "document/document_list.h"
#include "platform/ui.h"

namespace sonavel {

class Settings;

// What the region commands need of the frame.
struct RegionFrame {
  Ui& ui;
  Settings& settings;
  DocumentList& documents;
  RegionList& regions;
  PlaybackControl& playback;  // the previews of regions
  // The active document; null for none.
  std::function<AudioDocument*()> active;
  // Makes `document`'s window the active one.
  std::function<void(AudioDocument& document)> activate;
  // Starts playback of the active document as the play command does.
  std::function<bool()> play;
  // Opens `sound` as a new untitled, modified document, arranging the windows when
  // "AutoArrangeWindows" is set.
  std::function<void(Sound sound)> open_untitled;
  // The region list changed: the list window shows it again, or opens (`open`).
  std::function<void(bool open)> regions_changed;
};

// The file extensions the export offers, in the order of its format index.
inline constexpr std::array<std::string_view, 16> kRegionExportExtensions = {
    ".wav",  ".mp3", ".au",  ".aiff", ".gsm", ".vox", ".raw", ".ogg",
    ".flac", ".aac", ".m4a", ".rss",  ".m3u", ".pls", ".wpl", ".amr"};

// A region's row in the lists: the name, "%s-%s" of start and end (long time form), and the
// source title.
std::array<std::string, 3> RegionRow(const Region& region);

// "Bereich hinzufügen": asks for the name (offering DefaultRegionName), replaces a region of
// that name after asking, appends the region of the selection and refreshes or opens the
// list. False when cancelled, or without a selection (after saying so).
bool AddRegionCommand(RegionFrame& frame);

// Choosing a region (by its index): the open document whose display title is the region's
// source title (ignoring case) becomes active with start … end selected and the cursor at
// the start; with "PlayRegion" it plays. False when no open document has that title.
bool ChooseRegion(RegionFrame& frame, std::size_t index);
// Plays the region's own audio as a preview.
bool PlayRegion(RegionFrame& frame, std::size_t index);

// Why `new_name` cannot be the new name of region `index`, or none: nothing left after
// sanitising, or another region has that name.
std::optional<Message> RegionNameProblem(const RegionList& regions, std::size_t index,
                                         std::string_view new_name);
// Renames region `index` to the sanitised `new_name` after the check above, which tells
// the user a refusal. True when renamed.
bool RenameRegion(RegionFrame& frame, std::size_t index, std::string_view new_name);

// Deletes the regions at `indices` ("Bereich(e) löschen") or all of them, after the
// confirmation. True when any went.
bool DeleteRegions(RegionFrame& frame, const std::vector<std::size_t>& indices);
bool DeleteAllRegions(RegionFrame& frame);

// "Bereich speichern...": the save dialog "Speichere Bereich als" in "SaveRegionDir", the
// question before replacing a file, and the save.
bool SaveRegionCommand(RegionFrame& frame, std::size_t index);
// Opens the region's audio as a new untitled document.
bool CopyRegionToNew(RegionFrame& frame, std::size_t index);

// "Nach Ordner exportieren": the export dialog (folder "ExportRegionFolder", format
// "ExportRegionFormat"), then every region of `indices` in list order saved as its
// sanitised name with the format's extension. Stops at the first region it cannot write
// (after telling why). True when all were written.
bool ExportRegions(RegionFrame& frame, const std::vector<std::size_t>& indices);

// "Bereiche zusammenfügen": the join dialog; on OK the joined audio, with the gap of
// "AutoGap"/"AutoGapTime" between entries, opens as a new untitled document.
bool JoinRegionsCommand(RegionFrame& frame);
// The join itself: the first entry's audio, then per further entry `gap_ms` of silence
// (none when negative) at the result's rate and the entry's audio converted to the
// result's rate and channels. False (nothing made) when an insertion failed.
bool JoinRegionAudio(const std::vector<const Sound*>& entries, int gap_ms, Ui& ui, Sound& result);

}  // namespace sonavel
