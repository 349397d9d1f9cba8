#include "gui/key_codes.h"

#include <QKeyEvent>

#include "app/hotkeys.h"

namespace sonavel {

namespace {

constexpr std::int32_t kVkClear = 0x0C;

struct KeyPair {
  int qt_key;
  std::int32_t virtual_key;
};

// Keys outside the runs of letters, digits and function keys. Where two Qt keys share a
// virtual key, the first is the one shown.
constexpr KeyPair kKeys[] = {
    {Qt::Key_Escape, VK_ESCAPE},     {Qt::Key_Tab, VK_TAB},
    {Qt::Key_Backtab, VK_TAB},       {Qt::Key_Backspace, VK_BACK},
    {Qt::Key_Return, VK_RETURN},     {Qt::Key_Enter, VK_RETURN},
    {Qt::Key_Insert, VK_INSERT},     {Qt::Key_Delete, VK_DELETE},
    {Qt::Key_Pause, VK_PAUSE},       {Qt::Key_Print, VK_SNAPSHOT},
    {Qt::Key_Clear, kVkClear},       {Qt::Key_Home, VK_HOME},
    {Qt::Key_End, VK_END},           {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP},             {Qt::Key_Right, VK_RIGHT},
    {Qt::Key_Down, VK_DOWN},         {Qt::Key_PageUp, VK_PRIOR},
    {Qt::Key_PageDown, VK_NEXT},     {Qt::Key_Shift, VK_SHIFT},
    {Qt::Key_Control, VK_CONTROL},   {Qt::Key_Alt, VK_MENU},
    {Qt::Key_AltGr, VK_RMENU},       {Qt::Key_Meta, VK_LWIN},
    {Qt::Key_Super_L, VK_LWIN},      {Qt::Key_Super_R, VK_RWIN},
    {Qt::Key_Menu, VK_APPS},         {Qt::Key_CapsLock, VK_CAPITAL},
    {Qt::Key_NumLock, VK_NUMLOCK},   {Qt::Key_ScrollLock, VK_SCROLL},
    {Qt::Key_Space, VK_SPACE},
    // The punctuation keys: first as a German keyboard labels them, then the same keys
    // as an American one does.
    {Qt::Key_Udiaeresis, VK_OEM_1},  {Qt::Key_Plus, VK_OEM_PLUS},
    {Qt::Key_Comma, VK_OEM_COMMA},   {Qt::Key_Minus, VK_OEM_MINUS},
    {Qt::Key_Period, VK_OEM_PERIOD}, {Qt::Key_NumberSign, VK_OEM_2},
    {Qt::Key_Odiaeresis, VK_OEM_3},  {Qt::Key_ssharp, VK_OEM_4},
    {Qt::Key_AsciiCircum, VK_OEM_5}, {Qt::Key_Dead_Circumflex, VK_OEM_5},
    {Qt::Key_acute, VK_OEM_6},       {Qt::Key_Dead_Acute, VK_OEM_6},
    {Qt::Key_Adiaeresis, VK_OEM_7},  {Qt::Key_Less, VK_OEM_102},
    {Qt::Key_Semicolon, VK_OEM_1},   {Qt::Key_Equal, VK_OEM_PLUS},
    {Qt::Key_Slash, VK_OEM_2},       {Qt::Key_QuoteLeft, VK_OEM_3},
    {Qt::Key_BracketLeft, VK_OEM_4}, {Qt::Key_Backslash, VK_OEM_5},
    {Qt::Key_BracketRight, VK_OEM_6}, {Qt::Key_Apostrophe, VK_OEM_7},
};

// The numeric pad's own keys (with NumLock on); its other keys act as the main ones.
constexpr KeyPair kKeypadKeys[] = {
    {Qt::Key_Asterisk, VK_MULTIPLY}, {Qt::Key_Plus, VK_ADD},     {Qt::Key_Minus, VK_SUBTRACT},
    {Qt::Key_Period, VK_DECIMAL},    {Qt::Key_Comma, VK_DECIMAL}, {Qt::Key_Slash, VK_DIVIDE},
};

// X11 key codes of the digit row "1" … "9", "0".
constexpr std::uint32_t kFirstDigitScanCode = 10;

}  // namespace

std::int32_t VirtualKeyOfQtKey(int qt_key, bool keypad, std::uint32_t scan_code) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return 'A' + (qt_key - Qt::Key_A);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9)
    return (keypad ? VK_NUMPAD0 : '0') + (qt_key - Qt::Key_0);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) return VK_F1 + (qt_key - Qt::Key_F1);
  if (keypad) {
    for (const KeyPair& pair : kKeypadKeys)
      if (pair.qt_key == qt_key) return pair.virtual_key;
  }
  // Shift made a sign of a digit ("!" or "§" over "1", "=" over "0"): the key's place names
  // it, whatever the layout prints on it.
  if (!keypad && scan_code >= kFirstDigitScanCode && scan_code < kFirstDigitScanCode + 10) {
    const std::uint32_t index = scan_code - kFirstDigitScanCode;
    return index == 9 ? '0' : static_cast<std::int32_t>('1' + index);
  }
  for (const KeyPair& pair : kKeys)
    if (pair.qt_key == qt_key) return pair.virtual_key;
  return 0;
}

