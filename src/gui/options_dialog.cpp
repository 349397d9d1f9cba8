#include "gui/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "app/command_table.h"
#include "app/desktop_integration.h"
#include "app/recent_files.h"
#include "document/document_list.h"
#include "gui/key_change_dialog.h"
#include "platform/process.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"
#include "document/file_commands.h"
#include "document/working_folder.h"

namespace sonavel {
namespace {

constexpr int kMinThreshold = -40;
constexpr int kMaxThreshold = -12;
constexpr const char* kStandardDevice = "[Standard]";

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string Trimmed(const QString& text) { return text.trimmed().toStdString(); }

}  // namespace

std::string PlainMenuText(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size() && text[i] != '\t'; ++i) {
    if (text[i] == '&') {
      // "&&" stands for one "&"; a single one only marks the access key.
      if (i + 1 < text.size() && text[i + 1] == '&') {
        plain += '&';
        ++i;
      }
      continue;
    }
    plain += text[i];
  }
  return plain;
}

OptionsDialog::OptionsDialog(Settings& settings, Ui& ui, std::vector<HotKey> hot_keys, QWidget* parent)
    : QDialog(parent), settings_(settings), ui_(ui), hot_keys_(std::move(hot_keys)) {
  setObjectName("OptionsDialog");
  setWindowTitle("Einstellungen");
  key_source_ = [](QWidget* owner) { return CaptureKey(owner); };

  tabs_ = new QTabWidget(this);
  tabs_->setObjectName("pages");
  tabs_->addTab(BuildGeneralPage(), "Allgemein");
  tabs_->addTab(BuildPlaybackPage(), "Wiedergabe und Ordner");
  tabs_->addTab(BuildHotKeyPage(), "Tastenkürzel");

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("buttons");
  buttons->button(QDialogButtonBox::Cancel)->setText("Abbrechen");
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &OptionsDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons);

  LoadValues();
}

QWidget* OptionsDialog::BuildGeneralPage() {
  auto* page = new QWidget;
  page->setObjectName("generalPage");

  auto* types = new QGroupBox("Mit Sonavel öffnen (Standardprogramm für diese Dateitypen)");
  extensions_ = new QListWidget;
  extensions_->setObjectName("extensions");
  extensions_->setFlow(QListView::TopToBottom);
  extensions_->setWrapping(true);
  extensions_->setResizeMode(QListView::Adjust);
  extensions_->setMinimumHeight(150);
  for (std::string_view extension : kAudioExtensions) {
    auto* item = new QListWidgetItem(QString::fromUtf8(extension.data(), static_cast<int>(extension.size())));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setToolTip(Q(MimeTypeFor(extension)));
    extensions_->addItem(item);
  }
  connect(extensions_, &QListWidget::itemChanged, this,
          [this](QListWidgetItem* item) { ExtensionToggled(extensions_->row(item)); });
  (new QVBoxLayout(types))->addWidget(extensions_);

  auto* new_files = new QGroupBox("Neue Dateien");
  prompt_format_ = new QRadioButton("Samplerate und Kanäle jedes Mal abfragen");
  prompt_format_->setObjectName("promptSampleAndChannels");
  use_default_format_ = new QRadioButton("Voreinstellungen verwenden");
  use_default_format_->setObjectName("useDefaultFormat");
  auto* defaults = new QPushButton("Voreinstellungen setzen...");
  defaults->setObjectName("setDefaults");
  connect(defaults, &QPushButton::clicked, this, &OptionsDialog::SetDefaultsOfNewFiles);
  auto* format_layout = new QGridLayout(new_files);
  format_layout->addWidget(prompt_format_, 0, 0);
  format_layout->addWidget(use_default_format_, 1, 0);
  format_layout->addWidget(defaults, 1, 1);
  format_layout->setColumnStretch(0, 1);

  add_to_context_ = new QCheckBox("\"Edit with Sonavel\" im Kontextmenü des Dateimanagers anbieten");
  add_to_context_->setObjectName("addToWEContext");
  auto_arrange_ = new QCheckBox("Fenster nach dem Öffnen einer Analyse automatisch anordnen");
  auto_arrange_->setObjectName("autoArrangeWindows");
  mp3_gapless_ = new QCheckBox("MP3-Dateien lückenlos laden (Verzögerung und Auffüllung des Encoders entfernen)");
  mp3_gapless_->setObjectName("mp3Gapless");
  mp3_gapless_->setToolTip(
      "Eine MP3-Datei ist nach dem Laden so lang wie das, was kodiert wurde, und Alben lassen "
      "sich ohne Lücken aneinanderfügen.");
  high_quality_rate_ = new QCheckBox("Hohe Qualität bei Samplerate-Konvertierung");
  high_quality_rate_->setObjectName("resampleQuality");
  high_quality_rate_->setToolTip(
      "Ein längeres Filter beim Konvertieren der Samplerate, beim Speichern und Einfügen in einer "
      "anderen Samplerate und bei der Wiedergabe: flach bis 90 % der niedrigeren Nyquist-Frequenz, "
      "Sperrdämpfung 160 dB. Braucht mehr Rechenzeit.");
  auto* clear_recent = new QPushButton("Liste der zuletzt geöffneten Dateien löschen");
  clear_recent->setObjectName("clearRecentFiles");
  connect(clear_recent, &QPushButton::clicked, this, &OptionsDialog::ClearRecentFiles);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(types, 1);
  layout->addWidget(new_files);
  layout->addWidget(add_to_context_);
  layout->addWidget(auto_arrange_);
  layout->addWidget(mp3_gapless_);
  layout->addWidget(high_quality_rate_);
  auto* clear_row = new QHBoxLayout;
  clear_row->addWidget(clear_recent);
  clear_row->addStretch();
  layout->addLayout(clear_row);
  return page;
}

