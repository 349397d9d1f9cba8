#include "gui/main_window.h"

#include <QLabel>
#include <QMdiArea>
#include <QStatusBar>
#include <QTimer>

#include "store/block_table.h"

namespace sonavel {

QString FreeSpaceText(std::uint32_t free_kb) {
  return QString::asprintf("Freier Speicher: %5.2f MB", static_cast<double>(free_kb) / 1024.0);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      ui_(this),
      documents_(new QMdiArea(this)),
      free_space_(new QLabel(this)),
      refresh_(new QTimer(this)) {
  setObjectName("LMMWC");
  setWindowTitle("Sonavel");
  resize(740, 627);
  documents_->setViewMode(QMdiArea::SubWindowView);
  documents_->setBackground(palette().brush(QPalette::Dark));
  setCentralWidget(documents_);

  statusBar()->addPermanentWidget(free_space_);
  RefreshFreeSpace();
  connect(refresh_, &QTimer::timeout, this, &MainWindow::RefreshFreeSpace);
  refresh_->start(5000);
}

void MainWindow::RefreshFreeSpace() {
  free_space_->setText(FreeSpaceText(WorkingFolderFreeKB()));
}

}  // namespace sonavel
