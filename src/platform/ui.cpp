#include "platform/ui.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/settings.h"

namespace sonavel {

MessageAnswer SafeAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk: return MessageAnswer::kOk;
    case MessageButtons::kYesNo: return MessageAnswer::kNo;
    case MessageButtons::kAbortRetryIgnore: return MessageAnswer::kAbort;
    case MessageButtons::kOkCancel:
    case MessageButtons::kYesNoCancel:
    case MessageButtons::kRetryCancel: return MessageAnswer::kCancel;
  }
  return MessageAnswer::kCancel;
}

std::string DecibelControlText(int decibels) {
  return (decibels > 0 ? "+" : "") + std::to_string(decibels) + "dB";
}

std::string RawDialogRefusal(const RawDialog& dialog) {
  const std::optional<std::int64_t> rate = ParseWholeNumber(dialog.rate);
  if (!rate || *rate < kRawDialogMinimumRate || *rate > kRawDialogMaximumRate)
    return "Please select a sample rate between 6000 and 196000.";
  return {};
}

int RawDialogRate(const RawDialog& dialog) {
  return static_cast<int>(ParseWholeNumber(dialog.rate).value_or(0));
}

MessageAnswer ScriptedUi::ShowMessage(const Message& message) {
  shown_.push_back(message);
  if (answers_.empty()) return SafeAnswer(message.buttons);
  MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

bool ScriptedUi::AskSampleFormat(std::string_view title, int& rate, int& channels) {
  format_dialogs_.push_back(std::string(title) + " " + std::to_string(rate) + " " + std::to_string(channels));
  if (formats_.empty()) return false;
  const FormatAnswer answer = formats_.front();
  formats_.pop_front();
  if (!answer.accept) return false;
  rate = answer.rate;
  channels = answer.channels;
  return true;
}

namespace {

// Shows nothing and cancels at the given pump.
class CancellingProgress final : public Progress {
 public:
  explicit CancellingProgress(int pumps) : pumps_left_(pumps) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return pumps_left_-- <= 0; }

 private:
  int pumps_left_;
};

}  // namespace

std::unique_ptr<Progress> ScriptedUi::OpenProgress(std::string_view title) {
  requests_.push_back("progress " + std::string(title));
  if (cancel_after_pumps_ < 0) return std::make_unique<SilentProgress>();
  return std::make_unique<CancellingProgress>(std::exchange(cancel_after_pumps_, -1));
}

std::optional<std::string> ScriptedUi::NextChoice(std::string request) {
  requests_.push_back(std::move(request));
  if (choices_.empty()) return std::nullopt;
  std::optional<std::string> choice = std::move(choices_.front());
  choices_.pop_front();
  return choice;
}

std::optional<std::string> ScriptedUi::ChooseOpenFile(std::string_view title, std::string_view,
                                                      std::string_view) {
  return NextChoice("open " + std::string(title));
}

std::optional<std::string> ScriptedUi::ChooseSaveFile(std::string_view title, std::string_view,
                                                      std::string_view suggested) {
  save_suggestions_.emplace_back(suggested);
  return NextChoice("save " + std::string(title));
}

std::optional<std::string> ScriptedUi::ChooseFolder(std::string_view title, std::string_view) {
  return NextChoice("folder " + std::string(title));
}

bool ScriptedUi::AnswerEqualizer(const EffectAnswer& answer, EffectDialog& dialog) {
  EqualizerControls& equalizer = *dialog.equalizer;
  if (answer.equalizer_reset) equalizer.Reset();
  if (answer.equalizer_preset > 0) {
    equalizer.ChoosePreset(answer.equalizer_preset);
    for (EffectField& field : dialog.fields)
      if (field.id == dialog.presets_id) field.value = std::to_string(answer.equalizer_preset);
  }
  if (!answer.preset_values.empty()) {
    if (const std::optional<Message> refused = equalizer.SettingsRefusal()) {
      shown_.push_back(*refused);
      return false;
    }
    if (const std::string refused = equalizer.ApplyWindowValues(answer.preset_values); !refused.empty()) {
      shown_.push_back(Message{refused, "Ungültiger Wert", MessageIcon::kInformation, MessageButtons::kOk});
      return false;
    }
  }
  if (answer.equalizer_snap) equalizer.Snap();
  if (!answer.points.empty()) equalizer.SetPoints(answer.points);
  dialog.points = equalizer.points();
  return true;
}

