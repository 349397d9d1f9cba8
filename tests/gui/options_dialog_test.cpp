#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "app/desktop_integration.h"
#include "app/hotkeys.h"
#include "gui/options_dialog.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "platform/ui.h"

namespace sonavel {
namespace {

// A temporary registry and temporary XDG folders, so that the dialog never touches the
// user's settings, desktop files or "keys.dat". The environment is restored afterwards.
class OptionsTest : public ::testing::Test {
 protected:
  OptionsTest()
      : folder_(MakeFolder()),
        registry_(JoinPath(folder_, "user"), JoinPath(folder_, "machine")),
        settings_(registry_) {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "SONAVEL_DATA_DIR"}) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    }
    std::filesystem::create_directories(JoinPath(folder_, "data"));
    std::filesystem::create_directories(JoinPath(folder_, "config"));
    std::filesystem::create_directories(JoinPath(folder_, "sonavel"));
    ::setenv("XDG_DATA_HOME", JoinPath(folder_, "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", JoinPath(folder_, "config").c_str(), 1);
    ::setenv("SONAVEL_DATA_DIR", JoinPath(folder_, "sonavel").c_str(), 1);
  }
  ~OptionsTest() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    std::filesystem::remove_all(folder_);
  }

  static std::string MakeFolder() {
    std::string pattern = JoinPath(TempFolder(), "sonavel-options-XXXXXX");
    return std::string(::mkdtemp(pattern.data()));
  }

  template <typename T>
  static T* Find(QWidget& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  static QListWidgetItem* ExtensionItem(QWidget& dialog, const QString& extension) {
    auto* list = dialog.findChild<QListWidget*>("extensions");
    const auto items = list->findItems(extension, Qt::MatchExactly);
    return items.isEmpty() ? nullptr : items.front();
  }

  static void SelectCommand(QWidget& dialog, int id) {
    auto* commands = dialog.findChild<QListWidget*>("commands");
    for (int row = 0; row < commands->count(); ++row)
      if (commands->item(row)->data(Qt::UserRole).toInt() == id) {
        commands->setCurrentRow(row);
        return;
      }
    ADD_FAILURE() << "no command " << id;
  }

  static QStringList KeyTexts(QWidget& dialog) {
    QStringList texts;
    auto* keys = dialog.findChild<QListWidget*>("keys");
    for (int row = 0; row < keys->count(); ++row) texts << keys->item(row)->text();
    return texts;
  }

  std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static void SaveScreenshot(QWidget& widget, const QString& name) {
    QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
    ASSERT_TRUE(widget.grab().save(QString(SONAVEL_SCREENSHOT_DIR) + "/" + name + ".png"));
  }

  std::string folder_;
  Registry registry_;
  Settings settings_;
  ScriptedUi ui_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(OptionsTest, OpensWithTheDefaultsOfEveryValue) {
  OptionsDialog dialog(settings_, ui_, {});
  EXPECT_EQ(dialog.objectName(), "OptionsDialog");
  EXPECT_EQ(Find<QTabWidget>(dialog, "pages")->count(), 3);
  EXPECT_EQ(Find<QListWidget>(dialog, "extensions")->count(), 35);
  EXPECT_TRUE(Find<QRadioButton>(dialog, "promptSampleAndChannels")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(dialog, "addToWEContext")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(dialog, "autoArrangeWindows")->isChecked());
  auto* device = Find<QComboBox>(dialog, "soundOutDevice");
  EXPECT_EQ(device->count(), 1);
  EXPECT_EQ(device->currentText(), "[Standard]");
  auto* threshold = Find<QSlider>(dialog, "autoTrimThreshold");
  EXPECT_EQ(threshold->minimum(), -40);
  EXPECT_EQ(threshold->maximum(), -12);
  EXPECT_EQ(threshold->value(), -20);
  EXPECT_EQ(Find<QLabel>(dialog, "autoTrimThresholdValue")->text(), "-20 dB");
  EXPECT_TRUE(Find<QRadioButton>(dialog, "useDefaultWorkingDir")->isChecked());
  EXPECT_FALSE(Find<QLineEdit>(dialog, "workingFolder")->isEnabled());
  EXPECT_TRUE(Find<QCheckBox>(dialog, "autoPlaybackAfterEffects")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(dialog, "playWhenOpen")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(dialog, "playBookMark")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(dialog, "playRegion")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(dialog, "reduceVolWhenRewind")->isChecked());
}

TEST_F(OptionsTest, AnEmptyOwnFolderIsRefusedAndTheDialogStaysOpen) {
  OptionsDialog dialog(settings_, ui_, {});
  dialog.show();
  Find<QRadioButton>(dialog, "ownWorkingDir")->setChecked(true);
  Find<QLineEdit>(dialog, "workingFolder")->setText("   ");
  Find<QTabWidget>(dialog, "pages")->setCurrentIndex(0);
  EXPECT_FALSE(dialog.Apply());
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(ui_.shown().size(), 2u);
  EXPECT_EQ(ui_.shown()[0].text, "Bitte geben Sie einen gültigen Ordner an.");
  EXPECT_EQ(ui_.shown()[0].caption, "Ordner ungültig");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kError);
  EXPECT_EQ(Find<QTabWidget>(dialog, "pages")->currentIndex(), 1);
  // Nothing was written.
  EXPECT_EQ(settings_.ReadText("Settings", "UseDefaultWorkingDir", "unset"), "unset");
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "sonavel/keys.dat")));
}

