#pragma once
// The effect framework: how an effect renders over a range of a sound, and the catalogue
// that describes each effect command (names, stored parameters, presets, checks, dialog,
// lead-in) for the editor's command handler and the headless front end alike.
//
// Rendering never changes audio in place: a reader over the sound feeds the effect's filter
// chain into a block writer whose new segments then replace the range, so the undo history
// keeps pointing at the old block files.

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "effects/resampler.h"
#include "platform/setting_keys.h"
#include "platform/result.h"
#include "platform/dialog_model.h"
#include "platform/progress.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

class SettingsReader;
class Settings;

// The chunked copy loop: seeks `source` to `start` (when above 0) and writes end - start
// frames of it into `sink` in chunks of 8192 frames through one buffer, setting the
// progress bar from `from` to `to` of its length and the second text line to `detail`.
// False when the user cancelled.
bool CopyChunks(SampleSource& source, SampleSink& sink, std::int32_t start, std::int32_t end, Progress& progress,
                double from = 0.0, double to = 1.0, std::string_view detail = "Bitte warten...");

// Renders `chain` (built on a reader over `sound`) over [start, end) into new block files
// and replaces that range with them. `title` goes to the progress window's first line.
// kDone, or kCancelled with the sound untouched.
using ChainBuilder = std::function<SourceRef(SourceRef reader)>;
Result RunGenericEffect(Sound& sound, std::int32_t start, std::int32_t end, const ChainBuilder& chain,
                     std::string_view title, Progress& progress, SourceRef input = {}, SinkRef output = {});

// Where a render reads its range and writes its result. In the editor it reads the sound
// and the rendered frames replace the range in new block files; a headless run streams
// from a file (`input`, positioned like the sound) to a file (`output`) instead.
class RangeStream {
 public:
  RangeStream(Sound& sound, SourceRef input = {}, SinkRef output = {});
  SampleSource& source() { return *source_; }
  SampleSink& sink() { return *sink_; }
  // Finishes the writing; in the editor the rendered frames replace [start, end). False
  // when a write failed (the sound is then left as it was).
  bool Commit(std::int32_t start, std::int32_t end);

 private:
  Sound& sound_;
  bool streaming_;
  Sound rendered_;
  SourceRef source_;
  SinkRef sink_;
};

// The values of an effect's parameters as text, by stored name ("AmplifyGain" → "150").
using EffectValues = std::map<std::string, std::string>;
// A value as an integer (decimal, as the settings read it), or as a real number. Both
// expect values that passed CheckEffectValues (or came from ReadEffectValues).
int ValueInt(const EffectValues& values, const std::string& name);
double ValueReal(const EffectValues& values, const std::string& name);
// The values of dialog fields by name.
EffectValues FieldValues(const std::vector<EffectField>& fields);

// What one render works on.
struct EffectRun {
  Sound& sound;  // the document's sound
  std::int32_t start;  // the selection, never empty
  std::int32_t end;
  EffectValues values;
  // The envelope editor's points, for the effects that use them.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
  Progress& progress;
  // Where the cursor goes after the effect (the selection's start unless the effect moves
  // it) and the selection after it; the runner may change them (reverse, trims, cross fade).
  std::int32_t cursor = 0;
  std::int32_t selection_end = 0;
  // The whole sound is shown afterwards (automatic gain control).
  bool show_all = false;
  // Why a run that could not finish failed (a temporary file, a write), for the user.
  std::string failure = {};
  // A headless run of a streaming effect over the whole sound: read from `input` and
  // write to `output` instead of the sound (see RangeStream).
  SourceRef input = {};
  SinkRef output = {};
  // The selection's start afterwards (a rate change moves it).
  std::int32_t selection_start = 0;
  // A refusal found while running, shown as it is instead of `failure`.
  std::optional<Message> refusal = {};
  // The filter of the rate command's conversion, as the settings choose it.
  ResampleQuality resample_quality = ResampleQuality::kDefault;
};

struct EffectParameter {
  std::string name = {};      // stored value name
  std::string key = std::string(setting::kStoredValuesGroup);  // the settings group
  std::string fallback = {};  // default text
  std::string label = {};     // the dialog's label
  int id = 101;               // control id in the dialog
  std::vector<std::string> choices = {};  // a drop-down's entries (the value is the index)
  bool free_entry = false;    // the drop-down also takes typed text, which is the value
  bool real = false;          // read as a decimal real (stored as typed)
  // Kept in a 16-bit field (gains, levels): a stored value is truncated to 16 bits.
  bool short_value = false;
  // What a typed value must be: a whole number (a real one with `real`) from `lowest` to
  // `highest`; for a drop-down without free entry, the index of one of its choices.
  double lowest = std::numeric_limits<int>::min();
  double highest = std::numeric_limits<int>::max();
  // The effect's own refusal of a number above `highest` or below `lowest`; when empty,
  // the generic one names the field and its range.
  std::string too_high = {};
  std::string too_low = {};
  // A stored number out of range is limited into it instead of giving the default.
  bool clamps_stored = false;
  // How the dialog shows it; a decibel control spans control_lowest … control_highest.
  EffectFieldKind kind = EffectFieldKind::kText;
  int control_lowest = 0;
  int control_highest = 0;
};

