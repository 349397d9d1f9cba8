#include "document/working_folder.h"

#include <filesystem>

#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"
#include "store/block_table.h"

namespace sonavel {

std::string DefaultWorkingFolder() {
  std::string folder = UserDataFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder;
}

void ChooseWorkingFolder(const SettingsReader& settings) {
  std::string folder = DefaultWorkingFolder();
  if (!settings.Read(setting::kUseDefaultWorkingDir)) {
    std::string own = settings.Read(setting::kWorkingFolder);
    if (!own.empty()) folder = std::move(own);
  }
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  SetWorkingFolder(std::move(folder));
}

bool LowSpaceCheck(Ui& ui, std::string_view text) {
  return LowSpaceCheck(ui, text, WorkingFolderFreeKB());
}

bool LowSpaceCheckAt(Ui& ui, std::string_view text, const std::string& path) {
  return LowSpaceCheck(ui, text, PathFreeKB(path));
}

bool LowSpaceCheck(Ui& ui, std::string_view text, std::uint32_t free_kb) {
  double megabytes = static_cast<double>(free_kb) * (1.0 / 1024.0);
  if (megabytes >= 3.0) return true;
  ui.ShowMessage({std::string(text), "Geringer freier Speicher", MessageIcon::kInformation,
                  MessageButtons::kOk});
  return false;
}

std::string LowSpaceText(std::string_view action) {
  return "Die zuletzt durchgeführte aktion \"" + std::string(action) +
         "\" wurde eventuell nicht ausgeführt, da Sie nur wenig freien Speicher haben. Bitte "
         "versuchen Sie die Datei an einem anderen Ort zu speichern oder löschen Sie alte "
         "Dateien und versuche Sie es dann erneut.";
}

}  // namespace sonavel