TEST_F(OptionsTest, AMissingOwnFolderIsRefusedAndTheDialogStaysOpen) {
  OptionsDialog dialog(settings_, ui_, {});
  dialog.show();
  Find<QRadioButton>(dialog, "ownWorkingDir")->setChecked(true);
  Find<QLineEdit>(dialog, "workingFolder")->setText(QString::fromStdString(JoinPath(folder_, "fehlt")));
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Der gewählte Arbeitsordner existiert nicht. Bitte noch einmal versuchen.");
  EXPECT_EQ(ui_.shown()[0].caption, "Ordner ungültig");
  EXPECT_EQ(ui_.shown()[0].icon, MessageIcon::kError);
  EXPECT_EQ(settings_.ReadText("Settings", "WorkingFolder", "unset"), "unset");
}

TEST_F(OptionsTest, AFolderThatExistsIsTakenAndReportedAsAChange) {
  const std::string own = JoinPath(folder_, "arbeit");
  std::filesystem::create_directories(own);
  {
    OptionsDialog dialog(settings_, ui_, {});
    dialog.show();
    Find<QRadioButton>(dialog, "ownWorkingDir")->setChecked(true);
    ui_.QueueChoice(own);
    Find<QPushButton>(dialog, "browseWorkingFolder")->click();
    EXPECT_EQ(Find<QLineEdit>(dialog, "workingFolder")->text().toStdString(), own);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.working_folder_changed());
    EXPECT_TRUE(ui_.shown().empty());
  }
  EXPECT_EQ(settings_.ReadText("Settings", "WorkingFolder", ""), own);
  EXPECT_FALSE(settings_.ReadBool("Settings", "UseDefaultWorkingDir", true));
  // The machine branch carries it too: an installation may preset the folder.
  EXPECT_EQ(registry_.Get(Branch::kMachine, "Software\\Halvorn Audio\\Sonavel\\Settings", "WorkingFolder"), own);

  // Opened again with the same folder, OK changes nothing that needs a restart.
  OptionsDialog again(settings_, ui_, {});
  EXPECT_TRUE(Find<QRadioButton>(again, "ownWorkingDir")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(again, "workingFolder")->text().toStdString(), own);
  ASSERT_TRUE(again.Apply());
  EXPECT_FALSE(again.working_folder_changed());

  // Back to the default folder: a change again, and the own folder stays stored.
  OptionsDialog back(settings_, ui_, {});
  Find<QRadioButton>(back, "useDefaultWorkingDir")->setChecked(true);
  ASSERT_TRUE(back.Apply());
  EXPECT_TRUE(back.working_folder_changed());
  EXPECT_TRUE(settings_.ReadBool("Settings", "UseDefaultWorkingDir", false));
  EXPECT_EQ(settings_.ReadText("Settings", "WorkingFolder", ""), own);
}

