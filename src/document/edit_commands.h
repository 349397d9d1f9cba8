#pragma once
// The edit commands of the "&Bearbeiten" menu on the active document: cut, copy, paste,
// paste mix, mix file, delete, the trims, silence, insert file, repeat, split, copy to new,
// save selection as, the select commands and the marks; the frame's internal clipboard and
// the exchange of WAV data through the system clipboard.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "document/audio_document.h"
#include "platform/clipboard.h"
#include "store/sound.h"

namespace sonavel {

// The ids of the edit commands (the Bearbeiten menu), owned here; the menu, the keys and
// the frame use these names.
namespace command_id {
inline constexpr int kUndo = 2001;
inline constexpr int kCut = 2002;
inline constexpr int kCopy = 2003;
inline constexpr int kPaste = 2004;
inline constexpr int kPasteMix = 2005;
inline constexpr int kDelete = 2006;
inline constexpr int kSelectAll = 2007;
inline constexpr int kMixFile = 2008;
inline constexpr int kRepeatLoop = 2009;
inline constexpr int kTrim = 2010;
inline constexpr int kTrimStart = 2011;
inline constexpr int kTrimEnd = 2012;
inline constexpr int kSilenceSelection = 2014;
inline constexpr int kInsertSilenceAtStart = 2015;
inline constexpr int kInsertSilenceAtCursor = 2016;
inline constexpr int kInsertSilenceAtEnd = 2017;
inline constexpr int kInsertFileAtStart = 2018;
inline constexpr int kInsertFileAtCursor = 2019;
inline constexpr int kInsertFileAtEnd = 2020;
inline constexpr int kCopyToNew = 2021;
inline constexpr int kSelectToStart = 2022;
inline constexpr int kSelectToEnd = 2023;
inline constexpr int kPasteFromSystem = 2025;
inline constexpr int kPasteMixFromSystem = 2026;
inline constexpr int kSelectRange = 2027;
inline constexpr int kSaveSelectionAs = 2028;
inline constexpr int kSplit = 2029;
inline constexpr int kSetMarkStart = 2030;
inline constexpr int kSetMarkEnd = 2031;
inline constexpr int kSelectMarks = 2032;
inline constexpr int kRedo = 2033;
}  // namespace command_id

class Settings;

// The frame's internal clipboard: one sound shared by all documents (it shares their block
// files, so it costs no copy), 44100 Hz mono and empty at first.
class EditClipboard {
 public:
  Sound sound{44100, 1};
  // True when it holds audio (its length is more than 0 ms): Paste and Paste Mix work.
  bool HasAudio() const;
};

// What the edit commands work with besides the document.
struct EditContext {
  AudioDocument& document;
  DocumentServices& services;  // dialogs and messages, settings to read, playback
  Settings& settings;          // where dialogs store their values
  EditClipboard& clipboard;
  // The system clipboard; null for none.
  ClipboardPort* system_clipboard = nullptr;
  // Opens `sound` as a new untitled, modified document shown whole (split, copy to new).
  std::function<void(Sound sound)> open_untitled = {};
  // Whether playback is running: the mark commands restart it from the cursor. Null: never.
  std::function<bool()> playing = {};
};

// The mix dialog (Paste Mix, Mix File) arrives at Ui::AskEffectParameters as an
// EffectDialog of kind EffectDialogKind::kMix titled "Mix einfügen" or "Datei Mixen", with
// these fields in this order:
//   "PasteMixVolume"  id 101, label "Lautstärke (%)": the volume in percent (edit field).
//   "Balance"         id 102, label "Stereo Regler (L - R)": slider 0 … 100, starts at "50".
//   "LongerSelection" id 103, label "Wenn Mix länger als Markierung ist:", choices
//                     {"Stille einfügen", "Markierung anpassen", "Mix ausblenden"}: the value
//                     is the chosen index as text (0, 1, 2), which is also the stored value.
//   "FadeOutTime"     id 104, label "Ausblendzeit:": frames (edit field).
//   "Stereo"          id 0, no label: "1" for a stereo document, else "0"; with "0" the
//                     balance slider is disabled.
//   "SelectionEmpty"  id 0, no label: "1" when the selection is empty; the dialog then
//                     disables the "LongerSelection" and "FadeOutTime" groups ("Markierung
//                     anpassen" is shown chosen).
// The fields with id 0 carry information only; the dialog shows no control for them and
// leaves their values as they are. `validate` refuses a volume above 100.


// The insert job "Datei einfügen": `source` goes into `target` at frame `at`, converted to
// the target's rate and channels first when they differ (under the progress window). False,
// with the target unchanged, when the conversion was cancelled or failed or the result would
// be longer than a sound can hold.
bool InsertFileJob(Sound& target, std::int32_t at, const Sound& source, Ui& ui);

// The edit command ids this module carries out.
bool IsEditCommand(int id);
// Runs edit command `id` (2002 … 2032) on context.document; false when it did nothing
// (cancelled, refused, nothing selected where a selection is needed).
bool RunEditCommand(int id, EditContext& context);

// A typed time in milliseconds: digits before "." are seconds, each ":" multiplies what
// was read by 60, after "." up to three digits count 100, 10 and 1 ms, a "-" anywhere
// makes it negative, other characters are skipped ("1:02:03.45" → 3,723,450).
std::int64_t ParseTypedTime(std::string_view text);
// Whether a typed time is one: digits with ":", ".", "-" and blanks only, at least one digit.
// The range dialog refuses anything else rather than reading it as 0.
bool IsTypedTime(std::string_view text);
// The text the range dialog shows for `milliseconds`: "%ld:%.2ld:%.2ld.%.2ld" of ms + 5.
std::string TypedTimeText(std::int64_t milliseconds);

}  // namespace sonavel
