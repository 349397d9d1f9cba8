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

#include "platform/dialog_model.h"
#include "platform/progress.h"

namespace sonavel {

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
  // The raw settings dialog; true on OK, with the values accepted by RawDialogRefusal.
  virtual bool AskRawSettings(RawDialog& dialog) = 0;
  // The WAV format chooser; true on OK, with the chosen line in `dialog.selected`.
  virtual bool ChooseWavFormat(WavFormatDialog& dialog) = 0;
  // An encoder's settings dialog; true on OK, with the accepted numbers in the controls.
  virtual bool AskEncoderSettings(EncoderDialog& dialog) = 0;
  // The publishing settings dialog; true on OK, with the typed address in the dialog.
  virtual bool AskPublishingSettings(PublishingDialog& dialog) = 0;
  // The tag editor; true on OK, with the edited texts in the fields.
  virtual bool AskTags(TagDialog& dialog) = 0;
  // The region export and join dialogs; true on OK, with the choices in the dialog.
  virtual bool AskExportRegions(ExportRegionsDialog& dialog) = 0;
  virtual bool AskJoinRegions(JoinRegionsDialog& dialog) = 0;
  // A small chooser listing `items` under `title`; the index of the one chosen, nullopt
  // when cancelled.
  virtual std::optional<int> ChooseFromList(std::string_view title, const std::vector<std::string>& items) = 0;
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

  // Lists answer from the choice queue too: the item with the queued text is chosen; a text
  // not among the items cancels.
  std::optional<int> ChooseFromList(std::string_view title, const std::vector<std::string>& items) override;

  void QueueChoice(std::optional<std::string> choice) { choices_.push_back(std::move(choice)); }
  // Each prompt as it was shown: its label and the text it offered.
  const std::vector<std::pair<std::string, std::string>>& prompts() const { return prompts_; }
  // The items of each list chooser shown, in order.
  const std::vector<std::vector<std::string>>& list_offers() const { return list_offers_; }

  // The next effect dialog's answer: the values to type, by field name (fields not named
  // keep their text), and for the envelope editor its points; nothing cancels. An answer
  // that fails the dialog's check is shown as its message and the next answer is tried,
  // as a user would correct the field. With the queue empty, dialogs are cancelled.
  // The equaliser's answer works its controls in this order: reset, the preset chosen in
  // the drop-down with the values typed into its window and applied (refused values are
  // shown and the next answer is tried), snap, then the points as dragged.
  struct EffectAnswer {
    std::map<std::string, std::string> values;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> points;
    bool equalizer_reset = false;
    int equalizer_preset = 0;  // 0 keeps the drop-down as it is
    std::map<std::string, std::string> preset_values{};
    bool equalizer_snap = false;
  };
  bool AskEffectParameters(EffectDialog& dialog) override;
  void QueueEffectAnswer(std::optional<EffectAnswer> answer) { effect_answers_.push_back(std::move(answer)); }
  // The next raw settings dialog's answer; nothing cancels. An answer that the check
  // refuses is recorded as a shown message and the next answer is tried. With the queue
  // empty, the dialog is cancelled.
  struct RawAnswer {
    int codec;
    std::string rate;
    int channels;
  };
  bool AskRawSettings(RawDialog& dialog) override;
  void QueueRawAnswer(std::optional<RawAnswer> answer) { raw_answers_.push_back(std::move(answer)); }
  // The next WAV format chooser's answer: the line to choose, "" for the line it opened
  // with; nothing cancels. With the queue empty, the chooser is cancelled.
  bool ChooseWavFormat(WavFormatDialog& dialog) override;
  void QueueWavFormatAnswer(std::optional<std::string> line) { wav_format_answers_.push_back(std::move(line)); }
  // The next encoder dialog's answer: the numbers to set, by value name (controls not
  // named keep theirs; a name the dialog lacks cancels, as no such control can be set);
  // nothing cancels. With the queue empty, the dialog is cancelled.
  using EncoderAnswer = std::map<std::string, int>;
  bool AskEncoderSettings(EncoderDialog& dialog) override;
  void QueueEncoderAnswer(std::optional<EncoderAnswer> answer) { encoder_answers_.push_back(std::move(answer)); }
  // The next publishing dialog's answer: the root address to type, and whether the MP3
  // settings button is pressed first; nothing cancels. With the queue empty, the dialog is
  // cancelled.
  struct PublishingAnswer {
    std::string root_url;
    bool mp3_settings = false;
  };
  bool AskPublishingSettings(PublishingDialog& dialog) override;
  void QueuePublishingAnswer(std::optional<PublishingAnswer> answer) {
    publishing_answers_.push_back(std::move(answer));
  }
  // Each publishing dialog as it was shown, with the address it started with.
  const std::vector<PublishingDialog>& publishing_dialogs() const { return publishing_dialogs_; }
  // The next tag editor's answer: the texts to type, by tag name ("GENRE" must be one of the
  // drop-down's names, else the editor is cancelled); nothing cancels. With the queue empty,
  // the editor is cancelled.
  using TagAnswer = std::map<std::string, std::string>;
  bool AskTags(TagDialog& dialog) override;
  void QueueTagAnswer(std::optional<TagAnswer> answer) { tag_answers_.push_back(std::move(answer)); }
  // The next export dialog's answer: the folder and the format index to take; nothing
  // cancels. With the queue empty, the dialog is cancelled.
  struct ExportAnswer {
    std::string folder;
    int format = 0;
  };
  bool AskExportRegions(ExportRegionsDialog& dialog) override;
  void QueueExportAnswer(std::optional<ExportAnswer> answer) { export_answers_.push_back(std::move(answer)); }
  const std::vector<ExportRegionsDialog>& export_dialogs() const { return export_dialogs_; }
  // The next join dialog's answer: first the gap settings to accept through the settings
  // button (none: the button is not pressed), then the rows to add, in order; nothing
  // cancels. An empty join list cannot be accepted and cancels. With the queue empty, the
  // dialog is cancelled.
  struct JoinAnswer {
    std::vector<int> rows;
    std::optional<std::pair<bool, int>> gap;
  };
  bool AskJoinRegions(JoinRegionsDialog& dialog) override;
  void QueueJoinAnswer(std::optional<JoinAnswer> answer) { join_answers_.push_back(std::move(answer)); }
  const std::vector<JoinRegionsDialog>& join_dialogs() const { return join_dialogs_; }
  // Each tag editor as it was shown, with the texts it started with.
  const std::vector<TagDialog>& tag_dialogs() const { return tag_dialogs_; }
  // Each encoder dialog as it was shown, with the values it started with.
  const std::vector<EncoderDialog>& encoder_dialogs() const { return encoder_dialogs_; }
  // Each WAV format chooser as it was shown, with the line it opened with.
  const std::vector<WavFormatDialog>& wav_format_dialogs() const { return wav_format_dialogs_; }
  // Each raw settings dialog as it was shown, with the values it started with.
  const std::vector<RawDialog>& raw_dialogs() const { return raw_dialogs_; }
  // Each effect dialog as it was shown, with the values it started with.
  const std::vector<EffectDialog>& effect_dialogs() const { return effect_dialogs_; }
  // The titles of the choosers, prompts and progress windows shown, in order.
  const std::vector<std::string>& requests() const { return requests_; }
  // The file names the save choosers suggested, in order.
  const std::vector<std::string>& save_suggestions() const { return save_suggestions_; }