TEST_F(OptionsTest, ValuesAreWrittenOnOkAndShownNextTime) {
  {
    OptionsDialog dialog(settings_, ui_, {});
    dialog.SetOutputDevices({"hw:0 Analog", "hw:1 USB"});
    auto* device = Find<QComboBox>(dialog, "soundOutDevice");
    ASSERT_EQ(device->count(), 3);
    device->setCurrentIndex(2);
    Find<QRadioButton>(dialog, "useDefaultFormat")->setChecked(true);
    Find<QCheckBox>(dialog, "autoArrangeWindows")->setChecked(false);
    ASSERT_TRUE(Find<QCheckBox>(dialog, "mp3Gapless")->isChecked());
    Find<QCheckBox>(dialog, "mp3Gapless")->setChecked(false);
    ASSERT_FALSE(Find<QCheckBox>(dialog, "resampleQuality")->isChecked());
    Find<QCheckBox>(dialog, "resampleQuality")->setChecked(true);
    Find<QSlider>(dialog, "autoTrimThreshold")->setValue(-33);
    EXPECT_EQ(Find<QLabel>(dialog, "autoTrimThresholdValue")->text(), "-33 dB");
    Find<QCheckBox>(dialog, "autoPlaybackAfterEffects")->setChecked(false);
    Find<QCheckBox>(dialog, "playWhenOpen")->setChecked(false);
    Find<QCheckBox>(dialog, "playBookMark")->setChecked(true);
    Find<QCheckBox>(dialog, "playRegion")->setChecked(true);
    Find<QCheckBox>(dialog, "reduceVolWhenRewind")->setChecked(true);
    ASSERT_TRUE(dialog.Apply());
    EXPECT_FALSE(dialog.working_folder_changed());
  }
  const std::string key = "Software\\Halvorn Audio\\Sonavel\\Settings";
  EXPECT_EQ(settings_.ReadText("Settings", "SoundOutDevice", ""), "hw:1 USB");
  EXPECT_EQ(settings_.ReadInt("Settings", "AutoTrimThreshold", 0), -33);
  EXPECT_EQ(registry_.Get(Branch::kMachine, key, "AutoTrimThreshold"), "-33");
  EXPECT_EQ(registry_.Get(Branch::kMachine, key, "SoundOutDevice"), "hw:1 USB");
  EXPECT_FALSE(settings_.ReadBool("Settings", "PromptSampleAndChannels", true));
  EXPECT_FALSE(settings_.ReadBool("Settings", "AutoArrangeWindows", true));
  EXPECT_FALSE(settings_.ReadBool("Settings", "MP3Gapless", true));
  EXPECT_EQ(settings_.ReadInt("Settings", "ResampleQuality", 0), 1);
  EXPECT_FALSE(settings_.ReadBool("Settings", "AutoPlaybackAfterEffects", true));
  EXPECT_FALSE(settings_.ReadBool("Settings", "PlayWhenOpen", true));
  EXPECT_TRUE(settings_.ReadBool("Settings", "PlayBookMark", false));
  EXPECT_TRUE(settings_.ReadBool("Settings", "PlayRegion", false));
  EXPECT_TRUE(settings_.ReadBool("Settings", "ReduceVolWhenRewind", false));
  // The play options are the user's own: the machine branch does not get them.
  EXPECT_EQ(registry_.Get(Branch::kMachine, key, "PlayBookMark"), std::nullopt);
  EXPECT_EQ(registry_.Get(Branch::kUser, key, "PlayBookMark"), "1");

  OptionsDialog again(settings_, ui_, {});
  EXPECT_EQ(Find<QComboBox>(again, "soundOutDevice")->currentIndex(), 0);  // not listed yet
  again.SetOutputDevices({"hw:0 Analog", "hw:1 USB"});
  EXPECT_EQ(Find<QComboBox>(again, "soundOutDevice")->currentText(), "hw:1 USB");
  EXPECT_TRUE(Find<QRadioButton>(again, "useDefaultFormat")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(again, "autoArrangeWindows")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(again, "mp3Gapless")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(again, "resampleQuality")->isChecked());
  EXPECT_EQ(Find<QSlider>(again, "autoTrimThreshold")->value(), -33);
  EXPECT_EQ(Find<QLabel>(again, "autoTrimThresholdValue")->text(), "-33 dB");
  EXPECT_FALSE(Find<QCheckBox>(again, "autoPlaybackAfterEffects")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(again, "playWhenOpen")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(again, "playBookMark")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(again, "playRegion")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(again, "reduceVolWhenRewind")->isChecked());

  // Back to "[Standard]": stored as an empty value.
  Find<QComboBox>(again, "soundOutDevice")->setCurrentIndex(0);
  ASSERT_TRUE(again.Apply());
  EXPECT_EQ(settings_.ReadText("Settings", "SoundOutDevice", "unset"), "unset");
}