bool ScriptedUi::AskEffectParameters(EffectDialog& dialog) {
  effect_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  while (!effect_answers_.empty()) {
    std::optional<EffectAnswer> answer = std::move(effect_answers_.front());
    effect_answers_.pop_front();
    if (!answer) return false;
    for (EffectField& field : dialog.fields) {
      if (auto found = answer->values.find(field.name); found != answer->values.end()) field.value = found->second;
    }
    if (!answer->points.empty()) dialog.points = answer->points;
    if (dialog.equalizer && !AnswerEqualizer(*answer, dialog)) continue;
    const std::string refused = dialog.validate ? dialog.validate(dialog.fields) : std::string();
    if (refused.empty()) return true;
    shown_.push_back(Message{refused, dialog.refusal_caption, MessageIcon::kInformation, MessageButtons::kOk});
  }
  return false;
}

bool ScriptedUi::AskRawSettings(RawDialog& dialog) {
  raw_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  while (!raw_answers_.empty()) {
    const std::optional<RawAnswer> answer = std::move(raw_answers_.front());
    raw_answers_.pop_front();
    if (!answer) return false;
    dialog.codec = answer->codec;
    dialog.rate = answer->rate;
    dialog.channels = answer->channels;
    const std::string refused = RawDialogRefusal(dialog);
    if (refused.empty()) return true;
    shown_.push_back(Message{refused, "", MessageIcon::kError, MessageButtons::kOk});
  }
  return false;
}

bool ScriptedUi::ChooseWavFormat(WavFormatDialog& dialog) {
  wav_format_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  if (wav_format_answers_.empty()) return false;
  const std::optional<std::string> answer = std::move(wav_format_answers_.front());
  wav_format_answers_.pop_front();
  if (!answer) return false;
  if (answer->empty()) return true;
  const auto found = std::find(dialog.choices.begin(), dialog.choices.end(), *answer);
  // A line the chooser does not offer cannot be clicked: the answer cancels.
  if (found == dialog.choices.end()) return false;
  dialog.selected = static_cast<int>(found - dialog.choices.begin());
  return true;
}

bool ScriptedUi::AskEncoderSettings(EncoderDialog& dialog) {
  encoder_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  if (encoder_answers_.empty()) return false;
  const std::optional<EncoderAnswer> answer = std::move(encoder_answers_.front());
  encoder_answers_.pop_front();
  if (!answer) return false;
  for (const auto& [answered, value] : *answer) {
    const std::string& name = answered;  // clang 14 cannot capture a structured binding
    const auto control = std::find_if(dialog.controls.begin(), dialog.controls.end(),
                                      [&](const EncoderControl& each) { return each.name == name; });
    if (control == dialog.controls.end()) return false;
    control->value = value;
  }
  return true;
}

bool ScriptedUi::AskPublishingSettings(PublishingDialog& dialog) {
  publishing_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  if (publishing_answers_.empty()) return false;
  const std::optional<PublishingAnswer> answer = std::move(publishing_answers_.front());
  publishing_answers_.pop_front();
  if (!answer) return false;
  if (answer->mp3_settings && dialog.mp3_settings) dialog.mp3_settings();
  dialog.root_url = answer->root_url;
  return true;
}

