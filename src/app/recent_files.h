#pragma once
// The recent-file list: 11 slots in the user's "Recent" group, each a path ("RecentFile %d")
// and the time it was last opened or saved ("RecentFileDate%d", seconds since 1970), shown
// in the file menu newest first.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sonavel {

class Settings;
class Ui;

inline constexpr int kRecentSlots = 11;
inline constexpr int kFirstRecentId = 1050;
inline constexpr int kRecentSeparatorId = 1061;
inline constexpr int kCloseId = 1048;
inline constexpr int kFirstRecentMenuPosition = 23;

struct RecentMenuItem {
  int id;            // 1050 + position
  std::string text;  // "&%d.%s", the path shortened when it is long
  std::string path;  // the file the item opens
};

// What the file menu shows after its fixed items.
struct RecentMenu {
  std::vector<RecentMenuItem> items;
  // With at least one item: a separator (id 1061) before the last item, which becomes
  // "&Schließen\tAlt+F4" (id 1048) instead of "&Schließen".
  bool separator = false;
  std::string close_text = "&Schließen";
};

class RecentFiles {
 public:
  using Clock = std::function<std::int64_t()>;  // seconds since 1970
  explicit RecentFiles(Settings& settings, Clock clock = {});

  // Records `path` as just opened or saved: its own slot, else an empty one, else the one
  // with the oldest time stamp; returns the rebuilt menu.
  RecentMenu AddRecentFile(const std::string& path);
  RecentMenu RebuildRecentMenu() const;
  // After the user confirms, empties every slot; false when the user declined.
  bool ClearRecentFiles(Ui& ui);

 private:
  Settings& settings_;
  Clock clock_;
};

// The menu form of a path: paths over 24 characters become their first three characters,
// ".../" and the file name.
std::string ShortenRecentPath(const std::string& path);

}  // namespace sonavel
