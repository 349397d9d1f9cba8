#include "document/document_list.h"

#include <algorithm>
#include <cctype>

#include "platform/ui.h"

namespace sonavel {

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

void DocumentList::Remove(const AudioDocument* document) {
  std::erase_if(documents_, [document](const DocumentRef& held) { return held.get() == document; });
}

int DocumentList::UntitledNumber() const {
  for (int n = 1; n <= 19; ++n) {
    const std::string name = "Unbenannt " + std::to_string(n);
    const bool taken = std::any_of(documents_.begin(), documents_.end(), [&name](const DocumentRef& document) {
      return SameIgnoringCase(DisplayTitle(*document), name);
    });
    if (!taken) return n;
  }
  return 1;
}

DocumentRef DocumentList::DocumentFromSound(Sound sound, std::string path) {
  if (path.empty()) path = "Unbenannt " + std::to_string(UntitledNumber());
  DocumentRef document = MakeCounted<AudioDocument>(sound.rate, sound.channels, std::move(path));
  document->sound = std::move(sound);
  document->state.modified = 1;
  document->state.view_start = 0;
  document->state.view_end = SoundLength(document->sound);
  RefreshAfterSoundChange(*document);
  Add(document);
  return document;
}

bool ConfirmClose(AudioDocument& document, Ui& ui, const std::function<bool(AudioDocument&)>& save) {
  if (document.state.modified == 0 && !IsUntitled(document)) return true;
  const MessageAnswer answer =
      ui.ShowMessage({"Speichere Änderungen in \"" + DisplayTitle(document) + "\"?", "Sonavel",
                      MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
  if (answer == MessageAnswer::kCancel) return false;
  // A save that fails or is cancelled keeps the document, and its changes, open.
  if (answer == MessageAnswer::kYes) return save && save(document);
  return true;
}

}  // namespace sonavel
