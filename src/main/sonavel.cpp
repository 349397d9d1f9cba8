// The editor.

#include <QApplication>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_integration.h"
#include "gui/main_window.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/block_table.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Sonavel");
  QApplication::setOrganizationName("Halvorn Audio");
  QApplication::setApplicationVersion(SONAVEL_VERSION);
  const std::vector<std::string> arguments(argv, argv + argc);

  int result = 0;
  {
    sonavel::Registry registry;
    sonavel::Settings settings(registry);
    sonavel::ChooseWorkingFolder(settings);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
      // Installation: the desktop entry, its actions and MIME types.
      if (QString::fromStdString(arguments[i]).compare("-install", Qt::CaseInsensitive) == 0)
        sonavel::RegisterShellVerbs(settings, sonavel::OwnExecutablePath());
    }
    sonavel::MainWindow window(settings);
    sonavel::ProcessCommandLine(arguments, window);
    if (!window.exit_requested()) result = QApplication::exec();
  }
  // Every document is gone: what block files remain are left-overs.
  sonavel::CleanWorkingFolder();
  return result;
}
