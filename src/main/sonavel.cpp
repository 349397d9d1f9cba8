// The editor.

#include <QApplication>
#include <QProcess>
#include <QStringList>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/desktop_integration.h"
#include "app/instance_block.h"
#include "gui/main_window.h"
#include "gui/single_instance.h"
#include "gui/translations.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "store/block_table.h"
#include "document/working_folder.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Sonavel");
  QApplication::setOrganizationName("Halvorn Audio");
  QApplication::setApplicationVersion(SONAVEL_VERSION);
  sonavel::InstallGermanTranslations(app);
  const std::vector<std::string> arguments(argv, argv + argc);

  // One editor per user: a running one gets our arguments and we end without a window.
  // A start with arguments of its own launches the program anew with "-block" appended
  // and ends; should that launch fail, this start carries on by itself.
  sonavel::SingleInstance instance;
  if (instance.TryForward(arguments)) return 0;
  // A running editor answered but did not take the arguments: this start carries on by
  // itself at once (a relaunch would only hand them over again) and shows no splash.
  const bool hand_over_failed = instance.reached_running();
  if (!hand_over_failed && sonavel::NeedsRelaunch(arguments)) {
    instance.Release();
    const std::vector<std::string> relaunch = sonavel::RelaunchArguments(arguments);
    QStringList relaunch_arguments;
    for (std::size_t i = 1; i < relaunch.size(); ++i)
      relaunch_arguments << QString::fromStdString(relaunch[i]);
    if (QProcess::startDetached(QApplication::applicationFilePath(), relaunch_arguments)) return 0;
  }

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
    instance.Listen([&window](const std::vector<std::string>& forwarded) {
      sonavel::ProcessCommandLine(forwarded, window);
    });
    if (hand_over_failed) window.SuppressSplash();
    sonavel::ProcessCommandLine(arguments, window);
    if (!window.exit_requested()) result = QApplication::exec();
  }
  // Every document is gone: what block files remain are left-overs.
  sonavel::CleanWorkingFolder();
  return result;
}
