#pragma once
// What the program shows the user and what it gets back, as plain data: message boxes and
// the parameter dialogs of the effects and edit commands. The Ui port (platform/ui.h) shows
// them; the effects describe theirs without needing the port.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sonavel {

enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel, kAbortRetryIgnore };
enum class MessageAnswer { kOk, kCancel, kYes, kNo, kRetry, kAbort, kIgnore };

struct Message {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
};

// An effect's parameter dialog. The fields start with the stored values; on OK they hold
// what the user accepted. `kind` picks the dialog: plain fields, or one of the special
// editors (the envelope curve, the compressor, the cross fade times, the stereo slider).
// kMix: the mix dialog of the paste-mix and mix-file commands (volume, balance, what to do
// when the mix is longer than the selection, fade-out time).
// kEqualizer: the equaliser's curve editor with its buttons, driven by `equalizer`.
enum class EffectDialogKind { kFields, kEnvelope, kCompressor, kCrossFade, kStereoPan, kMix, kEqualizer };

// How a field is shown: an edit (or a drop-down, with choices), or a decibel control, a
// slider over whole decibels from `lowest` to `highest` with the value beside it as
// "-3dB", "0dB" or "+2dB" (widened to hold a value beyond that range), or a slider over
// whole numbers from `lowest` to `highest` with the number beside it.
// kEditAndSlider: an edit (the field's id) with a slider (id + 1) over lowest … highest kept in step.
enum class EffectFieldKind { kText, kDecibels, kSlider, kEditAndSlider };

struct EffectField {
  int id = 101;         // the control id
  std::string name;     // the stored value's name, e.g. "AmplifyGain"
  std::string label;    // what the dialog shows beside it
  std::string value;    // the text in the field
  // A drop-down instead of an edit: the entries, the value being the chosen index, or
  // with `free_entry` the text, which may also be typed.
  std::vector<std::string> choices;
  bool free_entry = false;
  EffectFieldKind kind = EffectFieldKind::kText;
  int lowest = 0;
  int highest = 0;
};

// The decibel control's text of a value: "%ddB", with "+" before positive values.
std::string DecibelControlText(int decibels);

struct EffectPreset {
  std::string name;                 // shown in the drop-down (entry 0 "Voreinstellungen Wählen" is implied)
  std::vector<std::string> values;  // one per field, in field order
};

// One value of an equaliser preset's settings window: an edit and a slider beside it.
struct EqualizerWindowValue {
  std::string name;   // the stored value's name, e.g. "StartFreq"
  std::string label;
  int edit_id = 101;
  int slider_id = 102;
  int value = 0;
  int highest = 20000;  // the slider runs from 0
  int step = 50;
  bool enabled = true;
};

// A preset's modeless settings window ("BandPass Einstellungen").
struct EqualizerWindow {
  std::string title;
  std::vector<EqualizerWindowValue> values;
  int reset_id = 113;
  int apply_id = 114;
};

// The equaliser dialog's logic behind its controls. Every change of the curve is stored
// at once, as is every value a preset window takes.
class EqualizerControls {
 public:
  using Points = std::vector<std::pair<std::uint8_t, std::uint8_t>>;
  virtual ~EqualizerControls() = default;
  virtual const Points& points() const = 0;
  // The curve as the editor left it (a dragged point): stored and reloaded.
  virtual void SetPoints(Points points) = 0;
  virtual void Reset() = 0;  // button 102
  virtual void Snap() = 0;   // button 104
  // The drop-down 105: an entry above 0 rebuilds the curve from the preset's stored values.
  virtual int preset() const = 0;
  virtual void ChoosePreset(int index) = 0;
  // Button 106: why no window can open (no preset chosen), or nothing.
  virtual std::optional<Message> SettingsRefusal() const = 0;
  // The chosen preset's window with its stored values.
  virtual EqualizerWindow Window() const = 0;
  // Values typed or slid in the window, by name: all checked first (empty when taken, else
  // the message and nothing changes), then stored and the curve rebuilt.
  virtual std::string ApplyWindowValues(const std::map<std::string, std::string>& values) = 0;
  virtual void ResetWindow() = 0;
  // Where the windows open, kept in the settings.
  virtual std::pair<int, int> WindowPosition() const = 0;
  virtual void SetWindowPosition(int x, int y) = 0;
};

struct EffectDialog {
  std::string title;
  EffectDialogKind kind = EffectDialogKind::kFields;
  std::vector<EffectField> fields;
  std::vector<EffectPreset> presets;
  int presets_id = 103;
  // A button ("Zurücksetzen") that puts the fields back to `reset_values`, one per field;
  // 0: none.
  int reset_id = 0;
  std::vector<std::string> reset_values;
  // The envelope editor's points: byte pairs (x, y), x 0 … 255 across the selection, y
  // with 128 as unity.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
  // The equaliser's controls (kEqualizer only).
  std::shared_ptr<EqualizerControls> equalizer;
  // Checked at OK: empty when the fields are acceptable, else the message to show (under
  // `refusal_caption`); the dialog then stays open.
  std::function<std::string(const std::vector<EffectField>&)> validate;
  std::string refusal_caption = "Ungültiger Wert";
  // Preview: start plays the fields' (clamped) effect over the selection and tells through
  // `stopped` when playback ends; stop ends it. Without start there is no preview button;
  // `preview_empty` disables it.
  std::function<bool(const EffectDialog&)> start_preview;
  std::function<void()> stop_preview;
  bool preview_empty = false;
};

