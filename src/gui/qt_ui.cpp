#include "gui/qt_ui.h"

#include "gui/effect_dialog.h"

#include "gui/progress_dialog.h"
#include "gui/raw_dialog.h"
#include "gui/region_dialogs.h"
#include "gui/encoder_dialog.h"
#include "gui/publishing_dialog.h"
#include "gui/tag_dialog.h"
#include "gui/wav_format_dialog.h"

#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QString>

namespace sonavel {

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: return QMessageBox::Warning;
    case MessageIcon::kError: return QMessageBox::Critical;
    case MessageIcon::kQuestion: return QMessageBox::Question;
    case MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk: return QMessageBox::Ok;
    case MessageButtons::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case MessageButtons::kAbortRetryIgnore:
      return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

// The first button is the default, as in the platform's own message boxes.
QMessageBox::StandardButton DefaultButton(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk:
    case MessageButtons::kOkCancel: return QMessageBox::Ok;
    case MessageButtons::kYesNo:
    case MessageButtons::kYesNoCancel: return QMessageBox::Yes;
    case MessageButtons::kRetryCancel: return QMessageBox::Retry;
    case MessageButtons::kAbortRetryIgnore: return QMessageBox::Abort;
  }
  return QMessageBox::Ok;
}

}  // namespace

MessageAnswer QtUi::ShowMessage(const Message& message) {
  // The texts carry the platform's line breaks ("\r\n", or "\r" alone).
  QString text = QString::fromStdString(message.text);
  text.replace("\r\n", "\n").replace('\r', '\n');
  QMessageBox box(ToQt(message.icon), QString::fromStdString(message.caption), text,
                  ToQt(message.buttons), parent_);
  box.setDefaultButton(DefaultButton(message.buttons));
  // Closing the box with Escape or the title bar gives the safe answer.
  const int chosen = box.exec();
  switch (chosen) {
    case QMessageBox::Ok: return MessageAnswer::kOk;
    case QMessageBox::Yes: return MessageAnswer::kYes;
    case QMessageBox::No: return MessageAnswer::kNo;
    case QMessageBox::Retry: return MessageAnswer::kRetry;
    case QMessageBox::Abort: return MessageAnswer::kAbort;
    case QMessageBox::Ignore: return MessageAnswer::kIgnore;
    case QMessageBox::Cancel: return MessageAnswer::kCancel;
    default: return SafeAnswer(message.buttons);
  }
}

bool QtUi::AskSampleFormat(std::string_view title, int& rate, int& channels) {
  QDialog dialog(parent_);
  dialog.setObjectName("NewFileDialog");
  dialog.setWindowTitle(QString::fromUtf8(title.data(), static_cast<int>(title.size())));
  auto* rate_field = new QLineEdit(QString::number(rate), &dialog);
  rate_field->setObjectName("rate");
  rate_field->setValidator(new QIntValidator(0, 999999, rate_field));
  auto* mono = new QRadioButton("Mono", &dialog);
  auto* stereo = new QRadioButton("Stereo", &dialog);
  mono->setObjectName("mono");
  stereo->setObjectName("stereo");
  (channels == 2 ? stereo : mono)->setChecked(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout;
  form->addRow("Samplerate (Hz):", rate_field);
  auto* choice = new QVBoxLayout;
  choice->addWidget(mono);
  choice->addWidget(stereo);
  form->addRow("Kanäle:", choice);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(form);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  rate = rate_field->text().toInt();
  channels = stereo->isChecked() ? 2 : 1;
  return true;
}

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

// Qt's own file dialog, translated with the program: the desktop's dialog would speak
// the desktop's language.
constexpr QFileDialog::Options kChooserOptions = QFileDialog::DontUseNativeDialog;

std::optional<std::string> Chosen(const QString& path) {
  if (path.isEmpty()) return std::nullopt;
  return path.toStdString();
}

}  // namespace