QWidget* OptionsDialog::BuildPlaybackPage() {
  auto* page = new QWidget;
  page->setObjectName("playbackPage");

  auto* output = new QGroupBox("Wiedergabe");
  output_device_ = new QComboBox;
  output_device_->setObjectName("soundOutDevice");
  connect(output_device_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (filling_devices_ || index < 0) return;
    device_choice_ = index == 0 ? std::string() : devices_[static_cast<std::size_t>(index - 1)];
  });
  auto_playback_ = new QCheckBox("Nach einem Effekt die geänderte Stelle abspielen");
  auto_playback_->setObjectName("autoPlaybackAfterEffects");
  play_when_open_ = new QCheckBox("Nach dem Öffnen einer Datei abspielen");
  play_when_open_->setObjectName("playWhenOpen");
  play_bookmark_ = new QCheckBox("Nach dem Sprung zu einem Lesezeichen abspielen");
  play_bookmark_->setObjectName("playBookMark");
  play_region_ = new QCheckBox("Nach der Auswahl eines Bereichs abspielen");
  play_region_->setObjectName("playRegion");
  reduce_volume_ = new QCheckBox("Lautstärke beim Vor- und Zurückspulen senken");
  reduce_volume_->setObjectName("reduceVolWhenRewind");
  auto* output_layout = new QGridLayout(output);
  output_layout->addWidget(new QLabel("Ausgabegerät:"), 0, 0);
  output_layout->addWidget(output_device_, 0, 1);
  output_layout->setColumnStretch(1, 1);
  int row = 1;
  for (QCheckBox* box : {auto_playback_, play_when_open_, play_bookmark_, play_region_, reduce_volume_})
    output_layout->addWidget(box, row++, 0, 1, 2);

  auto* trim = new QGroupBox("Automatisches Trimmen");
  threshold_ = new QSlider(Qt::Horizontal);
  threshold_->setObjectName("autoTrimThreshold");
  threshold_->setRange(kMinThreshold, kMaxThreshold);
  threshold_->setTickPosition(QSlider::TicksBelow);
  threshold_->setTickInterval(4);
  threshold_value_ = new QLabel;
  threshold_value_->setObjectName("autoTrimThresholdValue");
  threshold_value_->setMinimumWidth(threshold_value_->fontMetrics().horizontalAdvance("-40 dB  "));
  connect(threshold_, &QSlider::valueChanged, this, &OptionsDialog::ShowThreshold);
  auto* trim_layout = new QHBoxLayout(trim);
  trim_layout->addWidget(new QLabel("Schwelle:"));
  trim_layout->addWidget(threshold_, 1);
  trim_layout->addWidget(threshold_value_);

  auto* folder = new QGroupBox("Arbeitsordner für Audiodaten");
  use_default_folder_ = new QRadioButton("Standardordner verwenden");
  use_default_folder_->setObjectName("useDefaultWorkingDir");
  use_default_folder_->setToolTip(Q(DefaultWorkingFolder()));
  own_folder_ = new QRadioButton("Eigener Ordner:");
  own_folder_->setObjectName("ownWorkingDir");
  folder_ = new QLineEdit;
  folder_->setObjectName("workingFolder");
  browse_ = new QPushButton("Durchsuchen...");
  browse_->setObjectName("browseWorkingFolder");
  connect(browse_, &QPushButton::clicked, this, &OptionsDialog::ChooseFolder);
  connect(own_folder_, &QRadioButton::toggled, this, &OptionsDialog::UpdateFolderControls);
  auto* folder_layout = new QGridLayout(folder);
  folder_layout->addWidget(use_default_folder_, 0, 0, 1, 3);
  folder_layout->addWidget(own_folder_, 1, 0);
  folder_layout->addWidget(folder_, 1, 1);
  folder_layout->addWidget(browse_, 1, 2);
  folder_layout->addWidget(new QLabel("Eine Änderung wird erst nach einem Neustart wirksam."), 2, 0, 1, 3);
  folder_layout->setColumnStretch(1, 1);

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(output);
  layout->addWidget(trim);
  layout->addWidget(folder);
  layout->addStretch();
  return page;
}

