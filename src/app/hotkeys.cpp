#include "app/hotkeys.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/ui.h"

namespace sonavel {

namespace {

constexpr const char* kFileErrorCaption = "Fehler in der Datei";
constexpr const char* kWrongVersionText =
    "Diese Datei passt nicht zur aktuellen Sonavel Version oder sie ist beschädigt.";
constexpr const char* kCannotOpenText =
    "Sonavel kann diese Datei nicht öffnen. Diese Datei existiert nicht oder ist "
    "möglicherweise beschädigt.";

// No real binding list comes near this; a larger file is read only this far.
constexpr std::size_t kMaxFileBytes = 1 << 20;

void ShowFileError(Ui& ui, const char* text) {
  ui.ShowMessage({text, kFileErrorCaption, MessageIcon::kError, MessageButtons::kOk});
}

void PutInt32(std::vector<std::uint8_t>& out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

std::int32_t GetInt32(const std::uint8_t* in) {
  const std::uint32_t bits = std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 |
                             std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
  return static_cast<std::int32_t>(bits);
}

std::string HotKeyPath() { return JoinPath(UserDataFolder(), kHotKeyFileName); }

// The key's own name, without modifiers; empty for a code that has none.
std::string BareKeyName(std::int32_t virtual_key) {
  if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9'))
    return std::string(1, static_cast<char>(virtual_key));
  if (virtual_key >= VK_F1 && virtual_key <= VK_F24) return std::string("F").append(std::to_string(virtual_key - VK_F1 + 1));
  if (virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD0 + 9)
    return "Num " + std::to_string(virtual_key - VK_NUMPAD0);
  switch (virtual_key) {
    case VK_BACK: return "Rücktaste";
    case VK_TAB: return "Tab";
    case VK_RETURN: return "Eingabe";
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: return "Umschalt";
    case VK_CONTROL: case VK_LCONTROL: case VK_RCONTROL: return "Strg";
    case VK_MENU: case VK_LMENU: return "Alt";
    case VK_RMENU: return "Alt Gr";
    case VK_PAUSE: return "Pause";
    case VK_CAPITAL: return "Feststell";
    case VK_ESCAPE: return "Esc";
    case VK_SPACE: return "Leer";
    case VK_PRIOR: return "Bild auf";
    case VK_NEXT: return "Bild ab";
    case VK_END: return "Ende";
    case VK_HOME: return "Pos1";
    case VK_LEFT: return "Links";
    case VK_UP: return "Nach oben";
    case VK_RIGHT: return "Rechts";
    case VK_DOWN: return "Nach unten";
    case VK_SNAPSHOT: return "Druck";
    case VK_INSERT: return "Einfg";
    case VK_DELETE: return "Entf";
    case VK_LWIN: return "Linke Windows";
    case VK_RWIN: return "Rechte Windows";
    case VK_APPS: return "Anwendung";
    case VK_MULTIPLY: return "Num *";
    case VK_ADD: return "Num +";
    case VK_SEPARATOR: return "Num Trenn";
    case VK_SUBTRACT: return "Num -";
    case VK_DECIMAL: return "Num ,";
    case VK_DIVIDE: return "Num /";
    case VK_NUMLOCK: return "Num";
    case VK_SCROLL: return "Rollen";
    case VK_OEM_1: return "Ü";
    case VK_OEM_PLUS: return "+";
    case VK_OEM_COMMA: return ",";
    case VK_OEM_MINUS: return "-";
    case VK_OEM_PERIOD: return ".";
    case VK_OEM_2: return "#";
    case VK_OEM_3: return "Ö";
    case VK_OEM_4: return "ß";
    case VK_OEM_5: return "^";
    case VK_OEM_6: return "´";
    case VK_OEM_7: return "Ä";
    case VK_OEM_102: return "<";
    default: return {};
  }
}

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

const HotKey* FindHotKey(const std::vector<HotKey>& hot_keys, std::int32_t key) {
  const auto found = std::find_if(hot_keys.begin(), hot_keys.end(),
                                  [key](const HotKey& hot_key) { return hot_key.key == key; });
  return found == hot_keys.end() ? nullptr : &*found;
}

// Ctrl with a letter or with the numeric pad's plus and minus.
int CtrlKeyCommand(std::int32_t letter) {
  using namespace command_id;
  switch (letter) {
    case 'A': return kSelectAll;
    case 'B': return kSetBookmark;
    case 'C': return kCopy;
    case 'E': return kTrimEnd;
    case 'G': return kSelectRange;
    case 'L': return kLoadCdTracks;
    case 'M': return kTrimStart;
    case 'N': return kNew;
    case 'O': return kOpen;
    case 'R': return kAddRegion;
    case 'S': return kSave;
    case 'T': return kTrim;
    case 'V': return kPaste;
    case 'X': return kCut;
    case 'Y': return kRedo;
    case 'Z': return kUndo;
    case VK_ADD: return kZoomIn;
    case VK_SUBTRACT: return kZoomOut;
    default: return 0;
  }
}

int CtrlShiftKeyCommand(std::int32_t letter) {
  using namespace command_id;
  switch (letter) {
    case 'A': return kCommandBar;
    case 'B': return kBookmarkList;
    case 'F': return kZoomAll;
    case 'R': return kRegionList;
    case 'S': return kZoomSelection;
    case 'V': return kVerticalZoom;
    default: return 0;
  }
}

std::vector<int> BuiltInCommands(std::int32_t key, const KeyContext& context) {
  using namespace command_id;
  using namespace key_action;
  const std::int32_t virtual_key = key & kVirtualKeyMask;
  const std::int32_t modifiers = key & kKeyModifiers;

  // Shift on its own: Windows reports the Shift bit along with the key itself.
  if (virtual_key == VK_SHIFT || virtual_key == VK_LSHIFT || virtual_key == VK_RSHIFT)
    return {kShiftDown};

  if (modifiers == kKeyCtrl) {
    if (const int command = CtrlKeyCommand(virtual_key)) return {command};
    return {};
  }
  if (modifiers == (kKeyCtrl | kKeyShift)) {
    if (const int command = CtrlShiftKeyCommand(virtual_key)) return {command};
    return {};
  }
  if (modifiers == kKeyShift) {
    switch (virtual_key) {
      case VK_F9: return {kRepeat};
      case VK_HOME: return {kExtendSelection, kGoToStart};
      case VK_END: return {kExtendSelection, kGoToEnd};
      case VK_LEFT: case VK_F7: return {kExtendSelection, kPressRewind};
      case VK_RIGHT: case VK_F8: return {kExtendSelection, kPressForward};
      default: return {};
    }
  }
  if (modifiers != 0) return {};

  switch (virtual_key) {
    case VK_ESCAPE: return {kStop};
    case VK_SPACE:
      if (context.list_window_active) return {};
      return {context.scrubbing ? kPlay : kScrub};
    case VK_F9: return {kPlay};
    case VK_F10: return {kSpeedNormal};
    case VK_F11: return {kSpeedSlow};
    case VK_F12: return {kSpeedFast};
    case VK_HOME: return {kGoToStart};
    case VK_END: return {kGoToEnd};
    case VK_LEFT: case VK_F7: return {kPressRewind};
    case VK_RIGHT: case VK_F8: return {kPressForward};
    case VK_DELETE: return {kDelete};
    case VK_F1: return {kHelp};
    case VK_F2:
      if (context.list_window_active) return {kRenameListEntry};
      return {};
    case VK_F5: return {kRecord, kPlay};
    default: return {};
  }
}

}  // namespace

bool IsModifierKey(std::int32_t virtual_key) {
  switch (virtual_key) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU:
    case VK_LSHIFT: case VK_RSHIFT: case VK_LCONTROL: case VK_RCONTROL:
    case VK_LMENU: case VK_RMENU: case VK_LWIN: case VK_RWIN:
      return true;
    default:
      return false;
  }
}

std::vector<std::uint8_t> EncodeHotKeys(const std::vector<HotKey>& hot_keys) {
  std::vector<std::uint8_t> bytes{kHotKeyFileVersion};
  for (const HotKey& hot_key : hot_keys) {
    const std::size_t count = std::min(hot_key.commands.size(), kMaxCommandsPerKey);
    PutInt32(bytes, hot_key.key);
    bytes.push_back(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) PutInt32(bytes, hot_key.commands[i]);
  }
  return bytes;
}

bool ParseHotKeys(const std::vector<std::uint8_t>& bytes, std::vector<HotKey>& hot_keys) {
  hot_keys.clear();
  if (bytes.empty()) return true;
  if (bytes[0] != kHotKeyFileVersion) return false;
  std::size_t at = 1;
  while (bytes.size() - at >= 5) {
    HotKey hot_key;
    hot_key.key = GetInt32(&bytes[at]);
    const std::size_t count = bytes[at + 4];
    if (bytes.size() - at - 5 < 4 * count) break;  // the last record is incomplete
    at += 5;
    hot_key.commands.reserve(count);
    for (std::size_t i = 0; i < count; ++i, at += 4) hot_key.commands.push_back(GetInt32(&bytes[at]));
    hot_keys.push_back(std::move(hot_key));
  }
  return true;
}

std::vector<HotKey> LoadHotKeys(Ui& ui) {
  const std::string path = HotKeyPath();
  File file;
  if (!file.Open(path, File::Mode::kRead)) {
    std::error_code error;
    if (std::filesystem::exists(path, error)) ShowFileError(ui, kCannotOpenText);
    return {};
  }
  const std::int64_t size = file.Size();
  std::vector<std::uint8_t> bytes(
      static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, kMaxFileBytes)));
  bytes.resize(file.Read(bytes.data(), bytes.size()));

  std::vector<HotKey> hot_keys;
  if (!ParseHotKeys(bytes, hot_keys)) {
    ShowFileError(ui, kWrongVersionText);
    return {};
  }
  return hot_keys;
}

