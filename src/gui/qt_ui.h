#pragma once
// The user-interface port with Qt dialogs.

#include <memory>
#include <string_view>

#include "platform/ui.h"

class QFileDialog;
class QWidget;

namespace sonavel {

class QtUi final : public Ui {
 public:
  // Message boxes are owned by `parent` (the main window), or free-standing without one.
  explicit QtUi(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  MessageAnswer ShowMessage(const Message& message) override;
  bool AskSampleFormat(std::string_view title, int& rate, int& channels) override;
  std::unique_ptr<Progress> OpenProgress(std::string_view title) override;
  std::optional<std::string> ChooseOpenFile(std::string_view title, std::string_view filter,
                                            std::string_view folder) override;
  std::optional<std::string> ChooseSaveFile(std::string_view title, std::string_view filter,
                                            std::string_view suggested) override;
  std::optional<std::string> ChooseFolder(std::string_view title, std::string_view folder) override;
  std::optional<std::string> PromptText(std::string_view title, std::string_view label,
                                        std::string_view text) override;
  bool AskEffectParameters(EffectDialog& dialog) override;
  bool AskRawSettings(RawDialog& dialog) override;
  bool ChooseWavFormat(WavFormatDialog& dialog) override;
  bool AskEncoderSettings(EncoderDialog& dialog) override;
  bool AskPublishingSettings(PublishingDialog& dialog) override;
  bool AskTags(TagDialog& dialog) override;
  bool AskExportRegions(ExportRegionsDialog& dialog) override;
  bool AskJoinRegions(JoinRegionsDialog& dialog) override;
  std::optional<int> ChooseFromList(std::string_view title, const std::vector<std::string>& items) override;

 private:
  QWidget* parent_;
};

// The save chooser as ChooseSaveFile shows it: `filter`'s types with the one of
// `suggested`'s extension selected, the name filled in, and no question of Qt's own about
// replacing a file (the caller asks its own).
std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* parent, std::string_view title, std::string_view filter,
                                                std::string_view suggested);

}  // namespace sonavel