std::unique_ptr<Progress> QtUi::OpenProgress(std::string_view title) {
  return std::make_unique<ProgressDialog>(parent_, Q(title));
}

std::optional<std::string> QtUi::ChooseOpenFile(std::string_view title, std::string_view filter,
                                                std::string_view folder) {
  return Chosen(QFileDialog::getOpenFileName(parent_, Q(title), Q(folder), Q(filter), nullptr, kChooserOptions));
}

std::optional<std::string> QtUi::ChooseSaveFile(std::string_view title, std::string_view filter,
                                                std::string_view suggested) {
  std::unique_ptr<QFileDialog> dialog = MakeSaveFileDialog(parent_, title, filter, suggested);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  return Chosen(dialog->selectedFiles().front());
}

std::unique_ptr<QFileDialog> MakeSaveFileDialog(QWidget* parent, std::string_view title, std::string_view filter,
                                                std::string_view suggested) {
  auto dialog = std::make_unique<QFileDialog>(parent, Q(title));
  dialog->setObjectName("SaveFileDlg");
  dialog->setOptions(kChooserOptions | QFileDialog::DontConfirmOverwrite);
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  const QStringList filters = Q(filter).split(";;");
  dialog->setNameFilters(filters);
  const QString name = Q(suggested);
  if (const qsizetype dot = name.lastIndexOf('.'); dot > name.lastIndexOf('/')) {
    const QString pattern = "*" + name.mid(dot).toLower();
    for (const QString& entry : filters) {
      const QString patterns = entry.mid(entry.lastIndexOf('(') + 1).chopped(1);
      if (patterns.split(' ').contains(pattern)) {
        dialog->selectNameFilter(entry);
        break;
      }
    }
  }
  dialog->selectFile(name);
  return dialog;
}

std::optional<std::string> QtUi::ChooseFolder(std::string_view title, std::string_view folder) {
  return Chosen(QFileDialog::getExistingDirectory(parent_, Q(title), Q(folder),
                                                         QFileDialog::ShowDirsOnly | kChooserOptions));
}

bool QtUi::AskEffectParameters(EffectDialog& dialog) { return RunEffectDialog(parent_, dialog); }

bool QtUi::AskRawSettings(RawDialog& dialog) { return RunRawDialog(parent_, dialog); }

bool QtUi::AskEncoderSettings(EncoderDialog& dialog) { return RunEncoderDialog(parent_, dialog); }
bool QtUi::AskPublishingSettings(PublishingDialog& dialog) { return RunPublishingDialog(parent_, dialog); }

bool QtUi::AskTags(TagDialog& dialog) { return RunTagDialog(parent_, dialog); }

bool QtUi::AskExportRegions(ExportRegionsDialog& dialog) { return RunExportRegionsDialog(parent_, dialog); }

bool QtUi::AskJoinRegions(JoinRegionsDialog& dialog) { return RunJoinRegionsDialog(parent_, dialog); }

bool QtUi::ChooseWavFormat(WavFormatDialog& dialog) { return RunWavFormatDialog(parent_, dialog); }

std::optional<std::string> QtUi::PromptText(std::string_view title, std::string_view label,
                                            std::string_view text) {
  bool accepted = false;
  const QString answer =
      QInputDialog::getText(parent_, Q(title), Q(label), QLineEdit::Normal, Q(text), &accepted);
  if (!accepted) return std::nullopt;
  return answer.toStdString();
}

std::optional<int> QtUi::ChooseFromList(std::string_view title, const std::vector<std::string>& items) {
  QDialog dialog(parent_);
  dialog.setObjectName("ChooseFromList");
  dialog.setWindowTitle(Q(title));
  auto* layout = new QVBoxLayout(&dialog);
  auto* list = new QListWidget(&dialog);
  for (const std::string& item : items) list->addItem(Q(item));
  list->setCurrentRow(0);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemActivated, &dialog, &QDialog::accept);
  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
  return list->currentRow();
}

}  // namespace sonavel
