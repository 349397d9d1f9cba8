#pragma once
// The editor's main window: the frame that will hold the document windows.

#include <QMainWindow>

#include "gui/qt_ui.h"

class QLabel;
class QMdiArea;
class QTimer;

namespace sonavel {

class MainWindow final : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);

  Ui& ui() { return ui_; }
  QMdiArea* documents() const { return documents_; }
  // Shows the free space of the working folder's file system in the status bar.
  void RefreshFreeSpace();

 private:
  QtUi ui_;
  QMdiArea* documents_;
  QLabel* free_space_;
  QTimer* refresh_;
};

// The status bar text for `free_kb` kilobytes: "Freier Speicher: %5.2f MB".
QString FreeSpaceText(std::uint32_t free_kb);

}  // namespace sonavel