// The raw settings dialog ("LRawDlg") of headerless files: the settings record it edits
// (its subkey name, "RawAudio" or "VoxAudio"), a drop-down of the codec names, a rate field
// offering `rate_choices` where any number may be typed, and "1 - Mono"/"2 - Stereo". The
// values start as shown; on OK they hold what the user accepted.
struct RawDialog {
  std::string title;
  std::string record;
  std::vector<std::string> codec_names;
  std::vector<int> rate_choices;
  int codec = 0;      // index into codec_names
  std::string rate;   // the rate field's text
  int channels = 1;   // 1 or 2
};

inline constexpr int kRawDialogMinimumRate = 6000;
inline constexpr int kRawDialogMaximumRate = 196000;

// The check at OK: empty when the values may be taken, else the text to show on the rate
// field (the dialog then stays open). A rate that is not a whole number of 6000 to 196000
// is refused, typed text such as "abc" included.
std::string RawDialogRefusal(const RawDialog& dialog);
// The accepted rate field as a number (after RawDialogRefusal found nothing to refuse).
int RawDialogRate(const RawDialog& dialog);

// The WAV format chooser ("Wave Dateiformat wählen"): one line per format the program can
// write ("PCM, 44100 Hz, 16 Bit, Stereo"), the line `selected` chosen when it opens; on OK
// `selected` holds the user's line.
struct WavFormatDialog {
  std::string title;
  std::vector<std::string> choices;
  int selected = 0;  // index into choices
};

// An encoder's settings dialog ("LMp3EncodeDlg", "OggEncodeDlg", "FlacEncodeDlg",
// "LAACEncodeDlg", "LAMREncodeDlg"): one control per stored value, each holding the stored
// number. A list shows `choices` (each entry stands for its number); with `free_entry`
// any whole number may also be typed; a switch is a check box (0 or 1); `options` shows
// the choices as radio buttons. The defaults button puts every `standard` in. On OK
// `value` holds what the user accepted.
struct EncoderChoice {
  std::string text;
  int value = 0;
};

enum class EncoderControlKind { kList, kSwitch, kOptions };

struct EncoderControl {
  std::string name;   // the stored value's name, e.g. "CBRBitRate"
  std::string label;  // what the dialog shows beside it (a switch: its text)
  EncoderControlKind kind = EncoderControlKind::kList;
  std::vector<EncoderChoice> choices;
  bool free_entry = false;
  int value = 0;
  int standard = 0;
  // Enabled only while the control named `enabled_by` (a mode) holds `enabled_when`; empty:
  // always enabled.
  std::string enabled_by;
  int enabled_when = 0;
};

struct EncoderDialog {
  std::string name;   // the dialog's name, also its object name
  std::string title;
  std::string defaults_button = "Standard";
  std::vector<EncoderControl> controls;
};

// The publishing settings dialog ("LPlaylistEncodeDlg") of playlists and podcast feeds: a
// field for the root address the published MP3 is found under, and a button that opens
// the MP3 encoder's settings (`mp3_settings`, which stores what that dialog accepted). On
// OK `root_url` holds what was typed.
struct PublishingDialog {
  std::string name = "LPlaylistEncodeDlg";
  std::string title;
  std::string root_url;
  std::function<void()> mp3_settings;
};

// The tag editor "LAudioTagDataEditor": a text field per tag (name and text, in the dialog's
// order; "GENRE" among them is the drop-down's text) and the genre names of the drop-down.
struct TagDialog {
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> genres;
};

// The region list's export dialog "Nach Ordner exportieren": the regions to export (one
// row each: the name and the length in the short time form), the target folder (typed, or
// chosen through a folder chooser) and the file format as an index into `extensions`. On
// OK `folder` and `format` hold the user's choice; the caller checks both.
struct ExportRegionsDialog {
  std::string title = "Nach Ordner exportieren";
  std::vector<std::pair<std::string, std::string>> regions;
  std::string folder;
  std::vector<std::string> extensions;
  int format = 0;
};

// The join dialog "Bereiche zusammenfügen": every region as a row (name, "%s-%s" of start
// and end, source title) and the join list, empty at first, as indices into the rows in
// join order ("Add" appends the chosen rows, "Remove" takes entries out). The play button
// plays a row through `start_preview` (false: nothing plays) and reads "Stop" until
// `stop_preview` or the end of the preview. The settings button edits `auto_gap` and
// `gap_ms` and, when accepted, hands them to `store_gap`. OK is possible only with a
// non-empty join list, which `joined` then holds.
struct JoinRegionsDialog {
  std::string title = "Bereiche zusammenfügen";
  std::vector<std::array<std::string, 3>> regions;
  std::vector<int> joined;
  bool auto_gap = true;
  int gap_ms = 300;
  std::function<bool(int row)> start_preview;
  std::function<void()> stop_preview;
  std::function<void(bool auto_gap, int gap_ms)> store_gap;
};

// The answer that changes and loses nothing: Cancel where offered, else No, else Abort/Ok.
MessageAnswer SafeAnswer(MessageButtons buttons);

}  // namespace sonavel
