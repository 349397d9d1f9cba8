#include "platform/ui.h"

#include <cstdio>

namespace sonavel {

MessageAnswer SafeAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::kOk: return MessageAnswer::kOk;
    case MessageButtons::kYesNo: return MessageAnswer::kNo;
    case MessageButtons::kAbortRetryIgnore: return MessageAnswer::kAbort;
    case MessageButtons::kOkCancel:
    case MessageButtons::kYesNoCancel:
    case MessageButtons::kRetryCancel: return MessageAnswer::kCancel;
  }
  return MessageAnswer::kCancel;
}

MessageAnswer ScriptedUi::ShowMessage(const Message& message) {
  shown_.push_back(message);
  if (answers_.empty()) return SafeAnswer(message.buttons);
  MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

MessageAnswer ConsoleUi::ShowMessage(const Message& message) {
  if (message.caption.empty())
    std::fprintf(stderr, "%s\n", message.text.c_str());
  else
    std::fprintf(stderr, "%s: %s\n", message.caption.c_str(), message.text.c_str());
  return SafeAnswer(message.buttons);
}

}  // namespace sonavel
