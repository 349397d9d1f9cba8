#pragma once
// The open documents of the main frame, their untitled names, and the question about
// unsaved changes before one closes. New and opened documents come from the file commands.

#include <functional>
#include <string>
#include <vector>

#include "document/audio_document.h"

namespace sonavel {

class Ui;

class DocumentList {
 public:
  const std::vector<DocumentRef>& documents() const { return documents_; }
  void Add(const DocumentRef& document) { documents_.push_back(document); }
  void Remove(const AudioDocument* document);

  // The first of "Unbenannt 1" … "Unbenannt 19" no open document is called (ignoring
  // case); 1 when all are taken.
  int UntitledNumber() const;

  // A new document holding `sound` (its format included), marked modified and showing the
  // whole sound; untitled unless `path` names it.
  DocumentRef DocumentFromSound(Sound sound, std::string path = {});

 private:
  std::vector<DocumentRef> documents_;
};

// Before a document closes: unless it is saved and named, asks "Speichere Änderungen in
// \"%s\"?". Yes saves through `save` (false from it keeps the document open).
bool ConfirmClose(AudioDocument& document, Ui& ui, const std::function<bool(AudioDocument&)>& save);

}  // namespace sonavel
