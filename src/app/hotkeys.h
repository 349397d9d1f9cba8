#pragma once
// Hot keys: the user's key bindings stored in "keys.dat", the names keys are shown by, and
// what a key press does — the user's bindings first, then the frame's built-in keys.
//
// A key code is a Windows virtual-key code in the low 16 bits plus modifier bits, the same
// codes the file has always stored, so that a file moved between systems keeps working.

#include <cstdint>
#include <string>
#include <vector>

#include "app/command_ids.h"

namespace sonavel {

class Ui;

// Modifier bits of a key code.
inline constexpr std::int32_t kKeyAlt = 0x10000;
inline constexpr std::int32_t kKeyCtrl = 0x20000;
inline constexpr std::int32_t kKeyShift = 0x40000;
inline constexpr std::int32_t kKeyModifiers = kKeyAlt | kKeyCtrl | kKeyShift;
inline constexpr std::int32_t kVirtualKeyMask = 0xFFFF;

// The virtual-key codes the program knows by name. Letters and digits are their ASCII
// capitals ('A' … 'Z', '0' … '9').
inline constexpr std::int32_t VK_BACK = 0x08;
inline constexpr std::int32_t VK_TAB = 0x09;
inline constexpr std::int32_t VK_RETURN = 0x0D;
inline constexpr std::int32_t VK_SHIFT = 0x10;
inline constexpr std::int32_t VK_CONTROL = 0x11;
inline constexpr std::int32_t VK_MENU = 0x12;  // Alt
inline constexpr std::int32_t VK_PAUSE = 0x13;
inline constexpr std::int32_t VK_CAPITAL = 0x14;
inline constexpr std::int32_t VK_ESCAPE = 0x1B;
inline constexpr std::int32_t VK_SPACE = 0x20;
inline constexpr std::int32_t VK_PRIOR = 0x21;  // page up
inline constexpr std::int32_t VK_NEXT = 0x22;   // page down
inline constexpr std::int32_t VK_END = 0x23;
inline constexpr std::int32_t VK_HOME = 0x24;
inline constexpr std::int32_t VK_LEFT = 0x25;
inline constexpr std::int32_t VK_UP = 0x26;
inline constexpr std::int32_t VK_RIGHT = 0x27;
inline constexpr std::int32_t VK_DOWN = 0x28;
inline constexpr std::int32_t VK_SNAPSHOT = 0x2C;  // print
inline constexpr std::int32_t VK_INSERT = 0x2D;
inline constexpr std::int32_t VK_DELETE = 0x2E;
inline constexpr std::int32_t VK_LWIN = 0x5B;
inline constexpr std::int32_t VK_RWIN = 0x5C;
inline constexpr std::int32_t VK_APPS = 0x5D;
inline constexpr std::int32_t VK_NUMPAD0 = 0x60;  // … VK_NUMPAD9 = 0x69
inline constexpr std::int32_t VK_MULTIPLY = 0x6A;
inline constexpr std::int32_t VK_ADD = 0x6B;
inline constexpr std::int32_t VK_SEPARATOR = 0x6C;
inline constexpr std::int32_t VK_SUBTRACT = 0x6D;
inline constexpr std::int32_t VK_DECIMAL = 0x6E;
inline constexpr std::int32_t VK_DIVIDE = 0x6F;
inline constexpr std::int32_t VK_F1 = 0x70;  // … VK_F24 = 0x87
inline constexpr std::int32_t VK_F2 = 0x71;
inline constexpr std::int32_t VK_F3 = 0x72;
inline constexpr std::int32_t VK_F4 = 0x73;
inline constexpr std::int32_t VK_F5 = 0x74;
inline constexpr std::int32_t VK_F6 = 0x75;
inline constexpr std::int32_t VK_F7 = 0x76;
inline constexpr std::int32_t VK_F8 = 0x77;
inline constexpr std::int32_t VK_F9 = 0x78;
inline constexpr std::int32_t VK_F10 = 0x79;
inline constexpr std::int32_t VK_F11 = 0x7A;
inline constexpr std::int32_t VK_F12 = 0x7B;
inline constexpr std::int32_t VK_F24 = 0x87;
inline constexpr std::int32_t VK_NUMLOCK = 0x90;
inline constexpr std::int32_t VK_SCROLL = 0x91;
inline constexpr std::int32_t VK_LSHIFT = 0xA0;
inline constexpr std::int32_t VK_RSHIFT = 0xA1;
inline constexpr std::int32_t VK_LCONTROL = 0xA2;
inline constexpr std::int32_t VK_RCONTROL = 0xA3;
inline constexpr std::int32_t VK_LMENU = 0xA4;
inline constexpr std::int32_t VK_RMENU = 0xA5;
// The punctuation keys, named here after what they carry on a German keyboard.
inline constexpr std::int32_t VK_OEM_1 = 0xBA;       // Ü
inline constexpr std::int32_t VK_OEM_PLUS = 0xBB;    // +
inline constexpr std::int32_t VK_OEM_COMMA = 0xBC;   // ,
inline constexpr std::int32_t VK_OEM_MINUS = 0xBD;   // -
inline constexpr std::int32_t VK_OEM_PERIOD = 0xBE;  // .
inline constexpr std::int32_t VK_OEM_2 = 0xBF;       // #
inline constexpr std::int32_t VK_OEM_3 = 0xC0;       // Ö
inline constexpr std::int32_t VK_OEM_4 = 0xDB;       // ß
inline constexpr std::int32_t VK_OEM_5 = 0xDC;       // ^
inline constexpr std::int32_t VK_OEM_6 = 0xDD;       // ´
inline constexpr std::int32_t VK_OEM_7 = 0xDE;       // Ä
inline constexpr std::int32_t VK_OEM_102 = 0xE2;     // <

// True for Shift, Ctrl, Alt and the Windows keys: keys that only modify another.
bool IsModifierKey(std::int32_t virtual_key);

// One user binding: a key code and the commands it runs, in this order.
struct HotKey {
  std::int32_t key = 0;
  std::vector<std::int32_t> commands;

