#include "gui/frame_projects.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include "app/command_ids.h"
#include "gui/document_window.h"
#include "gui/main_window.h"
#include "gui/region_list_window.h"

namespace sonavel {

std::vector<DocumentRef> FrameProjects::Documents() const { return frame_.document_list().documents(); }

RegionList& FrameProjects::Regions() { return frame_.regions(); }

void FrameProjects::StopPlayback() { frame_.transport().Stop(); }

void FrameProjects::DiscardAllDocuments() {
  for (QMdiSubWindow* window : frame_.documents()->subWindowList())
    if (auto* document_window = qobject_cast<DocumentWindow*>(window)) document_window->Discard();
}

void FrameProjects::ShowDocument(const DocumentRef& document) {
  frame_.document_list().Add(document);
  frame_.AddDocumentWindow(document);
}

void FrameProjects::PlayActive() { frame_.Dispatch(command_id::kPlay); }

void FrameProjects::RegionsReplaced() { FrameOf(frame_).regions_changed(false); }

void FrameProjects::ProjectPathChanged() { frame_.setWindowTitle(QString::fromStdString(commands_.FrameTitle())); }

}  // namespace sonavel