QWidget* OptionsDialog::BuildHotKeyPage() {
  auto* page = new QWidget;
  page->setObjectName("hotKeyPage");

  commands_ = new QListWidget;
  commands_->setObjectName("commands");
  for (int id : AllCommandIds()) {
    const MenuItem* item = FindCommand(id);
    if (item == nullptr) continue;
    auto* entry = new QListWidgetItem(QString("%1  %2").arg(id).arg(Q(PlainMenuText(item->text))));
    entry->setData(Qt::UserRole, id);
    commands_->addItem(entry);
  }
  keys_ = new QListWidget;
  keys_->setObjectName("keys");
  keys_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(commands_, &QListWidget::currentRowChanged, this, &OptionsDialog::ShowKeysOfSelectedCommand);

  auto* add = new QPushButton("Hinzufügen");
  add->setObjectName("addKey");
  connect(add, &QPushButton::clicked, this, &OptionsDialog::AddKey);
  auto* remove = new QPushButton("Entfernen");
  remove->setObjectName("removeKey");
  connect(remove, &QPushButton::clicked, this, &OptionsDialog::RemoveSelectedKeys);

  auto* key_column = new QVBoxLayout;
  key_column->addWidget(new QLabel("Tasten des Befehls:"));
  key_column->addWidget(keys_, 1);
  auto* key_buttons = new QHBoxLayout;
  key_buttons->addWidget(add);
  key_buttons->addWidget(remove);
  key_column->addLayout(key_buttons);

  auto* command_column = new QVBoxLayout;
  command_column->addWidget(new QLabel("Befehle:"));
  command_column->addWidget(commands_, 1);

  auto* layout = new QHBoxLayout(page);
  layout->addLayout(command_column, 3);
  layout->addLayout(key_column, 2);
  if (commands_->count() > 0) commands_->setCurrentRow(0);
  return page;
}

void OptionsDialog::LoadValues() {
  // General.
  extension_was_default_.clear();
  {
    const QSignalBlocker quiet(extensions_);
    for (std::size_t i = 0; i < kAudioExtensions.size(); ++i) {
      const bool ours = IsDefaultOpener(kAudioExtensions[i]);
      extension_was_default_.push_back(ours);
      extensions_->item(static_cast<int>(i))->setCheckState(ours ? Qt::Checked : Qt::Unchecked);
    }
  }
  const bool prompt = settings_.Read(setting::kPromptSampleAndChannels);
  (prompt ? prompt_format_ : use_default_format_)->setChecked(true);
  initial_add_to_context_ = settings_.Read(setting::kAddToWEContext);
  add_to_context_->setChecked(initial_add_to_context_);
  auto_arrange_->setChecked(settings_.Read(setting::kAutoArrangeWindows));
  mp3_gapless_->setChecked(settings_.Read(setting::kMp3Gapless));
  high_quality_rate_->setChecked(settings_.Read(setting::kResampleQuality) == 1);

  // Playback and folders.
  device_choice_ = settings_.Read(setting::kSoundOutDevice);
  FillDeviceCombo();
  const int threshold = std::clamp(settings_.Read(setting::kAutoTrimThreshold), kMinThreshold, kMaxThreshold);
  threshold_->setValue(threshold);
  ShowThreshold(threshold);
  was_using_default_folder_ = settings_.Read(setting::kUseDefaultWorkingDir);
  initial_folder_ = settings_.Read(setting::kWorkingFolder);
  folder_->setText(Q(initial_folder_.empty() ? DefaultWorkingFolder() : initial_folder_));
  (was_using_default_folder_ ? use_default_folder_ : own_folder_)->setChecked(true);
  UpdateFolderControls();
  auto_playback_->setChecked(settings_.Read(setting::kAutoPlaybackAfterEffects));
  play_when_open_->setChecked(settings_.Read(setting::kPlayWhenOpen));
  play_bookmark_->setChecked(settings_.Read(setting::kPlayBookMark));
  play_region_->setChecked(settings_.Read(setting::kPlayRegion));
  reduce_volume_->setChecked(settings_.Read(setting::kReduceVolWhenRewind));
}

