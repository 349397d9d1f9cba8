#pragma once
// The command table: the main menu with its command ids and texts, the two context menus
// of the document windows, the two toolbars and the status-bar help of every command.
// Plain data, so that the frame (Qt) and the tests build from the same source.

#include <string>
#include <vector>

namespace sonavel {

// One menu entry: a command (id != 0, no children), a submenu (id 0, children) or a
// separator. Texts carry "&" for the access key and "\t" before the shortcut.
struct MenuItem {
  int id = 0;
  std::string text;
  std::vector<MenuItem> children;
  bool separator = false;

  bool IsSubmenu() const { return !separator && id == 0; }
};

struct ToolButton {
  int id = 0;
  std::string name;
  std::string tooltip;
  bool separator = false;
};

// The nine top-level menus, from "&Datei" to "&Hilfe". The file menu holds its fixed items
// in positions 0 … 22 and "&Schließen" at position 23, where the recent files go in front
// of it (kFirstRecentMenuPosition).
std::vector<MenuItem> MainMenu();

// Context menu of a document window: edit commands, the effects submenu, bookmarks and
// regions.
std::vector<MenuItem> DocumentContextMenu();

// Context menu of the format field: sample rate and channel conversion.
std::vector<MenuItem> ConversionContextMenu();

// The items the bookmark menu gets while the bookmark list (8006 … 8009) or the region
// list (8011 … 8018) is open.
std::vector<MenuItem> BookmarkListItems();
std::vector<MenuItem> RegionListItems();

std::vector<ToolButton> MainToolbar();
std::vector<ToolButton> EffectsToolbar();

// Text for part 0 of the status bar while the item is highlighted; "" when there is none.
std::string MenuHelpText(int id);

// The main-menu item carrying the id, or nullptr. The pointer stays valid for the whole run.
const MenuItem* FindCommand(int id);

// Every command id of the main menu in menu order (submenu entries and separators excluded).
std::vector<int> AllCommandIds();

// Whether the program can already carry out the command; the frame disables the others.
bool CommandAvailable(int id);

}  // namespace sonavel
