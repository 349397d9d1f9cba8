#pragma once
// The frame's project commands: open, save, save as and close a ".snp" project, with their
// questions, dialogs and messages. The frame's windows are reached through ProjectFrame, so
// the commands run the same under the editor and under a test's scripted Ui.

#include <string>
#include <vector>

#include "document/audio_document.h"
#include "document/bookmarks.h"
#include "document/project_file.h"
#include "platform/ui.h"

namespace sonavel {

class Settings;

// What the project commands ask of the main frame.
class ProjectFrame {
 public:
  virtual ~ProjectFrame() = default;
  // The open documents, in the frame's list order.
  virtual std::vector<DocumentRef> Documents() const = 0;
  virtual RegionList& Regions() = 0;
  virtual void StopPlayback() = 0;
  // Closes every document window without asking: the project's question came before.
  virtual void DiscardAllDocuments() = 0;
  // Adds a loaded document to the frame's list and opens a window on it.
  virtual void ShowDocument(const DocumentRef& document) = 0;
  // Plays the active document as the play command does.
  virtual void PlayActive() = 0;
  // The project path changed: the frame shows ProjectCommands::FrameTitle().
  virtual void ProjectPathChanged() = 0;
  // The region list was replaced or emptied: an open region list shows it again.
  virtual void RegionsReplaced() = 0;
};

// The frame's current project and the commands on it. Paths compare exactly, as file
// names on Linux do.
class ProjectCommands {
 public:
  ProjectCommands(ProjectFrame& frame, Ui& ui, Settings& settings) : frame_(frame), ui_(ui), settings_(settings) {}

  // Empty until a project was opened or saved as.
  const std::string& path() const { return path_; }
  // "Sonavel", followed by " - " and the project's file name once there is one.
  std::string FrameTitle() const;

  // "Projekt öffnen...": the chooser, then OpenProjectFile. True when a project was opened.
  bool Open();
  // Opens the project at `path` (the chooser's answer, the command line, a drop): nothing
  // when it is the current one; else, after the question whether to save the current one,
  // the project is loaded whole, and only then replaces the frame's documents and regions.
  // A load that fails or is cancelled leaves the frame as it was.
  bool OpenProjectFile(const std::string& path);
  // "Projekt speichern": stops playback; an empty project is saved only when the user says
  // so; without a path it is Save As.
  bool Save();
  // "Projekt speichern als...": the save chooser (asking before a project is replaced),
  // then the save; the chosen path becomes the project's path even when the save failed.
  bool SaveAs();
  // "Projekt schliessen": the question whether to save, then every document and region
  // goes and the path is cleared.
  bool Close();

 private:
  // The question before the current project goes: true to go on (after saving on Yes).
  bool AskToSaveCurrent();
  // Writes the frame's documents and regions to `path` in the progress window; on success
  // the documents are no longer modified. The failure's reason in `error`.
  Result Write(const std::string& path, std::string& error);
  // Replaces the frame's documents and regions with the loaded ones.
  void Show(Project& project);

  ProjectFrame& frame_;
  Ui& ui_;
  Settings& settings_;
  std::string path_;
};

// A loaded project document as an editor document: its stored path (only the file name of
// one that is no absolute path here, so that saving asks where to), positions limited to its
// sound (an empty or broken view shows the whole sound), its bookmarks, not modified.
DocumentRef DocumentFromProject(ProjectDocument& stored);

}  // namespace sonavel
