#pragma once
// The open documents of the main frame, and the ways a document comes and goes: new,
// opened from a file, closed after the question about unsaved changes.

#include <functional>
#include <string>
#include <vector>

#include "document/audio_document.h"

namespace sonavel {

class Progress;
class Settings;
class Ui;

class DocumentList {
 public:
  const std::vector<DocumentRef>& documents() const { return documents_; }
  void Add(const DocumentRef& document) { documents_.push_back(document); }
  void Remove(const AudioDocument* document);

  // The first of "Unbenannt 1" … "Unbenannt 19" no open document is called (ignoring
  // case); 1 when all are taken.
  int UntitledNumber() const;

  // A new empty document, after the new-file dialog when "PromptSampleAndChannels" is on;
  // null when the dialog was cancelled.
  DocumentRef NewDocument(Ui& ui, Settings& settings);
  // A new untitled document holding `sound` (its format included), marked modified and
  // showing the whole sound.
  DocumentRef DocumentFromSound(Sound sound);
  // A document holding the file; null (after the message) when it could not be loaded.
  DocumentRef OpenDocument(const std::string& path, Ui& ui, Progress& progress);

 private:
  std::vector<DocumentRef> documents_;
};

// The new-file dialog: "Neue Datei" edits "SelectedSampleRate"/"SelectedChannels",
// "Voreinstellungen setzen" (`defaults`) edits "DefaultSampleRate"/"DefaultChannels".
// A rate outside 6000 … 96000 is refused and the dialog shown again. False when cancelled.
bool RunNewFileDialog(Ui& ui, Settings& settings, bool defaults);

// Before a document closes: unless it is saved and named, asks "Speichere Änderungen in
// \"%s\"?". Yes saves through `save` (false from it keeps the document open).
bool ConfirmClose(AudioDocument& document, Ui& ui, const std::function<bool(AudioDocument&)>& save);

}  // namespace sonavel
