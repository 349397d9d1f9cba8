#pragma once
// The main frame as the project commands see it: its documents, windows, regions,
// playback and title.

#include "app/project_commands.h"

namespace sonavel {

class MainWindow;
class Settings;
class Ui;

class FrameProjects final : public ProjectFrame {
 public:
  FrameProjects(MainWindow& frame, Ui& ui, Settings& settings) : frame_(frame), commands_(*this, ui, settings) {}

  ProjectCommands& commands() { return commands_; }

  std::vector<DocumentRef> Documents() const override;
  RegionList& Regions() override;
  void StopPlayback() override;
  void DiscardAllDocuments() override;
  void ShowDocument(const DocumentRef& document) override;
  void PlayActive() override;
  void ProjectPathChanged() override;
  void RegionsReplaced() override;

 private:
  MainWindow& frame_;
  ProjectCommands commands_;
};

}  // namespace sonavel