void OptionsDialog::SetOutputDevices(std::vector<std::string> devices) {
  devices_ = std::move(devices);
  FillDeviceCombo();
}

void OptionsDialog::FillDeviceCombo() {
  filling_devices_ = true;
  output_device_->clear();
  output_device_->addItem(kStandardDevice);
  int selected = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    output_device_->addItem(Q(devices_[i]));
    if (devices_[i] == device_choice_) selected = static_cast<int>(i) + 1;
  }
  // A stored device that is not there now stays stored until the user picks another.
  output_device_->setCurrentIndex(selected);
  filling_devices_ = false;
}

void OptionsDialog::ShowThreshold(int decibels) { threshold_value_->setText(QString("%1 dB").arg(decibels)); }

void OptionsDialog::UpdateFolderControls() {
  const bool own = own_folder_->isChecked();
  folder_->setEnabled(own);
  browse_->setEnabled(own);
}

void OptionsDialog::ChooseFolder() {
  const std::optional<std::string> chosen = ui_.ChooseFolder("Arbeitsordner wählen", Trimmed(folder_->text()));
  if (chosen) folder_->setText(Q(*chosen));
}

void OptionsDialog::ClearRecentFiles() {
  RecentFiles recent(settings_);
  if (recent.ClearRecentFiles(ui_)) recent_files_cleared_ = true;
}

void OptionsDialog::SetDefaultsOfNewFiles() { RunNewFileDialog(ui_, settings_, true); }

void OptionsDialog::ExtensionToggled(int row) {
  // Extensions of one MIME type share its default application: their boxes go together.
  if (row < 0) return;
  const Qt::CheckState state = extensions_->item(row)->checkState();
  const std::string type = MimeTypeFor(kAudioExtensions[static_cast<std::size_t>(row)]);
  const QSignalBlocker quiet(extensions_);
  for (std::size_t i = 0; i < kAudioExtensions.size(); ++i)
    if (static_cast<int>(i) != row && MimeTypeFor(kAudioExtensions[i]) == type)
      extensions_->item(static_cast<int>(i))->setCheckState(state);
}

int OptionsDialog::SelectedCommand() const {
  const QListWidgetItem* item = commands_->currentItem();
  return item != nullptr ? item->data(Qt::UserRole).toInt() : 0;
}

void OptionsDialog::ShowKeysOfSelectedCommand() {
  keys_->clear();
  const int command = SelectedCommand();
  if (command == 0) return;
  for (const HotKey& hot_key : hot_keys_) {
    if (std::find(hot_key.commands.begin(), hot_key.commands.end(), command) == hot_key.commands.end())
      continue;
    auto* item = new QListWidgetItem(Q(KeyName(hot_key.key)));
    item->setData(Qt::UserRole, hot_key.key);
    keys_->addItem(item);
  }
}

void OptionsDialog::AddKey() {
  const int command = SelectedCommand();
  if (command == 0) return;
  const std::optional<std::int32_t> key = key_source_(this);
  if (!key || *key == 0) return;
  auto bound = std::find_if(hot_keys_.begin(), hot_keys_.end(), [&](const HotKey& h) { return h.key == *key; });
  if (bound == hot_keys_.end()) {
    hot_keys_.push_back(HotKey{*key, {command}});
  } else if (std::find(bound->commands.begin(), bound->commands.end(), command) == bound->commands.end() &&
             bound->commands.size() < kMaxCommandsPerKey) {
    // The key already runs other commands: this one follows them.
    bound->commands.push_back(command);
  }
  ShowKeysOfSelectedCommand();
}

void OptionsDialog::RemoveSelectedKeys() {
  const int command = SelectedCommand();
  const QList<QListWidgetItem*> selected = keys_->selectedItems();
  if (command == 0 || selected.isEmpty()) return;
  if (ui_.ShowMessage({"Gewählte Taste(n) ändern?", "Entfernen bestätigen", MessageIcon::kQuestion,
                       MessageButtons::kYesNo}) != MessageAnswer::kYes)
    return;
  for (const QListWidgetItem* item : selected) {
    const std::int32_t key = item->data(Qt::UserRole).toInt();
    for (HotKey& hot_key : hot_keys_)
      if (hot_key.key == key) std::erase(hot_key.commands, command);
  }
  // A key left without commands is no binding any more: its built-in meaning returns.
  std::erase_if(hot_keys_, [](const HotKey& h) { return h.commands.empty(); });
  ShowKeysOfSelectedCommand();
}

