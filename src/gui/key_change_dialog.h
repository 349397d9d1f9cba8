#pragma once
// "LKeyChangeDlg": waits for the key the user wants for a command. Enter goes on to the
// dialog (its default button closes it without a key); the modifier keys alone and Esc are
// ignored; any other key, with the modifiers held, is taken and closes the dialog.

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;

namespace sonavel {

class KeyChangeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit KeyChangeDialog(QWidget* parent = nullptr);

  // The key taken, once one was.
  std::optional<std::int32_t> key() const { return key_; }

 protected:
  bool event(QEvent* event) override;

 private:
  // True when the key press is the dialog's own (taken or ignored), false when it goes on.
  bool TakeKey(const QKeyEvent& key_event);

  QLabel* prompt_ = nullptr;
  std::optional<std::int32_t> key_;
};

// Shows the dialog modally; the key taken, or nothing when the user closed it without one.
std::optional<std::int32_t> CaptureKey(QWidget* parent);

}  // namespace sonavel
