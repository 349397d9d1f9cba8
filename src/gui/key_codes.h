#pragma once
// Between Qt's keys and the program's key codes (virtual-key code plus the Ctrl, Alt and
// Shift bits, app/hotkeys.h).

#include <QKeyCombination>
#include <QString>

#include <cstdint>

class QKeyEvent;

namespace sonavel {

// The virtual-key code of a Qt key; 0 for a key the program has no code for. Keypad keys
// (`keypad` true) get their own codes (Num 0 … Num 9, Num +, …). `scan_code` is the
// event's native scan code (X11 key code); it places the digit row when the layout made
// Shift turn a digit into a sign, and may be 0.
std::int32_t VirtualKeyOfQtKey(int qt_key, bool keypad, std::uint32_t scan_code = 0);

// The key code of a key event: its virtual key and the Ctrl, Alt and Shift it was pressed
// with. 0 for a key without a code.
std::int32_t KeyCodeOfEvent(const QKeyEvent& event);

// The Qt key combination a key code stands for (Qt::Key_unknown for a code Qt cannot show),
// e.g. for a menu's shortcut text.
QKeyCombination QtKeyOfKeyCode(std::int32_t key);

// The name the user sees for a key code ("Ctrl+Shift+K").
QString KeyText(std::int32_t key);

}  // namespace sonavel
