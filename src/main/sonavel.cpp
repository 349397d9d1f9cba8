// The editor.

#include <QApplication>

#include "gui/main_window.h"
#include "platform/settings.h"
#include "store/block_table.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Sonavel");
  QApplication::setOrganizationName("Halvorn Audio");

  int result = 0;
  {
    // Settings are read through the registry once it exists; until then the defaults hold.
    sonavel::DefaultSettings settings;
    sonavel::ChooseWorkingFolder(settings);
    sonavel::MainWindow window;
    window.show();
    result = QApplication::exec();
  }
  // Every document is gone: what block files remain are left-overs.
  sonavel::CleanWorkingFolder();
  return result;
}
