#include "gui/qt_ui.h"

#include <QMessageBox>
#include <QString>

namespace sonavel {

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: return QMessageBox::Warning;
    case MessageIcon::kError: return QMessageBox::Critical;
    case MessageIcon::kQuestion: return QMessageBox::Question;
    case MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk: return QMessageBox::Ok;
    case MessageButtons::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::kYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case MessageButtons::kAbortRetryIgnore:
      return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

// The first button is the default, as in the platform's own message boxes.
QMessageBox::StandardButton DefaultButton(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk:
    case MessageButtons::kOkCancel: return QMessageBox::Ok;
    case MessageButtons::kYesNo:
    case MessageButtons::kYesNoCancel: return QMessageBox::Yes;
    case MessageButtons::kRetryCancel: return QMessageBox::Retry;
    case MessageButtons::kAbortRetryIgnore: return QMessageBox::Abort;
  }
  return QMessageBox::Ok;
}

}  // namespace

MessageAnswer QtUi::ShowMessage(const Message& message) {
  QMessageBox box(ToQt(message.icon), QString::fromStdString(message.caption),
                  QString::fromStdString(message.text), ToQt(message.buttons), parent_);
  box.setDefaultButton(DefaultButton(message.buttons));
  // Closing the box with Escape or the title bar gives the safe answer.
  const int chosen = box.exec();
  switch (chosen) {
    case QMessageBox::Ok: return MessageAnswer::kOk;
    case QMessageBox::Yes: return MessageAnswer::kYes;
    case QMessageBox::No: return MessageAnswer::kNo;
    case QMessageBox::Retry: return MessageAnswer::kRetry;
    case QMessageBox::Abort: return MessageAnswer::kAbort;
    case QMessageBox::Ignore: return MessageAnswer::kIgnore;
    case QMessageBox::Cancel: return MessageAnswer::kCancel;
    default: return SafeAnswer(message.buttons);
  }
}

}  // namespace sonavel
