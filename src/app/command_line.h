#pragma once
// The command line: processed once at start-up and again for every argument block a
// second instance forwards. Options are compared without regard to case; everything else
// is a file to open (".snp": a project).

#include <string>
#include <vector>

namespace sonavel {

// What the command line asks of the main frame.
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // Shows the frame as it is (maximised or restored) and brings it to the front.
  virtual void ShowFrame() = 0;
  virtual void SaveActive() = 0;
  virtual void SaveActiveAs(const std::string& path) = 0;
  virtual void CloseActive() = 0;
  virtual void ExitProgram() = 0;
  virtual void ShowMinimized() = 0;
  virtual void ShowMaximized() = 0;
  virtual void ShowRestored() = 0;
  // Sizes the frame so that its client area is width × height.
  virtual void SizeClientArea(int width, int height) = 0;
  virtual void RunBatchScript(const std::string& path) = 0;
  virtual void OpenBatchWindow() = 0;
  // True when the document opened.
  virtual bool OpenDocument(const std::string& path) = 0;
  virtual bool LoadProject(const std::string& path) = 0;
  // The start-up splash window, removed after 7 seconds.
  virtual void ShowSplash() = 0;
};

// `arguments` as the program got them: the first is the program path and is skipped.
void ProcessCommandLine(const std::vector<std::string>& arguments, CommandTarget& target);

// Whether `path` names a project: its extension is ".snp" (ignoring case).
bool IsProjectPath(const std::string& path);

}  // namespace sonavel
