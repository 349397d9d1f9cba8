#pragma once
// The editor's main window: the frame that holds the document windows.

#include <QMainWindow>

#include "app/command_line.h"
#include "gui/qt_ui.h"

class QLabel;
class QMdiArea;
class QTimer;

namespace sonavel {

class Settings;

class MainWindow final : public QMainWindow, public CommandTarget {
  Q_OBJECT

 public:
  // Takes its placement from the settings; writes it back when it closes.
  explicit MainWindow(Settings& settings, QWidget* parent = nullptr);

  Ui& ui() { return ui_; }
  QMdiArea* documents() const { return documents_; }
  // Shows the free space of the working folder's file system in the status bar.
  void RefreshFreeSpace();
  QWidget* splash() const { return splash_; }

  // What the command line asks of the frame.
  void ShowFrame() override;
  void SaveActive() override {}   // with no document open there is nothing to save
  void SaveActiveAs(const std::string&) override {}
  void CloseActive() override {}
  // Closes the frame and ends the event loop; asked before the loop runs, it leaves
  // exit_requested() set instead.
  void ExitProgram() override;
  bool exit_requested() const { return exit_requested_; }
  void ShowMinimized() override { showMinimized(); }
  void ShowMaximized() override { showMaximized(); }
  void ShowRestored() override { showNormal(); }
  void SizeClientArea(int width, int height) override;
  void RunBatchScript(const std::string&) override {}
  void OpenBatchWindow() override {}
  bool OpenDocument(const std::string&) override { return false; }
  bool LoadProject(const std::string&) override { return false; }
  void ShowSplash() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Settings& settings_;
  QtUi ui_;
  QMdiArea* documents_;
  QLabel* free_space_;
  QTimer* refresh_;
  QWidget* splash_ = nullptr;
  bool start_maximized_ = true;
  bool exit_requested_ = false;
};

// The status bar text for `free_kb` kilobytes: "Freier Speicher: %5.2f MB".
QString FreeSpaceText(std::uint32_t free_kb);

}  // namespace sonavel
