#include "app/recent_files.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

std::int64_t Stamp(const Settings& settings, int slot) {
  return std::strtoll(settings.ReadUser(setting::kRecentFileDate, slot).c_str(), nullptr, 10);
}

// "&" in a menu text marks the mnemonic: a path's own "&" is doubled.
std::string MenuEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '&') out += '&';
  }
  return out;
}

}  // namespace

std::string ShortenRecentPath(const std::string& path) {
  if (path.size() <= 24) return path;
  const std::size_t cut = path.find_last_of("/\\");
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  return path.substr(0, 3) + ".../" + name;
}

RecentFiles::RecentFiles(Settings& settings, Clock clock) : settings_(settings), clock_(std::move(clock)) {
  if (!clock_) {
    clock_ = [] {
      return std::chrono::duration_cast<std::chrono::seconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
  }
}

RecentMenu RecentFiles::AddRecentFile(const std::string& path) {
  if (path.empty()) return RebuildRecentMenu();
  int chosen = 0;
  int oldest = 1;
  std::int64_t oldest_stamp = 0;
  for (int slot = 1; slot <= kRecentSlots && chosen == 0; ++slot) {
    const std::string held = settings_.ReadUser(setting::kRecentFilePath, slot);
    // Paths are compared exactly: on this system two names that differ in case are two files.
    if (held == path) {
      chosen = slot;
    } else if (held.empty()) {
      settings_.WriteUser(setting::kRecentFilePath, slot, path);
      chosen = slot;
    } else if (const std::int64_t stamp = Stamp(settings_, slot); slot == 1 || stamp < oldest_stamp) {
      oldest = slot;
      oldest_stamp = stamp;
    }
  }
  if (chosen == 0) {
    chosen = oldest;
    settings_.WriteUser(setting::kRecentFilePath, chosen, path);
  }
  settings_.WriteUser(setting::kRecentFileDate, chosen, std::to_string(clock_()));
  return RebuildRecentMenu();
}

RecentMenu RecentFiles::RebuildRecentMenu() const {
  struct Entry {
    int slot;
    std::int64_t stamp;
    std::string path;
  };
  std::vector<Entry> entries;
  for (int slot = 1; slot <= kRecentSlots; ++slot) {
    std::string path = settings_.ReadUser(setting::kRecentFilePath, slot);
    if (!path.empty()) entries.push_back({slot, Stamp(settings_, slot), std::move(path)});
  }
  // Newest first; of two with the same second, the higher slot was written later.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.stamp != b.stamp ? a.stamp > b.stamp : a.slot > b.slot;
  });
  RecentMenu menu;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const int position = static_cast<int>(i);
    std::string text = "&";
    text.append(std::to_string(position + 1)).append(".").append(MenuEscape(ShortenRecentPath(entries[i].path)));
    menu.items.push_back({kFirstRecentId + position, std::move(text), entries[i].path});
  }
  if (!menu.items.empty()) {
    menu.separator = true;
    menu.close_text = "&Schließen\tAlt+F4";
  }
  return menu;
}

bool RecentFiles::ClearRecentFiles(Ui& ui) {
  const MessageAnswer answer =
      ui.ShowMessage({"Sind Sie sicher, daß Sie die neuen Dateien löschen möchten?", "Löschen bestätigt",
                      MessageIcon::kQuestion, MessageButtons::kYesNo});
  if (answer != MessageAnswer::kYes) return false;
  for (int slot = 1; slot <= kRecentSlots + 1; ++slot) {
    settings_.DeleteUser(setting::kRecentFileDate, slot);
    settings_.DeleteUser(setting::kRecentFilePath, slot);
  }
  return true;
}

}  // namespace sonavel