// Why a typed value is refused.
struct ValueRefusal {
  const EffectParameter* parameter = nullptr;  // null: the effect's check across fields
  std::string value;                           // the text as given
  bool not_a_number = false;                   // else a number out of range (or no choice)
  std::string message;                         // what the dialog shows under "Ungültiger Wert"
  bool own_message = false;                    // `message` is the effect's own text
};

// The lowest and highest value `parameter` takes (a drop-down: 0 to its last index).
double LowestValue(const EffectParameter& parameter);
double HighestValue(const EffectParameter& parameter);
// A number as the range texts show it: whole numbers without a fraction.
std::string NumberText(double value);

// The check of one typed value: read strictly (see ParseWholeNumber), then its range.
std::optional<ValueRefusal> CheckParameterValue(const EffectParameter& parameter, const std::string& text);
// The first of `values` that its parameter refuses, in parameter order; values without a
// parameter are not looked at.
std::optional<ValueRefusal> CheckParameterValues(const std::vector<EffectParameter>& parameters,
                                                 const EffectValues& values);

struct EffectDefinition {
  int command_id = 0;
  std::string undo_name;       // also the dialog's title and the headless NAME
  std::string progress_title;  // first line of the progress window
  std::vector<EffectParameter> parameters;
  std::vector<EffectPreset> presets;
  int presets_id = 103;
  EffectDialogKind dialog = EffectDialogKind::kFields;
  bool has_dialog = false;     // effects without parameters run at once
  bool has_preview = false;
  bool needs_stereo = false;
  bool uses_envelope_file = false;  // the point list lives in "envelope.dat"
  // The run honours EffectRun::input and output, so a headless run need not load the file.
  bool streams = false;
  // The channels a streaming run writes; 0: those of the input.
  std::uint8_t streamed_channels = 0;
  // Playback lead-in after the effect in milliseconds; negative: no automatic playback
  // lead-in at all (the cursor goes to frame 0).
  std::int32_t lead_in_ms = 500;
  // Whether accepted values are stored for next time.
  bool remembers = true;
  // The command works on the selection as it stands: with none it does nothing, instead of
  // taking the whole sound. Headless runs take the selection as From= and To= (frames).
  bool keeps_selection = false;
  // The dialog's button that puts every field back to its default; 0: none.
  int reset_id = 0;
  // Adjusts the starting values to the sound (e.g. its own rate).
  std::function<void(EffectValues&, const Sound&)> initial;
  // True when the values would change nothing: the command then ends at once, recording
  // no undo step.
  std::function<bool(const EffectValues&, const Sound&)> unchanged;
  // Checked at OK after every value passed its parameter's own check (CheckEffectValues):
  // empty when acceptable, else the message. For conditions across fields.
  std::function<std::string(const EffectValues&)> validate;
  // Checked before anything is asked or recorded: the message when the effect cannot work
  // on [start, end) of the sound; the command then shows it and fails.
  std::function<std::optional<Message>(const Sound&, std::int32_t start, std::int32_t end)> refuse;
  // False for a command that only reads the selection (taking a noise sample): no undo
  // step, and the sound, cursor and view stay as they are.
  bool changes_sound = true;
  // The render: kDone, kCancelled, or kFailed when it could not start or finish.
  std::function<Result(EffectRun&)> run;
  // The preview chain over a reader of the selection, with values clamped into range; empty
  // when the effect has no preview.
  std::function<SourceRef(SourceRef reader, const EffectValues&)> preview;
  // The logic behind a special dialog's controls (the equaliser's), made when it opens;
  // its curve is the one the effect renders.
  std::function<std::shared_ptr<EqualizerControls>(Settings&, const EffectValues&)> controls;
};

// Every value of the effect's parameters, then the effect's own check; nullopt when all
// are acceptable. The one check of the dialogs and of headless runs.
std::optional<ValueRefusal> CheckEffectValues(const EffectDefinition& effect, const EffectValues& values);
// The message of CheckEffectValues, empty when the values are acceptable.
std::string RefusalMessage(const EffectDefinition& effect, const EffectValues& values);

// Every effect command, in menu order.
const std::vector<EffectDefinition>& EffectCatalogue();
const EffectDefinition* FindEffect(int command_id);
// The text with upper-case letters lowered, ASCII and the Latin-1 letters of UTF-8 ("Ä",
// "Ö", "Ü", ...), for comparisons without regard to case.
std::string FoldCase(std::string_view text);
// The effects answering to `name`: by undo name or, with `menu_text` (a command id's menu
// text as shown, or ""), by their menu text, compared without regard to case
// ("normalisieren" and "RÜCKWÄRTS" are found). Mono and Stereo share their undo name.
std::vector<const EffectDefinition*> FindEffectsByName(std::string_view name,
                                                       const std::function<std::string(int)>& menu_text = {});
// The first of them, or nullptr.
const EffectDefinition* FindEffectByName(std::string_view name);

// The stored values of an effect's parameters, missing ones at their defaults. Stored texts
// are read leniently (the leading number), but one with no number or out of its range
// gives the default, so that an old or edited settings file never silences a selection.
EffectValues ReadEffectValues(const EffectDefinition& effect, const SettingsReader& settings);
void WriteEffectValues(const EffectDefinition& effect, const EffectValues& values, Settings& settings);

// The message for effects that need two channels, caption and icon included.
Message StereoOnlyMessage();

}  // namespace sonavel
