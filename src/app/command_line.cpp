#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "platform/settings.h"

namespace sonavel {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Opens every non-empty line of a list file; false when the file cannot be read.
bool OpenList(const std::string& path, CommandTarget& target, bool& opened) {
  std::ifstream list(path);
  if (!list) return false;
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) opened |= target.OpenDocument(line);
  }
  return true;
}

}  // namespace

bool IsProjectPath(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::size_t dot = path.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
         Lower(path.substr(dot)) == ".snp";
}

void ProcessCommandLine(const std::vector<std::string>& arguments, CommandTarget& target) {
  target.ShowFrame();
  bool opened = false;
  bool quiet = false;  // an argument that makes the splash window unwanted
  const std::size_t count = arguments.size();
  for (std::size_t i = 1; i < count; ++i) {
    const std::string option = Lower(arguments[i]);
    if (option == "-block" || option == "-install") continue;
    if (option == "-runedit") {
      quiet = true;
    } else if (option == "-save") {
      target.SaveActive();
    } else if (option == "-saveas") {
      if (i + 1 < count) target.SaveActiveAs(arguments[++i]);
    } else if (option == "-close") {
      target.CloseActive();
    } else if (option == "-exit") {
      target.ExitProgram();
    } else if (option == "-minimize") {
      quiet = true;
      target.ShowMinimized();
    } else if (option == "-maximize") {
      quiet = true;
      target.ShowMaximized();
    } else if (option == "-restore") {
      quiet = true;
      target.ShowRestored();
    } else if (option == "-window") {
      quiet = true;
      if (i + 2 < count) {
        target.SizeClientArea(TextToInt(arguments[i + 1]), TextToInt(arguments[i + 2]));
        i += 2;
      }
    } else if (option == "-batch") {
      if (i + 1 < count) {
        if (arguments[i + 1].empty())
          target.OpenBatchWindow();
        else
          target.RunBatchScript(arguments[i + 1]);
      }
      break;  // whatever follows is not processed
    } else if (option == "-list") {
      if (i + 1 < count) {
        const std::string& list = arguments[++i];
        // An option in its place, or a list that cannot be read, is passed over.
        if (list.empty() || list.front() != '-') {
          if (OpenList(list, target, opened)) break;
        }
      }
    } else if (IsProjectPath(arguments[i])) {
      opened |= target.LoadProject(arguments[i]);
    } else if (!arguments[i].empty()) {
      opened |= target.OpenDocument(arguments[i]);
    }
  }
  if (!opened && !quiet) target.ShowSplash();
}

}  // namespace sonavel