TEST_F(OptionsTest, AStoredDeviceThatIsMissingNowIsKept) {
  settings_.WriteValue("Settings", "SoundOutDevice", "hw:2 Kopfhörer");
  OptionsDialog dialog(settings_, ui_, {});
  dialog.SetOutputDevices({"hw:0 Analog"});
  EXPECT_EQ(Find<QComboBox>(dialog, "soundOutDevice")->currentText(), "[Standard]");
  ASSERT_TRUE(dialog.Apply());
  EXPECT_EQ(settings_.ReadText("Settings", "SoundOutDevice", ""), "hw:2 Kopfhörer");
}

TEST_F(OptionsTest, AThresholdOutsideTheRangeIsShownAtItsEnd) {
  settings_.WriteValue("Settings", "AutoTrimThreshold", -90);
  OptionsDialog dialog(settings_, ui_, {});
  EXPECT_EQ(Find<QSlider>(dialog, "autoTrimThreshold")->value(), -40);
  EXPECT_EQ(Find<QLabel>(dialog, "autoTrimThresholdValue")->text(), "-40 dB");
}

TEST_F(OptionsTest, ExtensionBoxesChangeTheDefaultApplications) {
  const std::string list = MimeAppsListPath();
  ASSERT_EQ(list, JoinPath(folder_, "config/mimeapps.list"));
  ASSERT_TRUE(SetDefaultOpener(".mp3", true));
  {
    OptionsDialog dialog(settings_, ui_, {});
    ASSERT_NE(ExtensionItem(dialog, ".mp3"), nullptr);
    EXPECT_EQ(ExtensionItem(dialog, ".mp3")->checkState(), Qt::Checked);
    EXPECT_EQ(ExtensionItem(dialog, ".wav")->checkState(), Qt::Unchecked);
    ExtensionItem(dialog, ".wav")->setCheckState(Qt::Checked);
    ExtensionItem(dialog, ".mp3")->setCheckState(Qt::Unchecked);
    // Unchanged until OK.
    EXPECT_FALSE(IsDefaultOpener(".wav"));
    ASSERT_TRUE(dialog.Apply());
  }
  EXPECT_TRUE(IsDefaultOpener(".wav"));
  EXPECT_FALSE(IsDefaultOpener(".mp3"));
  const std::string text = ReadFile(list);
  EXPECT_NE(text.find(MimeTypeFor(".wav") + "=sonavel.desktop;"), std::string::npos) << text;
  EXPECT_EQ(text.find(MimeTypeFor(".mp3") + "=sonavel.desktop;"), std::string::npos) << text;

  OptionsDialog again(settings_, ui_, {});
  EXPECT_EQ(ExtensionItem(again, ".wav")->checkState(), Qt::Checked);
  EXPECT_EQ(ExtensionItem(again, ".mp3")->checkState(), Qt::Unchecked);
}

