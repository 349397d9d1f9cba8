#include "app/project_commands.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "formats/open_file.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {

namespace {

constexpr char kProduct[] = "Sonavel";
constexpr char kFilter[] = "Sonavel Project (*.snp)";
constexpr char kExtension[] = ".snp";

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
std::string FolderOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// A chosen name without an extension gets ".snp".
std::string WithExtension(std::string path) {
  if (FileExtension(path).empty()) path += kExtension;
  return path;
}

// The verbatim message of a failed command, followed by the reason when there is one.
void TellFailure(Ui& ui, const std::string& text, const std::string& reason) {
  ui.ShowMessage({reason.empty() ? text : text + "\n\n" + reason, kProduct, MessageIcon::kError, MessageButtons::kOk});
}

}  // namespace

DocumentRef DocumentFromProject(ProjectDocument& stored) {
  // A folder that is no absolute path here (a project from another system, "C:\Musik\a.wav")
  // would make a save write beside the program's current folder: the document keeps its
  // file name only, and saving it asks where to.
  std::string path = stored.path;
  if (const std::size_t folder = path.find_last_of("/\\"); folder != std::string::npos && !path.starts_with('/'))
    path.erase(0, folder + 1);
  DocumentRef document = MakeCounted<AudioDocument>(stored.audio.rate, stored.audio.channels, path);
  document->sound = std::move(stored.audio);
  const std::int32_t length = SoundLength(document->sound);
  const auto limit = [length](std::int32_t frame) { return std::clamp(frame, 0, length); };
  EditState& state = document->state;
  state.selection_start = limit(std::min(stored.selection_start, stored.selection_end));
  state.selection_end = limit(std::max(stored.selection_start, stored.selection_end));
  state.cursor = limit(stored.cursor);
  state.view_start = limit(stored.view_start);
  state.view_end = limit(stored.view_end);
  if (state.view_end <= state.view_start) {
    state.view_start = 0;
    state.view_end = length;
  }
  RefreshAfterSoundChange(*document);
  // Added one by one, so they come sorted whatever order the file held.
  for (Bookmark& mark : stored.bookmarks) document->bookmarks.Add(std::move(mark));
  state.modified = 0;
  return document;
}

std::string ProjectCommands::FrameTitle() const {
  return path_.empty() ? kProduct : std::string(kProduct) + " - " + FileNameOf(path_);
}

bool ProjectCommands::Open() {
  const std::optional<std::string> chosen =
      ui_.ChooseOpenFile("Projekt öffnen", kFilter, settings_.Read(setting::kOpenProjectDir));
  if (!chosen) return false;
  std::error_code ignored;
  const std::string path = std::filesystem::exists(*chosen, ignored) ? *chosen : WithExtension(*chosen);
  settings_.Write(setting::kOpenProjectDir, FolderOf(path));
  return OpenProjectFile(path);
}