std::int32_t KeyCodeOfEvent(const QKeyEvent& event) {
  const std::int32_t virtual_key =
      VirtualKeyOfQtKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier),
                        event.nativeScanCode());
  if (virtual_key == 0) return 0;
  std::int32_t key = virtual_key;
  if (event.modifiers().testFlag(Qt::ControlModifier)) key |= kKeyCtrl;
  if (event.modifiers().testFlag(Qt::AltModifier)) key |= kKeyAlt;
  if (event.modifiers().testFlag(Qt::ShiftModifier)) key |= kKeyShift;
  return key;
}

QKeyCombination QtKeyOfKeyCode(std::int32_t key) {
  Qt::KeyboardModifiers modifiers;
  if (key & kKeyCtrl) modifiers |= Qt::ControlModifier;
  if (key & kKeyAlt) modifiers |= Qt::AltModifier;
  if (key & kKeyShift) modifiers |= Qt::ShiftModifier;
  const std::int32_t virtual_key = key & kVirtualKeyMask;

  Qt::Key qt_key = Qt::Key_unknown;
  if ((virtual_key >= 'A' && virtual_key <= 'Z') || (virtual_key >= '0' && virtual_key <= '9')) {
    qt_key = static_cast<Qt::Key>(virtual_key);  // Qt's codes are the same ASCII capitals
  } else if (virtual_key >= VK_F1 && virtual_key <= VK_F24) {
    qt_key = static_cast<Qt::Key>(Qt::Key_F1 + (virtual_key - VK_F1));
  } else if (virtual_key >= VK_NUMPAD0 && virtual_key <= VK_NUMPAD0 + 9) {
    qt_key = static_cast<Qt::Key>(Qt::Key_0 + (virtual_key - VK_NUMPAD0));
    modifiers |= Qt::KeypadModifier;
  } else {
    for (const KeyPair& pair : kKeypadKeys) {
      if (pair.virtual_key == virtual_key) {
        qt_key = static_cast<Qt::Key>(pair.qt_key);
        modifiers |= Qt::KeypadModifier;
        break;
      }
    }
    if (qt_key == Qt::Key_unknown) {
      for (const KeyPair& pair : kKeys) {
        if (pair.virtual_key == virtual_key) {
          qt_key = static_cast<Qt::Key>(pair.qt_key);
          break;
        }
      }
    }
  }
  return QKeyCombination(modifiers, qt_key);
}

QString KeyText(std::int32_t key) { return QString::fromStdString(KeyName(key)); }

}  // namespace sonavel