TEST_F(OptionsTest, ExtensionsOfOneTypeAreCheckedTogether) {
  // Find two extensions that share a MIME type, if the table has any.
  std::optional<std::pair<std::string_view, std::string_view>> pair;
  for (std::size_t i = 0; i < kAudioExtensions.size() && !pair; ++i)
    for (std::size_t j = i + 1; j < kAudioExtensions.size() && !pair; ++j)
      if (MimeTypeFor(kAudioExtensions[i]) == MimeTypeFor(kAudioExtensions[j]))
        pair = {kAudioExtensions[i], kAudioExtensions[j]};
  if (!pair) GTEST_SKIP() << "every extension has its own type";
  OptionsDialog dialog(settings_, ui_, {});
  ExtensionItem(dialog, QString::fromUtf8(pair->first.data(), static_cast<int>(pair->first.size())))
      ->setCheckState(Qt::Checked);
  EXPECT_EQ(ExtensionItem(dialog, QString::fromUtf8(pair->second.data(), static_cast<int>(pair->second.size())))
                ->checkState(),
            Qt::Checked);
}

TEST_F(OptionsTest, TheEditWithActionFollowsItsBox) {
  settings_.WriteValue("Settings", "AddToWEContext", 0);
  OptionsDialog dialog(settings_, ui_, {});
  EXPECT_FALSE(Find<QCheckBox>(dialog, "addToWEContext")->isChecked());
  Find<QCheckBox>(dialog, "addToWEContext")->setChecked(true);
  ASSERT_TRUE(dialog.Apply());
  EXPECT_TRUE(settings_.ReadBool("Settings", "AddToWEContext", false));
  const std::string entry = ReadFile(DesktopEntryPath());
  EXPECT_EQ(DesktopEntryPath(), JoinPath(folder_, "data/applications/sonavel.desktop"));
  EXPECT_NE(entry.find("Edit with Sonavel"), std::string::npos) << entry;
}

TEST_F(OptionsTest, TheGeneralButtonsClearRecentFilesAndSetTheDefaults) {
  settings_.WriteUserValue("Recent", "RecentFile 1", "/tmp/a.wav");
  settings_.WriteUserValue("Recent", "RecentFileDate1", "100");
  OptionsDialog dialog(settings_, ui_, {});
  Find<QPushButton>(dialog, "clearRecentFiles")->click();  // declined: the safe answer
  EXPECT_FALSE(dialog.recent_files_cleared());
  EXPECT_EQ(settings_.ReadUserText("Recent", "RecentFile 1", ""), "/tmp/a.wav");
  ui_.QueueAnswer(MessageAnswer::kYes);
  Find<QPushButton>(dialog, "clearRecentFiles")->click();
  EXPECT_TRUE(dialog.recent_files_cleared());
  EXPECT_EQ(settings_.ReadUserText("Recent", "RecentFile 1", ""), "");
  ASSERT_EQ(ui_.shown().size(), 2u);
  EXPECT_EQ(ui_.shown()[1].caption, "Löschen bestätigt");

  ui_.QueueFormat({true, 22050, 2});
  Find<QPushButton>(dialog, "setDefaults")->click();
  EXPECT_EQ(settings_.ReadInt("Settings", "DefaultSampleRate", 0), 22050);
  EXPECT_EQ(settings_.ReadInt("Settings", "DefaultChannels", 0), 2);
}