  // The next progress window reports a cancel once the operation has pumped it `pumps`
  // times; the others never cancel.
  void CancelNextProgress(int pumps) { cancel_after_pumps_ = pumps; }

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
  int cancel_after_pumps_ = -1;  // none
  std::vector<std::string> save_suggestions_;
  std::vector<std::pair<std::string, std::string>> prompts_;
  std::vector<std::vector<std::string>> list_offers_;
  std::deque<std::optional<EffectAnswer>> effect_answers_;
  std::vector<EffectDialog> effect_dialogs_;
  std::deque<std::optional<RawAnswer>> raw_answers_;
  std::vector<RawDialog> raw_dialogs_;
  std::deque<std::optional<std::string>> wav_format_answers_;
  std::vector<WavFormatDialog> wav_format_dialogs_;
  std::deque<std::optional<EncoderAnswer>> encoder_answers_;
  std::vector<EncoderDialog> encoder_dialogs_;
  std::deque<std::optional<PublishingAnswer>> publishing_answers_;
  std::vector<PublishingDialog> publishing_dialogs_;
  std::deque<std::optional<TagAnswer>> tag_answers_;
  std::vector<TagDialog> tag_dialogs_;
  std::deque<std::optional<ExportAnswer>> export_answers_;
  std::vector<ExportRegionsDialog> export_dialogs_;
  std::deque<std::optional<JoinAnswer>> join_answers_;
  std::vector<JoinRegionsDialog> join_dialogs_;

  std::optional<std::string> NextChoice(std::string request);
  // Works the equaliser's controls as `answer` says; false when a value was refused.
  bool AnswerEqualizer(const EffectAnswer& answer, EffectDialog& dialog);
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
  bool AskRawSettings(RawDialog&) override { return true; }
  bool ChooseWavFormat(WavFormatDialog&) override { return true; }
  bool AskEncoderSettings(EncoderDialog&) override { return true; }
  bool AskPublishingSettings(PublishingDialog&) override { return true; }
  bool AskTags(TagDialog&) override { return false; }
  bool AskExportRegions(ExportRegionsDialog&) override { return false; }
  bool AskJoinRegions(JoinRegionsDialog&) override { return false; }
  std::optional<int> ChooseFromList(std::string_view, const std::vector<std::string>&) override {
    return std::nullopt;
  }
};

}  // namespace sonavel
