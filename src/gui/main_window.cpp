#include "gui/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "app/placement.h"
#include "platform/settings.h"
#include "store/block_table.h"

namespace sonavel {

QString FreeSpaceText(std::uint32_t free_kb) {
  return QString::asprintf("Freier Speicher: %5.2f MB", static_cast<double>(free_kb) / 1024.0);
}

MainWindow::MainWindow(Settings& settings, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      ui_(this),
      documents_(new QMdiArea(this)),
      free_space_(new QLabel(this)),
      refresh_(new QTimer(this)) {
  setObjectName("LMMWC");
  setWindowTitle("Sonavel");
  documents_->setViewMode(QMdiArea::SubWindowView);
  documents_->setBackground(palette().brush(QPalette::Dark));
  setCentralWidget(documents_);

  const FramePlacement placement = RestoreFramePlacement(settings_);
  setGeometry(placement.x, placement.y, placement.width, placement.height);
  start_maximized_ = placement.maximized;

  statusBar()->addPermanentWidget(free_space_);
  RefreshFreeSpace();
  connect(refresh_, &QTimer::timeout, this, &MainWindow::RefreshFreeSpace);
  refresh_->start(5000);
}

void MainWindow::RefreshFreeSpace() { free_space_->setText(FreeSpaceText(WorkingFolderFreeKB())); }

void MainWindow::ShowFrame() {
  if (isHidden()) {
    if (start_maximized_)
      showMaximized();
    else
      show();
  }
  raise();
  activateWindow();
}

void MainWindow::ExitProgram() {
  // Before the event loop runs, the caller sees the request and does not start it.
  if (QThread::currentThread()->loopLevel() == 0) {
    exit_requested_ = close();
    return;
  }
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (close()) QCoreApplication::exit(0);
      },
      Qt::QueuedConnection);
}

void MainWindow::SizeClientArea(int width, int height) {
  if (width <= 0 || height <= 0) return;
  showNormal();
  const QSize chrome = size() - documents_->size();
  resize(width + chrome.width(), height + chrome.height());
}

void MainWindow::ShowSplash() {
  if (splash_ != nullptr) return;
  splash_ = new QWidget(this, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  splash_->setObjectName("LAW");
  splash_->setAttribute(Qt::WA_DeleteOnClose);
  splash_->setAttribute(Qt::WA_QuitOnClose, false);
  splash_->setAttribute(Qt::WA_StyledBackground);
  splash_->setStyleSheet(
      "#LAW { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #24405f, stop:1 #101c2b);"
      " border: 1px solid #5b7899; } QLabel { color: #e8eef5; }");
  auto* layout = new QVBoxLayout(splash_);
  auto* title = new QLabel("Sonavel", splash_);
  QFont font = title->font();
  font.setPointSize(font.pointSize() * 3);
  font.setBold(true);
  title->setFont(font);
  title->setAlignment(Qt::AlignCenter);
  auto* line = new QLabel("Audio-Editor", splash_);
  line->setAlignment(Qt::AlignCenter);
  auto* version = new QLabel("Version " + QCoreApplication::applicationVersion(), splash_);
  version->setAlignment(Qt::AlignCenter);
  layout->addStretch();
  layout->addWidget(title);
  layout->addWidget(line);
  layout->addStretch();
  layout->addWidget(version);
  splash_->resize(360, 180);
  if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr)
    splash_->move(screen->availableGeometry().center() - splash_->rect().center());
  splash_->show();
  QTimer::singleShot(7000, splash_, [this] {
    splash_->close();
    splash_ = nullptr;
  });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  FrameState state = FrameState::kNormal;
  if (isMaximized()) state = FrameState::kMaximized;
  if (isMinimized()) state = FrameState::kMinimized;
  const QRect normal = state == FrameState::kNormal ? geometry() : normalGeometry();
  int desktop_right = normal.x() + normal.width();
  if (const QScreen* screen = this->screen(); screen != nullptr)
    desktop_right = screen->availableVirtualGeometry().right() + 1;
  FramePlacement rectangle;
  rectangle.x = normal.x();
  rectangle.y = normal.y();
  rectangle.width = normal.width();
  rectangle.height = normal.height();
  SaveFramePlacement(settings_, state, rectangle, desktop_right);
  if (splash_ != nullptr) {  // it must not keep the program alive
    splash_->close();
    splash_ = nullptr;
  }
  event->accept();
}

}  // namespace sonavel