  bool operator==(const HotKey&) const = default;
};

// The file's name in the per-user data folder, and the format it carries.
inline constexpr const char* kHotKeyFileName = "keys.dat";
inline constexpr std::uint8_t kHotKeyFileVersion = 0;
// A record holds at most this many commands (its count is one byte).
inline constexpr std::size_t kMaxCommandsPerKey = 255;

// Reads "keys.dat" from the per-user data folder. A missing file gives no keys without a
// word; a file of another version is reported and gives no keys; reading stops at the first
// incomplete record.
std::vector<HotKey> LoadHotKeys(Ui& ui);
// Writes every binding to "keys.dat" (through a temporary file, so that a failure leaves
// the old file whole). A key with more than 255 commands keeps its first 255. False, after
// a message, when the file cannot be written.
bool SaveHotKeys(const std::vector<HotKey>& hot_keys, Ui& ui);

// The file's bytes for these bindings, and the bindings in such bytes. ParseHotKeys returns
// false for a version other than 0 (and gives no keys).
std::vector<std::uint8_t> EncodeHotKeys(const std::vector<HotKey>& hot_keys);
bool ParseHotKeys(const std::vector<std::uint8_t>& bytes, std::vector<HotKey>& hot_keys);

// The name a key is shown by: "Ctrl+", "Alt+", "Shift+" as held, then the key's own name
// ("Entf", "Pos1", "F5", "A", "Num +"), at most 260 bytes.
inline constexpr std::size_t kMaxKeyNameBytes = 260;
std::string KeyName(std::int32_t key);

// Frame actions a key runs that have no menu command. They are negative so that they never
// meet a command id.
namespace key_action {
// Pause playback and scrub around the cursor.
inline constexpr int kScrub = -1;
// Press the rewind or forward button; it is held until the key comes up.
inline constexpr int kPressRewind = -2;
inline constexpr int kPressForward = -3;
// The following cursor move extends the selection from the anchor (sets extendSelection).
inline constexpr int kExtendSelection = -4;
// Start renaming the selected entry of the active bookmark or region list.
inline constexpr int kRenameListEntry = -5;
// Shift went down: with a document, remember it (shiftHeld) and anchor at the cursor.
inline constexpr int kShiftDown = -6;
}  // namespace key_action

// What the frame knows when a key goes down.
struct KeyContext {
  // The bookmark list or the region list window is the active child.
  bool list_window_active = false;
  // The engine is scrubbing (paused at the cursor).
  bool scrubbing = false;
};

// What pressing `key` runs, in order: command ids (dispatched like menu commands) and
// key_action values. A user binding of the key replaces the built-in meaning. Empty when
// the key means nothing here (the key then goes on to the focused window) — or when the
// user bound it to no command at all, which ActionForKeyUp tells apart.
std::vector<int> CommandsForKey(const std::vector<HotKey>& hot_keys, std::int32_t key,
                                const KeyContext& context);

// What releasing a key does.
enum class KeyUpAction {
  kNone,           // not ours
  kConsumed,       // a user binding: nothing more happens
  kShiftUp,        // clear shiftHeld
  kEndExtend,      // Home or End: clear extendSelection
  kReleaseRewind,  // Left or F7: release the rewind button, clear extendSelection
  kReleaseForward  // Right or F8: release the forward button, clear extendSelection
};
KeyUpAction ActionForKeyUp(const std::vector<HotKey>& hot_keys, std::int32_t key);

}  // namespace sonavel
