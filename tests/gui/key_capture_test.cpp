#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

#include "app/hotkeys.h"
#include "gui/key_change_dialog.h"
#include "gui/key_codes.h"

namespace sonavel {
namespace {

TEST(KeyChangeDialog, IgnoresEscAndTheModifiersAloneAndTakesTheNextKey) {
  KeyChangeDialog dialog;
  EXPECT_EQ(dialog.objectName(), "LKeyChangeDlg");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

  QTest::keyClick(&dialog, Qt::Key_Escape);
  QTest::keyClick(&dialog, Qt::Key_Shift, Qt::ShiftModifier);
  QTest::keyClick(&dialog, Qt::Key_Control, Qt::ControlModifier);
  QTest::keyClick(&dialog, Qt::Key_Alt, Qt::AltModifier);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.key().has_value());

  QTest::keyClick(&dialog, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.key(), kKeyCtrl | kKeyShift | 'K');
}

TEST(KeyChangeDialog, TakesSpaceAndTabWhichADialogWouldUseItself) {
  for (Qt::Key qt_key : {Qt::Key_Space, Qt::Key_Tab}) {
    KeyChangeDialog dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, qt_key);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.key(), qt_key == Qt::Key_Space ? VK_SPACE : VK_TAB);
  }
}

TEST(KeyChangeDialog, EnterGoesOnToTheDefaultButton) {
  bool open_after_esc = false;
  bool closed_by_enter = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<KeyChangeDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    QTest::keyClick(dialog, Qt::Key_Escape);  // ignored: the dialog stays
    open_after_esc = dialog->isVisible();
    QTest::keyClick(dialog, Qt::Key_Return);
    closed_by_enter = !dialog->isVisible();
    if (!closed_by_enter) dialog->done(QDialog::Accepted);  // never hang on a fault
  });
  EXPECT_EQ(CaptureKey(nullptr), std::nullopt);
  EXPECT_TRUE(open_after_esc);
  EXPECT_TRUE(closed_by_enter);
}

TEST(KeyChangeDialog, CaptureKeyReturnsTheKeyPressed) {
  QTimer::singleShot(0, [] {
    QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Plus,
                    Qt::ControlModifier | Qt::KeypadModifier);
  });
  const auto key = CaptureKey(nullptr);
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(*key, kKeyCtrl | VK_ADD);
  EXPECT_EQ(KeyText(*key), "Ctrl+Num +");
}

TEST(KeyCodes, QtKeysAndKeyCodesConvertBothWays) {
  const std::int32_t codes[] = {
      'A', kKeyCtrl | 'Z', '0', kKeyAlt | '9', VK_F1, kKeyShift | VK_F12, VK_F24, VK_ESCAPE,
      VK_SPACE, VK_HOME, VK_END, VK_LEFT, VK_RIGHT, VK_DELETE, VK_INSERT, VK_PRIOR, VK_NEXT,
      VK_RETURN, VK_TAB, VK_BACK, kKeyCtrl | VK_ADD, kKeyCtrl | VK_SUBTRACT, VK_MULTIPLY,
      VK_DIVIDE, VK_DECIMAL, VK_NUMPAD0, VK_NUMPAD0 + 9, VK_OEM_1, VK_OEM_PLUS, VK_OEM_MINUS,
      VK_OEM_7, VK_OEM_102, kKeyCtrl | kKeyAlt | kKeyShift | 'Q'};
  for (const std::int32_t code : codes) {
    const QKeyCombination combination = QtKeyOfKeyCode(code);
    ASSERT_NE(combination.key(), Qt::Key_unknown) << KeyName(code);
    const QKeyEvent event(QEvent::KeyPress, combination.key(), combination.keyboardModifiers());
    EXPECT_EQ(KeyCodeOfEvent(event), code) << KeyName(code);
  }
  // Keypad digits and signs differ from the main keyboard's.
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_5, true), VK_NUMPAD0 + 5);
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_5, false), '5');
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Minus, true), VK_SUBTRACT);
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Minus, false), VK_OEM_MINUS);
  // Keypad navigation (NumLock off) acts as the main keys.
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Home, true), VK_HOME);
  // Shift+3 arrives as "#" (US) or "§" (German), Shift+0 as ")" or "=": the key's place
  // decides.
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Exclam, false, 10), '1');
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_paragraph, false, 12), '3');
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Equal, false, 19), '0');
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_Equal, false, 0), VK_OEM_PLUS);
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_paragraph, false, 0), 0);
  EXPECT_EQ(VirtualKeyOfQtKey(Qt::Key_unknown, false, 40), 0);
}

}  // namespace
}  // namespace sonavel