bool OptionsDialog::CheckFolder() {
  if (!own_folder_->isChecked()) return true;
  const std::string folder = Trimmed(folder_->text());
  const char* problem = nullptr;
  std::error_code error;
  if (folder.empty())
    problem = "Bitte geben Sie einen gültigen Ordner an.";
  else if (!std::filesystem::is_directory(folder, error))
    problem = "Der gewählte Arbeitsordner existiert nicht. Bitte noch einmal versuchen.";
  if (problem == nullptr) return true;
  ui_.ShowMessage({problem, "Ordner ungültig", MessageIcon::kError, MessageButtons::kOk});
  tabs_->setCurrentIndex(1);  // the page with the folder
  folder_->setFocus();
  return false;
}

bool OptionsDialog::Apply() {
  if (!CheckFolder()) return false;

  // General. The desktop's MIME defaults change only where the user changed a box, so
  // that choices made elsewhere for the other types stay.
  for (std::size_t i = 0; i < kAudioExtensions.size(); ++i) {
    const bool checked = extensions_->item(static_cast<int>(i))->checkState() == Qt::Checked;
    if (checked != extension_was_default_[i]) {
      SetDefaultOpener(kAudioExtensions[i], checked);
      extension_was_default_[i] = checked;
    }
  }
  // How new files start is the user's own habit.
  settings_.WriteUser(setting::kPromptSampleAndChannels, prompt_format_->isChecked());
  settings_.WriteUser(setting::kAutoArrangeWindows, auto_arrange_->isChecked());
  // The desktop entry serves the whole installation; SetEditWithAction stores the
  // setting in both branches itself.
  if (add_to_context_->isChecked() != initial_add_to_context_) {
    SetEditWithAction(settings_, OwnExecutablePath(), add_to_context_->isChecked());
    initial_add_to_context_ = add_to_context_->isChecked();
  }

  // Playback and folders. Device, trim threshold and working folder are values an
  // installation may preset; the play options are the user's.
  settings_.Write(setting::kSoundOutDevice, device_choice_);
  settings_.Write(setting::kAutoTrimThreshold, threshold_->value());
  const bool use_default = use_default_folder_->isChecked();
  const std::string folder = Trimmed(folder_->text());
  settings_.Write(setting::kUseDefaultWorkingDir, use_default);
  // With the default folder chosen the stored own folder is kept for a later switch back.
  if (!use_default) settings_.Write(setting::kWorkingFolder, folder);
  working_folder_changed_ =
      use_default != was_using_default_folder_ || (!use_default && folder != initial_folder_);
  settings_.WriteUser(setting::kAutoPlaybackAfterEffects, auto_playback_->isChecked());
  settings_.WriteUser(setting::kPlayWhenOpen, play_when_open_->isChecked());
  settings_.WriteUser(setting::kPlayBookMark, play_bookmark_->isChecked());
  settings_.WriteUser(setting::kPlayRegion, play_region_->isChecked());
  settings_.WriteUser(setting::kReduceVolWhenRewind, reduce_volume_->isChecked());
  settings_.WriteUser(setting::kMp3Gapless, mp3_gapless_->isChecked());
  settings_.WriteUser(setting::kResampleQuality, high_quality_rate_->isChecked() ? 1 : 0);

  // Hot keys last: when "keys.dat" cannot be written (SaveHotKeys said so) the dialog
  // stays open rather than losing the user's bindings.
  return SaveHotKeys(hot_keys_, ui_);
}

void OptionsDialog::accept() {
  if (Apply()) QDialog::accept();
}

OptionsResult RunOptionsDialog(QWidget* parent, Settings& settings, Ui& ui, const std::vector<HotKey>& current) {
  OptionsDialog dialog(settings, ui, current, parent);
  OptionsResult result;
  result.accepted = dialog.exec() == QDialog::Accepted;
  result.working_folder_changed = result.accepted && dialog.working_folder_changed();
  result.hot_keys = result.accepted ? dialog.hot_keys() : current;
  result.recent_files_cleared = dialog.recent_files_cleared();
  return result;
}

void TellRestartNeeded(Ui& ui) {
  ui.ShowMessage({"Sonavel werde jetzt schließen weil sie den Audio-Arbeitsordner geändert haben.\r\r"
                  "Bitte wiederöffnen Sonavel um mit den neuen Ordnern zu starten.",
                  "Shut Down Erforderlich", MessageIcon::kInformation, MessageButtons::kOk});
}

}  // namespace sonavel
