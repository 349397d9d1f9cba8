#pragma once
// The user-interface port: what the program's logic asks of the user. The editor
// implements it with Qt dialogs, tests with ScriptedUi, the command-line front end
// with ConsoleUi.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
enum class EffectDialogKind { kFields, kEnvelope, kCompressor, kCrossFade, kStereoPan, kMix };

struct EffectField {
  int id = 101;         // the control id
  std::string name;     // the stored value's name, e.g. "AmplifyGain"
  std::string label;    // what the dialog shows beside it
  std::string value;    // the text in the field
  // A drop-down instead of an edit: the entries, the value being the chosen index, or
  // with `free_entry` the text, which may also be typed.
  std::vector<std::string> choices;
  bool free_entry = false;
};

struct EffectPreset {
  std::string name;                 // shown in the drop-down (entry 0 "Voreinstellungen Wählen" is implied)
  std::vector<std::string> values;  // one per field, in field order
};

struct EffectDialog {
  std::string title;
  EffectDialogKind kind = EffectDialogKind::kFields;
  std::vector<EffectField> fields;
  std::vector<EffectPreset> presets;
  int presets_id = 103;
  // The envelope editor's points: byte pairs (x, y), x 0 … 255 across the selection, y
  // with 128 as unity.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
  // Checked at OK: empty when the fields are acceptable, else the message to show (under
  // "Ungültiger Wert"); the dialog then stays open.
  std::function<std::string(const std::vector<EffectField>&)> validate;
  // Preview: start plays the fields' (clamped) effect over the selection and tells through
  // `stopped` when playback ends; stop ends it. Without start there is no preview button;
  // `preview_empty` disables it.
  std::function<bool(const EffectDialog&)> start_preview;
  std::function<void()> stop_preview;
  bool preview_empty = false;
};

// The answer that changes and loses nothing: Cancel where offered, else No, else Abort/Ok.
MessageAnswer SafeAnswer(MessageButtons buttons);

// A long operation's progress: two text lines, a bar, and a way to cancel. The operation
// calls Pump between pieces of work so that the user interface stays alive.
class Progress {
 public:
  virtual ~Progress() = default;
  virtual void SetTexts(std::string_view title, std::string_view detail) = 0;
  virtual void SetFraction(double done) = 0;  // 0 … 1
  // True once the user asked to cancel.
  virtual bool Pump() = 0;
};

// Shows nothing and never cancels.
class SilentProgress final : public Progress {
 public:
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return false; }
};

// A bar on standard error when it is a terminal ("title  [#####.....]  45%"); nothing
// otherwise. Never cancels: the terminal's interrupt ends the program instead.
class ConsoleProgress final : public Progress {
 public:
  ConsoleProgress();
  ~ConsoleProgress() override;
  void SetTexts(std::string_view title, std::string_view detail) override;
  void SetFraction(double done) override;
  bool Pump() override { return false; }

 private:
  void Draw();
  bool terminal_;
  bool drawn_ = false;
  std::string title_;
  int percent_ = -1;
};

class Ui {
 public:
  virtual ~Ui() = default;
  // Shows a modal message box and returns the button the user chose.
  virtual MessageAnswer ShowMessage(const Message& message) = 0;
  // The new-file dialog under `title`: a sample rate field and a mono/stereo choice,
  // showing `rate` and `channels` (1 or 2) and leaving the user's entries there. False
  // when cancelled. Checking the entries is the caller's.
  virtual bool AskSampleFormat(std::string_view title, int& rate, int& channels) = 0;
  // The progress window of a long operation titled `title`.
  virtual std::unique_ptr<Progress> OpenProgress(std::string_view title) = 0;
  // File and folder choosers and a text prompt; nullopt when cancelled. `filter` lists
  // the file types as "Wave (*.wav);;All Files (*)".
  virtual std::optional<std::string> ChooseOpenFile(std::string_view title, std::string_view filter,
                                                    std::string_view folder) = 0;
  virtual std::optional<std::string> ChooseSaveFile(std::string_view title, std::string_view filter,
                                                    std::string_view suggested) = 0;
  virtual std::optional<std::string> ChooseFolder(std::string_view title, std::string_view folder) = 0;
  // An effect's parameter dialog; true when accepted (the fields then hold the values).
  virtual bool AskEffectParameters(EffectDialog& dialog) = 0;
  virtual std::optional<std::string> PromptText(std::string_view title, std::string_view label,
                                                std::string_view text) = 0;
};