bool ScriptedUi::AskTags(TagDialog& dialog) {
  tag_dialogs_.push_back(dialog);
  requests_.push_back("LAudioTagDataEditor");
  if (tag_answers_.empty()) return false;
  const std::optional<TagAnswer> answer = std::move(tag_answers_.front());
  tag_answers_.pop_front();
  if (!answer) return false;
  for (const auto& [answered, text] : *answer) {
    const std::string& name = answered;  // clang 14 cannot capture a structured binding
    const auto field = std::find_if(dialog.fields.begin(), dialog.fields.end(),
                                    [&](const auto& each) { return each.first == name; });
    if (field == dialog.fields.end()) return false;
    if (name == "GENRE" && std::find(dialog.genres.begin(), dialog.genres.end(), text) == dialog.genres.end())
      return false;
    field->second = text;
  }
  return true;
}

bool ScriptedUi::AskExportRegions(ExportRegionsDialog& dialog) {
  export_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  if (export_answers_.empty()) return false;
  const std::optional<ExportAnswer> answer = std::move(export_answers_.front());
  export_answers_.pop_front();
  if (!answer) return false;
  dialog.folder = answer->folder;
  dialog.format = answer->format;
  return true;
}

bool ScriptedUi::AskJoinRegions(JoinRegionsDialog& dialog) {
  join_dialogs_.push_back(dialog);
  requests_.push_back(dialog.title);
  if (join_answers_.empty()) return false;
  const std::optional<JoinAnswer> answer = std::move(join_answers_.front());
  join_answers_.pop_front();
  if (!answer) return false;
  if (answer->gap) {
    dialog.auto_gap = answer->gap->first;
    dialog.gap_ms = answer->gap->second;
    if (dialog.store_gap) dialog.store_gap(dialog.auto_gap, dialog.gap_ms);
  }
  for (int row : answer->rows)
    if (row >= 0 && static_cast<std::size_t>(row) < dialog.regions.size()) dialog.joined.push_back(row);
  return !dialog.joined.empty();
}

std::optional<std::string> ScriptedUi::PromptText(std::string_view title, std::string_view label,
                                                  std::string_view text) {
  prompts_.emplace_back(label, text);
  return NextChoice("prompt " + std::string(title));
}

std::optional<int> ScriptedUi::ChooseFromList(std::string_view title, const std::vector<std::string>& items) {
  list_offers_.push_back(items);
  const std::optional<std::string> choice = NextChoice("list " + std::string(title));
  if (!choice) return std::nullopt;
  const auto found = std::find(items.begin(), items.end(), *choice);
  if (found == items.end()) return std::nullopt;
  return static_cast<int>(found - items.begin());
}

ConsoleProgress::ConsoleProgress() : terminal_(::isatty(STDERR_FILENO) == 1) {}

ConsoleProgress::~ConsoleProgress() {
  if (drawn_) std::fputc('\n', stderr);
}

void ConsoleProgress::SetTexts(std::string_view title, std::string_view) {
  title_ = title;
  percent_ = -1;
  SetFraction(0);
}

void ConsoleProgress::SetFraction(double done) {
  const int percent = static_cast<int>(std::clamp(done, 0.0, 1.0) * 100.0);
  if (percent == percent_) return;
  percent_ = percent;
  Draw();
}

void ConsoleProgress::Draw() {
  if (!terminal_) return;
  constexpr int kWidth = 30;
  const int filled = percent_ * kWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r%-24.24s [%s] %3d%%", title_.c_str(), bar.c_str(), percent_);
  std::fflush(stderr);
  drawn_ = true;
}

MessageAnswer ConsoleUi::ShowMessage(const Message& message) {
  std::string text = message.text;
  std::erase(text, '\r');  // texts carry the platform's line breaks "\r\n"
  if (message.caption.empty())
    std::fprintf(stderr, "%s\n", text.c_str());
  else
    std::fprintf(stderr, "%s: %s\n", message.caption.c_str(), text.c_str());
  return SafeAnswer(message.buttons);
}

}  // namespace sonavel
