#include "gui/key_change_dialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/hotkeys.h"
#include "gui/key_codes.h"

namespace sonavel {

KeyChangeDialog::KeyChangeDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("LKeyChangeDlg");
  setWindowTitle("Taste ändern");
  prompt_ = new QLabel("Drücken Sie die neue Taste, auf Wunsch zusammen mit Strg, Alt oder "
                       "Umschalt.",
                       this);
  prompt_->setWordWrap(true);
  auto* cancel = new QPushButton("Abbrechen", this);
  cancel->setObjectName("cancel");
  cancel->setDefault(true);
  // The button never takes the focus: every key, Space and Tab too, comes to the dialog.
  cancel->setFocusPolicy(Qt::NoFocus);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt_);
  layout->addWidget(cancel, 0, Qt::AlignRight);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumWidth(300);
}

bool KeyChangeDialog::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
    auto* key_event = static_cast<QKeyEvent*>(event);
    if (TakeKey(*key_event)) {
      // Also keeps the key from running a shortcut of the window behind.
      key_event->accept();
      if (event->type() == QEvent::KeyPress && key_) accept();
      return true;
    }
  }
  return QDialog::event(event);
}

bool KeyChangeDialog::TakeKey(const QKeyEvent& key_event) {
  const int qt_key = key_event.key();
  if (qt_key == Qt::Key_Return || qt_key == Qt::Key_Enter) return false;
  if (key_event.type() == QEvent::ShortcutOverride) return true;
  const std::int32_t key = KeyCodeOfEvent(key_event);
  const std::int32_t virtual_key = key & kVirtualKeyMask;
  if (virtual_key == 0 || virtual_key == VK_ESCAPE || IsModifierKey(virtual_key)) return true;
  key_ = key;
  return true;
}

std::optional<std::int32_t> CaptureKey(QWidget* parent) {
  KeyChangeDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.key();
}

}  // namespace sonavel