TEST_F(OptionsTest, CommandsAreListedByTheirPlainMenuText) {
  EXPECT_EQ(PlainMenuText("&Öffnen...\tCtrl+O"), "Öffnen...");
  EXPECT_EQ(PlainMenuText("Laut && Leise"), "Laut & Leise");
  OptionsDialog dialog(settings_, ui_, {});
  auto* commands = Find<QListWidget>(dialog, "commands");
  ASSERT_GT(commands->count(), 50);
  bool settings_listed = false;
  for (int row = 0; row < commands->count(); ++row) {
    const QString text = commands->item(row)->text();
    EXPECT_FALSE(text.contains('\t')) << text.toStdString();
    EXPECT_FALSE(text.contains('&') && !text.contains("& ")) << text.toStdString();
    if (text == "1010  Einstellungen...") settings_listed = true;
  }
  EXPECT_TRUE(settings_listed);
}

TEST_F(OptionsTest, HotKeysAreAddedRemovedAndSaved) {
  const std::vector<HotKey> start = {{kKeyCtrl | 'P', {3002}}};
  OptionsDialog dialog(settings_, ui_, start);
  std::vector<std::optional<std::int32_t>> keys = {kKeyCtrl | 'P', VK_F9, std::nullopt};
  dialog.SetKeySource([&](QWidget*) {
    auto key = keys.front();
    keys.erase(keys.begin());
    return key;
  });
  SelectCommand(dialog, 3002);
  EXPECT_EQ(KeyTexts(dialog), QStringList{QString::fromStdString(KeyName(kKeyCtrl | 'P'))});

  // Ctrl+P already plays: stop follows it on the same key; F9 is new.
  SelectCommand(dialog, 3003);
  EXPECT_TRUE(KeyTexts(dialog).isEmpty());
  Find<QPushButton>(dialog, "addKey")->click();
  Find<QPushButton>(dialog, "addKey")->click();
  Find<QPushButton>(dialog, "addKey")->click();  // no key given: nothing happens
  EXPECT_EQ(KeyTexts(dialog), (QStringList{QString::fromStdString(KeyName(kKeyCtrl | 'P')),
                                           QString::fromStdString(KeyName(VK_F9))}));
  EXPECT_EQ(dialog.hot_keys(), (std::vector<HotKey>{{kKeyCtrl | 'P', {3002, 3003}}, {VK_F9, {3003}}}));

  // Removing asks first; No keeps the keys.
  auto* list = Find<QListWidget>(dialog, "keys");
  list->item(0)->setSelected(true);
  ui_.QueueAnswer(MessageAnswer::kNo);
  Find<QPushButton>(dialog, "removeKey")->click();
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text, "Gewählte Taste(n) ändern?");
  EXPECT_EQ(ui_.shown()[0].caption, "Entfernen bestätigen");
  EXPECT_EQ(KeyTexts(dialog).size(), 2);

  list->item(0)->setSelected(true);
  list->item(1)->setSelected(true);
  ui_.QueueAnswer(MessageAnswer::kYes);
  Find<QPushButton>(dialog, "removeKey")->click();
  EXPECT_TRUE(KeyTexts(dialog).isEmpty());
  // Ctrl+P still plays; F9 carried nothing else and is gone.
  EXPECT_EQ(dialog.hot_keys(), start);

  SelectCommand(dialog, 3001);
  keys = {VK_F5};
  Find<QPushButton>(dialog, "addKey")->click();
  ASSERT_TRUE(dialog.Apply());
  const std::vector<HotKey> expected = {{kKeyCtrl | 'P', {3002}}, {VK_F5, {3001}}};
  EXPECT_EQ(dialog.hot_keys(), expected);
  EXPECT_EQ(LoadHotKeys(ui_), expected);
  const std::string bytes = ReadFile(JoinPath(folder_, "sonavel/keys.dat"));
  const std::vector<std::uint8_t> encoded = EncodeHotKeys(expected);
  EXPECT_EQ(bytes, std::string(encoded.begin(), encoded.end()));
}

