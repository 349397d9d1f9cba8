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