bool SaveHotKeys(const std::vector<HotKey>& hot_keys, Ui& ui) {
  const std::string folder = UserDataFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::string path = JoinPath(folder, kHotKeyFileName);
  const std::vector<std::uint8_t> bytes = EncodeHotKeys(hot_keys);
  if (!ReplaceFileContents(path, bytes.data(), bytes.size())) {
    ShowFileError(ui, kCannotOpenText);
    return false;
  }
  return true;
}

std::string KeyName(std::int32_t key) {
  std::string name;
  if (key & kKeyCtrl) name += "Ctrl+";
  if (key & kKeyAlt) name += "Alt+";
  if (key & kKeyShift) name += "Shift+";
  const std::int32_t virtual_key = key & kVirtualKeyMask;
  std::string bare = BareKeyName(virtual_key);
  if (bare.empty()) {
    // A code without a name of its own is shown by its number.
    constexpr char kHex[] = "0123456789ABCDEF";
    bare = "Taste 0x";
    for (int shift = 12; shift >= 0; shift -= 4) bare += kHex[(virtual_key >> shift) & 0xF];
  }
  return CutUtf8(name + bare, kMaxKeyNameBytes);
}

std::vector<int> CommandsForKey(const std::vector<HotKey>& hot_keys, std::int32_t key,
                                const KeyContext& context) {
  if (const HotKey* hot_key = FindHotKey(hot_keys, key))
    return {hot_key->commands.begin(), hot_key->commands.end()};
  return BuiltInCommands(key, context);
}

KeyUpAction ActionForKeyUp(const std::vector<HotKey>& hot_keys, std::int32_t key) {
  if (FindHotKey(hot_keys, key) != nullptr) return KeyUpAction::kConsumed;
  switch (key & kVirtualKeyMask) {
    case VK_SHIFT: case VK_LSHIFT: case VK_RSHIFT: return KeyUpAction::kShiftUp;
    case VK_HOME: case VK_END: return KeyUpAction::kEndExtend;
    case VK_LEFT: case VK_F7: return KeyUpAction::kReleaseRewind;
    case VK_RIGHT: case VK_F8: return KeyUpAction::kReleaseForward;
    default: return KeyUpAction::kNone;
  }
}

}  // namespace sonavel