bool ProjectCommands::AskToSaveCurrent() {
  if (frame_.Documents().empty() && frame_.Regions().regions().empty()) return true;
  const MessageAnswer answer = ui_.ShowMessage(
      {"Änderungen im aktuellen Projekt speichern?", kProduct, MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
  if (answer == MessageAnswer::kCancel) return false;
  // A save that fails or is cancelled keeps the current project: nothing is thrown away.
  return answer != MessageAnswer::kYes || Save();
}

bool ProjectCommands::OpenProjectFile(const std::string& path) {
  if (!path_.empty() && path == path_) return false;
  if (!AskToSaveCurrent()) return false;
  Project project;
  std::string error;
  Result result;
  {
    std::unique_ptr<Progress> progress = ui_.OpenProgress("Lade Projekt");
    result = LoadProjectFile(path, project, *progress, error);
  }
  if (result != kDone) {
    if (result == kFailed)
      TellFailure(ui_,
                  "Sonavel Kann Projekt nicht laden. Das Projekt könnte unlesbar oder beschädigt sein. Bitte "
                  "versuchen sie es noch einmal.",
                  error);
    return false;
  }
  Show(project);
  path_ = path;
  frame_.ProjectPathChanged();
  if (!frame_.Documents().empty() && settings_.Read(setting::kPlayWhenOpen)) frame_.PlayActive();
  return true;
}

void ProjectCommands::Show(Project& project) {
  frame_.StopPlayback();
  frame_.DiscardAllDocuments();
  RegionList& regions = frame_.Regions();
  regions.Clear();
  for (ProjectDocument& stored : project.documents) frame_.ShowDocument(DocumentFromProject(stored));
  for (ProjectRegion& stored : project.regions)
    regions.Append({std::move(stored.audio), std::move(stored.name), std::move(stored.source_title), stored.start,
                    stored.end});
  frame_.RegionsReplaced();
}

Result ProjectCommands::Write(const std::string& path, std::string& error) {
  Project project;
  const std::vector<DocumentRef> documents = frame_.Documents();
  for (const DocumentRef& document : documents) {
    ProjectDocument& stored = project.documents.emplace_back();
    const EditState& state = document->state;
    stored.path = document->path;
    stored.cursor = state.cursor;
    stored.selection_start = state.selection_start;
    stored.selection_end = state.selection_end;
    stored.view_start = state.view_start;
    stored.view_end = state.view_end;
    stored.bookmarks = document->bookmarks.bookmarks();
    CopySound(document->sound, stored.audio);  // shares the blocks
  }
  for (const Region& region : frame_.Regions().regions()) {
    ProjectRegion& stored = project.regions.emplace_back(
        ProjectRegion{region.name, region.source_title, region.start, region.end, Sound()});
    CopySound(region.audio, stored.audio);
  }
  Result result;
  {
    std::unique_ptr<Progress> progress = ui_.OpenProgress("Speichere Projekt");
    result = SaveProject(project, path, *progress, error);
  }
  // Only a complete project takes the documents' changes off their conscience.
  if (result == kDone) {
    for (const DocumentRef& document : documents) {
      if (document->state.modified == 0) continue;
      document->state.modified = 0;
      document->Notify(kModifiedChanged);
    }
  }
  return result;
}

bool ProjectCommands::Save() {
  frame_.StopPlayback();
  if (frame_.Documents().empty() &&
      ui_.ShowMessage({"Dieses Projekt enthält keine Datei. Möchten sie mit dem Speichern fortfahren?", kProduct,
                       MessageIcon::kQuestion, MessageButtons::kYesNo}) != MessageAnswer::kYes)
    return false;
  if (path_.empty()) return SaveAs();
  std::string error;
  const Result result = Write(path_, error);
  if (result == kFailed) TellFailure(ui_, "Sonavel konnte Projekt nicht öffnen.", error);
  return result == kDone;
}

bool ProjectCommands::SaveAs() {
  std::string path;
  for (;;) {
    const std::string suggested = JoinPath(settings_.Read(setting::kSaveProjectAsDir), FileNameOf(path_));
    const std::optional<std::string> chosen = ui_.ChooseSaveFile("Speichere Projekt als", kFilter, suggested);
    if (!chosen) return false;
    path = WithExtension(*chosen);
    settings_.Write(setting::kSaveProjectAsDir, FolderOf(path));
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) break;
    const MessageAnswer answer = ui_.ShowMessage(
        {"Es existiert bereits ein anderes Projekt mit dem selben Namen. Möchten sie dieses erstezen?", kProduct,
         MessageIcon::kQuestion, MessageButtons::kYesNoCancel});
    if (answer == MessageAnswer::kCancel) return false;
    if (answer == MessageAnswer::kYes) break;
  }
  frame_.StopPlayback();
  std::string error;
  const Result result = Write(path, error);
  if (result == kFailed) TellFailure(ui_, "Sonavel could not save the project.", error);
  path_ = path;
  frame_.ProjectPathChanged();
  return result == kDone;
}

bool ProjectCommands::Close() {
  if (!AskToSaveCurrent()) return false;
  frame_.StopPlayback();
  frame_.DiscardAllDocuments();
  frame_.Regions().Clear();
  frame_.RegionsReplaced();
  path_.clear();
  frame_.ProjectPathChanged();
  return true;
}

}  // namespace sonavel