// Records every message and answers from a queue; with the queue empty it gives the
// safe answer.
class ScriptedUi final : public Ui {
 public:
  struct FormatAnswer {
    bool accept;
    int rate;
    int channels;
  };

  MessageAnswer ShowMessage(const Message& message) override;
  // Answers from the format queue; with it empty, cancels.
  bool AskSampleFormat(std::string_view title, int& rate, int& channels) override;
  std::unique_ptr<Progress> OpenProgress(std::string_view title) override;
  // Choosers and prompts answer from the choice queue; with it empty, they cancel.
  std::optional<std::string> ChooseOpenFile(std::string_view title, std::string_view filter,
                                            std::string_view folder) override;
  std::optional<std::string> ChooseSaveFile(std::string_view title, std::string_view filter,
                                            std::string_view suggested) override;
  std::optional<std::string> ChooseFolder(std::string_view title, std::string_view folder) override;
  std::optional<std::string> PromptText(std::string_view title, std::string_view label,
                                        std::string_view text) override;

  void QueueChoice(std::optional<std::string> choice) { choices_.push_back(std::move(choice)); }

  // The next effect dialog's answer: the values to type, by field name (fields not named
  // keep their text), and for the envelope editor its points; nothing cancels. An answer
  // that fails the dialog's check is shown as its message and the next answer is tried,
  // as a user would correct the field. With the queue empty, dialogs are cancelled.
  struct EffectAnswer {
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
  };
  bool AskEffectParameters(EffectDialog& dialog) override;
  void QueueEffectAnswer(std::optional<EffectAnswer> answer) { effect_answers_.push_back(std::move(answer)); }
  // Each effect dialog as it was shown, with the values it started with.
  const std::vector<EffectDialog>& effect_dialogs() const { return effect_dialogs_; }
  // The titles of the choosers, prompts and progress windows shown, in order.
  const std::vector<std::string>& requests() const { return requests_; }
  // The file names the save choosers suggested, in order.
  const std::vector<std::string>& save_suggestions() const { return save_suggestions_; }

  void QueueAnswer(MessageAnswer answer) { answers_.push_back(answer); }
  void QueueFormat(FormatAnswer answer) { formats_.push_back(answer); }
  const std::vector<Message>& shown() const { return shown_; }
  // Each format dialog as it was shown: its title and the values it started with.
  const std::vector<std::string>& format_dialogs() const { return format_dialogs_; }
  void Clear() { shown_.clear(); answers_.clear(); formats_.clear(); format_dialogs_.clear(); }

 private:
  std::vector<Message> shown_;
  std::deque<MessageAnswer> answers_;
  std::deque<FormatAnswer> formats_;
  std::vector<std::string> format_dialogs_;
  std::deque<std::optional<std::string>> choices_;
  std::vector<std::string> requests_;
  std::vector<std::string> save_suggestions_;
  std::deque<std::optional<EffectAnswer>> effect_answers_;
  std::vector<EffectDialog> effect_dialogs_;

  std::optional<std::string> NextChoice(std::string request);
};

// Headless: prints "caption: text" to standard error and gives the safe answer.
class ConsoleUi final : public Ui {
 public:
  MessageAnswer ShowMessage(const Message& message) override;
  bool AskSampleFormat(std::string_view, int&, int&) override { return false; }
  std::unique_ptr<Progress> OpenProgress(std::string_view) override {
    return std::make_unique<ConsoleProgress>();
  }
  std::optional<std::string> ChooseOpenFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseSaveFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> PromptText(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  // Headless runs take the values as they are (stored, or given on the command line).
  bool AskEffectParameters(EffectDialog&) override { return true; }
};

}  // namespace sonavel