TEST_F(OptionsTest, TheAddButtonCapturesTheKeyInTheKeyDialog) {
  OptionsDialog dialog(settings_, ui_, {});
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  SelectCommand(dialog, 2003);
  bool seen = false;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    seen = modal != nullptr && modal->objectName() == "LKeyChangeDlg";
    if (modal != nullptr) QTest::keyClick(modal, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
  });
  Find<QPushButton>(dialog, "addKey")->click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(dialog.hot_keys(), (std::vector<HotKey>{{kKeyCtrl | kKeyAlt | 'K', {2003}}}));
  EXPECT_EQ(KeyTexts(dialog), QStringList{"Ctrl+Alt+K"});
}

TEST_F(OptionsTest, RunOptionsDialogHandsBackTheKeysOnlyWhenAccepted) {
  const std::vector<HotKey> current = {{VK_F2, {1001}}};
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->SetKeySource([](QWidget*) { return std::optional<std::int32_t>(VK_F3); });
    SelectCommand(*dialog, 1001);
    dialog->AddKey();
    dialog->reject();
  });
  OptionsResult cancelled = RunOptionsDialog(nullptr, settings_, ui_, current);
  EXPECT_FALSE(cancelled.accepted);
  EXPECT_EQ(cancelled.hot_keys, current);
  EXPECT_FALSE(std::filesystem::exists(JoinPath(folder_, "sonavel/keys.dat")));

  const std::string own = JoinPath(folder_, "arbeit");
  std::filesystem::create_directories(own);
  QTimer::singleShot(0, [own] {
    auto* dialog = qobject_cast<OptionsDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->SetKeySource([](QWidget*) { return std::optional<std::int32_t>(VK_F3); });
    SelectCommand(*dialog, 1001);
    dialog->AddKey();
    dialog->findChild<QRadioButton*>("ownWorkingDir")->setChecked(true);
    dialog->findChild<QLineEdit*>("workingFolder")->setText(QString::fromStdString(own));
    dialog->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
    if (dialog->isVisible()) dialog->reject();  // never hang on a fault
  });
  OptionsResult accepted = RunOptionsDialog(nullptr, settings_, ui_, current);
  EXPECT_TRUE(accepted.accepted);
  EXPECT_TRUE(accepted.working_folder_changed);
  EXPECT_EQ(accepted.hot_keys, (std::vector<HotKey>{{VK_F2, {1001}}, {VK_F3, {1001}}}));
  EXPECT_EQ(LoadHotKeys(ui_), accepted.hot_keys);
}

TEST_F(OptionsTest, TheRestartMessage) {
  TellRestartNeeded(ui_);
  ASSERT_EQ(ui_.shown().size(), 1u);
  EXPECT_EQ(ui_.shown()[0].text,
            "Sonavel werde jetzt schließen weil sie den Audio-Arbeitsordner geändert haben.\r\r"
            "Bitte wiederöffnen Sonavel um mit den neuen Ordnern zu starten.");
  EXPECT_EQ(ui_.shown()[0].caption, "Shut Down Erforderlich");
}

TEST_F(OptionsTest, Screenshots) {
  ASSERT_TRUE(SetDefaultOpener(".wav", true));
  OptionsDialog dialog(settings_, ui_, {{VK_F5, {3002}}, {kKeyCtrl | VK_F5, {3002}}});
  dialog.SetOutputDevices({"hw:0 HDA Intel PCH Analog"});
  dialog.resize(640, 520);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* pages = Find<QTabWidget>(dialog, "pages");
  SelectCommand(dialog, 3002);
  const char* names[] = {"options_general", "options_playback", "options_hotkeys"};
  for (int page = 0; page < 3; ++page) {
    pages->setCurrentIndex(page);
    QTest::qWait(20);
    SaveScreenshot(dialog, names[page]);
  }
}

}  // namespace
}  // namespace sonavel
