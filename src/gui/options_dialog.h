#pragma once
// The options dialog ("Einstellungen..."): three pages.
//
//   General               the audio extensions the editor opens by default, whether a new
//                         file asks for rate and channels (with the defaults dialog), the
//                         "Edit with Sonavel" action, window arranging, clearing the
//                         recent files
//   Playback and folders  output device, auto-trim threshold, working folder, play options
//   Hot keys              the user's key bindings per command, written to "keys.dat"
//
// OK runs Apply(): it checks an own working folder, writes every value and keeps the
// dialog open when something is wrong. The frame learns from the result whether the
// working folder changed (the program must then restart) and takes the new hot keys.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/hotkeys.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace sonavel {

class Settings;
class Ui;

struct OptionsResult {
  bool accepted = false;
  // "WorkingFolder" or "UseDefaultWorkingDir" changed: the frame must close (TellRestartNeeded).
  bool working_folder_changed = false;
  // The bindings after the dialog (the ones passed in when it was cancelled).
  std::vector<HotKey> hot_keys;
  // The user emptied the recent-file list (even if the dialog was then cancelled): the
  // frame rebuilds its file menu.
  bool recent_files_cleared = false;
};

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Where the hot-key page gets a new key from; nothing when the user gave none.
  using KeySource = std::function<std::optional<std::int32_t>(QWidget* parent)>;

  OptionsDialog(Settings& settings, Ui& ui, std::vector<HotKey> hot_keys, QWidget* parent = nullptr);

  // The output devices after "[Standard]", by name. The stored choice stays selected when
  // it is among them.
  void SetOutputDevices(std::vector<std::string> devices);
  // Replaces CaptureKey (the "LKeyChangeDlg" dialog) as the source of new keys.
  void SetKeySource(KeySource source) { key_source_ = std::move(source); }

  // What OK does: checks the working folder (a message and false when the dialog must stay
  // open), then writes every setting and "keys.dat".
  bool Apply();

  bool working_folder_changed() const { return working_folder_changed_; }
  bool recent_files_cleared() const { return recent_files_cleared_; }
  const std::vector<HotKey>& hot_keys() const { return hot_keys_; }

  // The hot-key page's buttons.
  void AddKey();
  void RemoveSelectedKeys();

 public slots:
  void accept() override;

 private:
  QWidget* BuildGeneralPage();
  QWidget* BuildPlaybackPage();
  QWidget* BuildHotKeyPage();
  void LoadValues();
  void FillDeviceCombo();
  void ShowKeysOfSelectedCommand();
  int SelectedCommand() const;
  void UpdateFolderControls();
  void ShowThreshold(int decibels);
  void ChooseFolder();
  void ClearRecentFiles();
  void SetDefaultsOfNewFiles();
  void ExtensionToggled(int row);
  bool CheckFolder();

  Settings& settings_;
  Ui& ui_;
  std::vector<HotKey> hot_keys_;
  KeySource key_source_;

  QTabWidget* tabs_ = nullptr;
  // General.
  QListWidget* extensions_ = nullptr;
  std::vector<bool> extension_was_default_;
  QRadioButton* prompt_format_ = nullptr;
  QRadioButton* use_default_format_ = nullptr;
  QCheckBox* add_to_context_ = nullptr;
  QCheckBox* auto_arrange_ = nullptr;
  QCheckBox* mp3_gapless_ = nullptr;
  QCheckBox* high_quality_rate_ = nullptr;
  // Playback and folders.
  QComboBox* output_device_ = nullptr;
  std::vector<std::string> devices_;
  std::string device_choice_;  // "" for "[Standard]"
  bool filling_devices_ = false;
  QSlider* threshold_ = nullptr;
  QLabel* threshold_value_ = nullptr;
  QRadioButton* use_default_folder_ = nullptr;
  QRadioButton* own_folder_ = nullptr;
  QLineEdit* folder_ = nullptr;
  QPushButton* browse_ = nullptr;
  QCheckBox* auto_playback_ = nullptr;
  QCheckBox* play_when_open_ = nullptr;
  QCheckBox* play_bookmark_ = nullptr;
  QCheckBox* play_region_ = nullptr;
  QCheckBox* reduce_volume_ = nullptr;
  // Hot keys.
  QListWidget* commands_ = nullptr;
  QListWidget* keys_ = nullptr;

  // The values the dialog opened with, to tell what changed.
  bool was_using_default_folder_ = true;
  std::string initial_folder_;
  bool initial_add_to_context_ = true;

  bool working_folder_changed_ = false;
  bool recent_files_cleared_ = false;
};

// A command's menu text as the hot-key page lists it: without the access-key "&" and
// without the shortcut after "\t".
std::string PlainMenuText(const std::string& text);

// Runs the dialog modally. The caller applies the hot keys and, when the working folder
// changed, calls TellRestartNeeded and closes.
OptionsResult RunOptionsDialog(QWidget* parent, Settings& settings, Ui& ui,
                               const std::vector<HotKey>& current);

// "Shut Down Erforderlich": the program closes because its working folder changed.
void TellRestartNeeded(Ui& ui);

}  // namespace sonavel
