#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMimeData>
#include <QSlider>
#include <QToolButton>
#include <QUrl>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QWindow>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include "app/command_table.h"
#include "app/placement.h"
#include "gui/about_box.h"
#include "gui/bookmark_list_window.h"
#include "document/effect_command.h"
#include "document/file_commands.h"
#include "document/silence_commands.h"
#include "gui/document_window.h"
#include "gui/effect_dialog.h"
#include "gui/frame_projects.h"
#include "gui/frame_spectrum.h"
#include "devices/mixer.h"
#include "gui/key_codes.h"
#include "gui/level_meter.h"
#include "views/wave_mouse.h"
#include "gui/options_dialog.h"
#include "gui/region_dialogs.h"
#include "gui/region_list_window.h"
#include "gui/spectrogram_frame.h"
#include "platform/paths.h"
#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "store/block_table.h"
#include "store/segment_reader.h"
#include "store/time.h"

namespace sonavel {

namespace {

// The transport row's buttons, by control id.
enum TransportButton : int {
  kPlayButton = 111,
  kScrubButton = 112,
  kStopButton = 113,
  kStartButton = 114,
  kRewindButton = 115,
  kForwardButton = 116,
  kEndButton = 117,
  kRecordButton = 118,
};

}  // namespace

QString FreeSpaceText(std::uint32_t free_kb) {
  return QString::asprintf("Freier Speicher: %5.2f MB", static_cast<double>(free_kb) / 1024.0);
}

MainWindow::MainWindow(Settings& settings, Ui* ui, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      ui_(this),
      ui_in_use_(ui != nullptr ? ui : &ui_),
      recent_(settings),
      format_(new QLabel(this)),
      documents_(new QMdiArea(this)),
      free_space_(new QLabel(this)),
      refresh_(new QTimer(this)) {
  setObjectName("LMMWC");
  setWindowTitle("Sonavel");
  documents_->setViewMode(QMdiArea::SubWindowView);
  documents_->setBackground(palette().brush(QPalette::Dark));
  auto* centre = new QWidget(this);
  auto* column = new QVBoxLayout(centre);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(documents_, 1);
  column->addWidget(BuildTransport());
  centre->setMinimumSize(365, 305);  // the smallest client area
  setCentralWidget(centre);
  setAcceptDrops(true);

  const FramePlacement placement = RestoreFramePlacement(settings_);
  setGeometry(placement.x, placement.y, placement.width, placement.height);
  start_maximized_ = placement.maximized;

  spectrum_ = std::make_unique<FrameSpectrum>(*this);
  connect(documents_, &QMdiArea::subWindowActivated, this, [this] { DocumentActivated(); });
  transport_ = std::make_unique<Transport>(engine_, settings_, *ui_in_use_, *this);
  projects_ = std::make_unique<FrameProjects>(*this, *ui_in_use_, settings_);
  bookmarks_ = std::make_unique<FrameBookmarks>(*this, settings_);
  spectrogram_ = std::make_unique<SpectrogramFrame>(*this);
  BuildMenus();
  BuildToolbars();
  BuildCommandBar();
  hot_keys_ = LoadHotKeys(*ui_in_use_);
  QCoreApplication::instance()->installEventFilter(this);
  format_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(format_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowContextMenu(ConversionContextMenu(), format_->mapToGlobal(at)); });
  statusBar()->addPermanentWidget(format_);
  statusBar()->addPermanentWidget(free_space_);
  RefreshFreeSpace();
  connect(refresh_, &QTimer::timeout, this, &MainWindow::RefreshFreeSpace);
  refresh_->start(5000);
}

MainWindow::~MainWindow() {
  // The document windows go after this object's members: they must not call back.
  QCoreApplication::instance()->removeEventFilter(this);
  for (QMdiSubWindow* window : documents_->subWindowList()) window->disconnect(this);
  documents_->disconnect(this);
  // Stopped while the transport still answers the engine's last reports.
  engine_.Close();
  bookmarks_.reset();
  transport_.reset();
}

void MainWindow::ShowTransportState(std::uint16_t state) {
  if (!transport_) return;
  auto down = [this](int id, bool pressed) {
    if (auto found = transport_buttons_.find(id); found != transport_buttons_.end()) found->second->setDown(pressed);
  };
  down(kPlayButton, state == PlaybackEngine::kPlaying && !transport_->running(Transport::Direction::kRewind) &&
                !transport_->running(Transport::Direction::kForward));
  down(kScrubButton, state == PlaybackEngine::kScrubbing);
  down(kStopButton, state == PlaybackEngine::kClosed);
  // An effect dialog's preview that ran to its end shows its button idle again.
  if (state == PlaybackEngine::kClosed) {
    NotifyEffectPreviewStopped();
    NotifyJoinPreviewStopped();
  }
  for (QMdiSubWindow* window : documents_->subWindowList())
    if (auto* document_window = qobject_cast<DocumentWindow*>(window))
      document_window->SetScrubbing(state == PlaybackEngine::kScrubbing &&
                                    &document_window->document() == transport_->playing());
}

void MainWindow::ShowLevels(const LevelRecord& levels) {
  if (meter_ != nullptr) meter_->SetLevels(levels);
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
  if (!splash_allowed_) return;
  splash_allowed_ = false;
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
  // Every document may ask to be saved first; one that is kept keeps the program open.
  for (QMdiSubWindow* window : documents_->subWindowList()) {
    if (!window->close()) {
      event->ignore();
      return;
    }
  }
  if (splash_ != nullptr) {  // it must not keep the program alive
    splash_->close();
    splash_ = nullptr;
  }
  event->accept();
}

void MainWindow::RunKeyAction(int action) {
  switch (action) {
    case key_action::kScrub: transport_->Scrub(); break;
    case key_action::kPressRewind: transport_->Press(Transport::Direction::kRewind); break;
    case key_action::kPressForward: transport_->Press(Transport::Direction::kForward); break;
    case key_action::kExtendSelection: transport_->SetExtendSelection(true); break;
    case key_action::kShiftDown: transport_->ShiftDown(); break;
    default: break;  // the list windows' renaming comes with those windows
  }
  RefreshCommands();
}

void MainWindow::KeyReleased(KeyUpAction action) {
  switch (action) {
    case KeyUpAction::kShiftUp: transport_->ShiftUp(); break;
    case KeyUpAction::kEndExtend: transport_->SetExtendSelection(false); break;
    case KeyUpAction::kReleaseRewind:
    case KeyUpAction::kReleaseForward:
      transport_->Release(action == KeyUpAction::kReleaseRewind ? Transport::Direction::kRewind
                                                                 : Transport::Direction::kForward);
      transport_->SetExtendSelection(false);
      break;
    default: break;
  }
}

void MainWindow::EdgeTracking(int code) {
  AudioDocument* document = ActiveDocument();
  if (document == nullptr) return;
  switch (static_cast<WaveCode>(code)) {
    case WaveCode::kBeyondRight:
    case WaveCode::kAtLeft: {
      // The selection grows from its other end while the sound winds past the edge.
      const bool forward = static_cast<WaveCode>(code) == WaveCode::kBeyondRight;
      transport_->SetAnchor(forward ? document->state.selection_start : document->state.selection_end);
      transport_->SetExtendSelection(true);
      transport_->Press(forward ? Transport::Direction::kForward : Transport::Direction::kRewind);
      break;
    }
    case WaveCode::kBackFromRight:
    case WaveCode::kBackFromLeft:
      transport_->Release(static_cast<WaveCode>(code) == WaveCode::kBackFromRight ? Transport::Direction::kForward
                                                                                  : Transport::Direction::kRewind);
      transport_->SetExtendSelection(false);
      break;
    default:
      break;
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Key events reach the window first and then its widgets: taking them at the window
  // sees each press once, before any widget or dialog processing.
  if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
      watched == windowHandle() && QApplication::activeModalWidget() == nullptr) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    const std::int32_t code = KeyCodeOfEvent(*key);
    if (event->type() == QEvent::KeyRelease) {
      // A held key repeats as pairs of release and press; only the real release counts.
      if (key->isAutoRepeat()) return ActionForKeyUp(hot_keys_, code) != KeyUpAction::kNone;
      const KeyUpAction action = ActionForKeyUp(hot_keys_, code);
      KeyReleased(action);
      return action == KeyUpAction::kConsumed;
    }
    KeyContext context;
    context.scrubbing = engine_.State() == PlaybackEngine::kScrubbing;
    const std::vector<int> commands = CommandsForKey(hot_keys_, code, context);
    for (int id : commands) {
      // Holding a playback key must not toggle or restart it over and over.
      if (key->isAutoRepeat() && (id < 0 || id == command_id::kPlay)) continue;
      if (id > 0)
        Dispatch(id);
      else
        RunKeyAction(id);
    }
    if (!commands.empty()) return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

AudioDocument* MainWindow::ActiveDocument() const {
  // With an analysis window active, the document window activated last; with none active,
  // the one opened last.
  const QList<QMdiSubWindow*> windows = documents_->subWindowList(
      documents_->activeSubWindow() != nullptr ? QMdiArea::ActivationHistoryOrder : QMdiArea::CreationOrder);
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if (auto* window = qobject_cast<DocumentWindow*>(*it)) return &window->document();
  return nullptr;
}

DocumentWindow* MainWindow::AddDocumentWindow(const DocumentRef& document) {
  auto* window = new DocumentWindow(
      document, ui(), [this](AudioDocument& d) { return SaveDocument(d, false); }, documents_);
  connect(window, &DocumentWindow::closed, this, [this](DocumentWindow* closing) {
    transport_->DocumentClosing(&closing->document());
    documents_list_.Remove(&closing->document());
    bookmarks_->Refresh();
    // Once the window is gone from the area.
    QTimer::singleShot(0, this, [this] { RebuildCommandBar(); });
  });
  connect(window, &DocumentWindow::changed, this, [this] {
    RefreshCommands();
    RefreshTimeDisplays();
    // The cursor may have moved, by the user or by playback.
    spectrum_->Follow();
  });
  connect(window, &DocumentWindow::released, this, [this] {
    // A click while playing plays on from there.
    if (engine_.State() != PlaybackEngine::kClosed && transport_->playing() != nullptr) transport_->Play();
  });
  connect(window, &DocumentWindow::edgeTracking, this, &MainWindow::EdgeTracking);
  connect(window, &DocumentWindow::bookmarksChanged, this, [this] { bookmarks_->Refresh(); });
  connect(window, &DocumentWindow::contextMenuWanted, this,
          [this](const QPoint& where) { ShowContextMenu(DocumentContextMenu(), where); });
  documents_->addSubWindow(window);
  window->show();
  documents_->setActiveSubWindow(window);
  DocumentActivated();
  bookmarks_->Refresh();
  return window;
}

void MainWindow::OpenUntitled(Sound sound) {
  AddDocumentWindow(documents_list_.DocumentFromSound(std::move(sound)));
  if (settings_.Read(setting::kAutoArrangeWindows)) documents_->tileSubWindows();
}

void MainWindow::DocumentActivated() {
  transport_->SetActiveDocument(ActiveDocument());
  RefreshCommands();
  RefreshTimeDisplays();
  RebuildCommandBar();
  spectrum_->Follow();
  const AudioDocument* document = ActiveDocument();
  if (document == nullptr) {
    format_->clear();
    return;
  }
  format_->setText(QString::asprintf("Samplerate: %d   %s", document->sound.rate,
                                     document->sound.channels == 2 ? "Stereo" : "Mono"));
}

bool MainWindow::OpenDocument(const std::string& path) {
  DocumentRef document = OpenDocumentFile(documents_list_, path, ui(), OpenOptions{&settings_, std::nullopt, &settings_});
  if (!document) return false;
  recent_.AddRecentFile(path);
  AddDocumentWindow(document);
  if (settings_.Read(setting::kPlayWhenOpen)) transport_->Play();
  return true;
}

bool MainWindow::LoadProject(const std::string& path) { return projects_->commands().OpenProjectFile(path); }

bool MainWindow::SaveDocument(AudioDocument& document, bool save_as) {
  if (!SaveDocumentCommand(document, ui(), settings_, save_as)) return false;
  recent_.AddRecentFile(document.path);
  return true;
}

void MainWindow::SaveActive() {
  if (AudioDocument* document = ActiveDocument()) SaveDocument(*document, false);
}

void MainWindow::SaveActiveAs(const std::string& path) {
  if (AudioDocument* document = ActiveDocument(); document != nullptr && SaveDocumentTo(*document, path, ui(), OpenOptions{&settings_, std::nullopt}))
    recent_.AddRecentFile(path);
}

void MainWindow::CloseActive() {
  if (QMdiSubWindow* window = documents_->activeSubWindow()) window->close();
}

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// Builds `items` into `menu`; every command's action is handed to `configure`.
void FillMenu(QMenu* menu, const std::vector<MenuItem>& items,
              const std::function<void(QAction*, int)>& configure) {
  for (const MenuItem& item : items) {
    if (item.separator)
      menu->addSeparator();
    else if (item.IsSubmenu())
      FillMenu(menu->addMenu(Q(item.text)), item.children, configure);
    else
      configure(menu->addAction(Q(item.text)), item.id);
  }
}

// Icons of the platform's style for the commands that have a usual one.
QIcon CommandIcon(QStyle* style, int id) {
  switch (id) {
    case command_id::kNew: return style->standardIcon(QStyle::SP_FileIcon);
    case command_id::kOpen: return style->standardIcon(QStyle::SP_DialogOpenButton);
    case command_id::kSave: return style->standardIcon(QStyle::SP_DialogSaveButton);
    case command_id::kUndo: return style->standardIcon(QStyle::SP_ArrowBack);
    case command_id::kRedo: return style->standardIcon(QStyle::SP_ArrowForward);
    case command_id::kDelete: return style->standardIcon(QStyle::SP_TrashIcon);
    case command_id::kOptions: return style->standardIcon(QStyle::SP_FileDialogDetailedView);
    case command_id::kHelp: return style->standardIcon(QStyle::SP_DialogHelpButton);
    default: return {};
  }
}

}  // namespace

namespace {

// Where the volume control starts: the mixer's level, or full volume, which is what the
// engine plays at until the control moves.
int CurrentOutputVolume() { return OutputVolumeLevel().value_or(11); }

}  // namespace

void MainWindow::SetOutputVolume(int level) {
  // The system mixer when the card has one; else the engine scales the samples itself.
  if (!SetOutputVolumeLevel(level)) engine_.SetVolume(level);
}

QWidget* MainWindow::BuildTransport() {
  auto* row = new QWidget(this);
  row->setObjectName("Transport");
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(4, 2, 4, 2);
  layout->setSpacing(3);
  // Play, record, scrub, stop, start, rewind, forward, end; they work once the playback
  // engine is in.
  struct Button {
    int id;
    QStyle::StandardPixmap icon;
    const char* tip;
  };
  const Button buttons[] = {{kPlayButton, QStyle::SP_MediaPlay, "Abspielen"},
                            {kRecordButton, QStyle::SP_DialogNoButton, "Aufnehmen"},
                            {kScrubButton, QStyle::SP_MediaPause, "Scrub"},          {kStopButton, QStyle::SP_MediaStop, "Stopp"},
                            {kStartButton, QStyle::SP_MediaSkipBackward, "Anfang"},  {kRewindButton, QStyle::SP_MediaSeekBackward, "Zurückspulen"},
                            {kForwardButton, QStyle::SP_MediaSeekForward, "Vorspulen"}, {kEndButton, QStyle::SP_MediaSkipForward, "Ende"}};
  for (const Button& button : buttons) {
    auto* tool = new QToolButton(row);
    tool->setObjectName(QString::number(button.id));
    tool->setIcon(style()->standardIcon(button.icon));
    tool->setToolTip(button.tip);
    tool->setAutoRaise(true);
    tool->setFixedSize(24, 24);
    // Recording comes with the record dialog.
    tool->setEnabled(button.id != kRecordButton);
    switch (button.id) {
      case kPlayButton: connect(tool, &QToolButton::clicked, this, [this] { Dispatch(command_id::kPlay); }); break;
      case kScrubButton: connect(tool, &QToolButton::clicked, this, [this] { transport_->ScrubButton(); }); break;
      case kStopButton: connect(tool, &QToolButton::clicked, this, [this] { Dispatch(command_id::kStop); }); break;
      case kStartButton: connect(tool, &QToolButton::clicked, this, [this] { Dispatch(command_id::kGoToStart); }); break;
      case kEndButton: connect(tool, &QToolButton::clicked, this, [this] { Dispatch(command_id::kGoToEnd); }); break;
      case kRewindButton:
      case kForwardButton: {
        // Held: pressing winds, letting go returns to what played before.
        const auto direction = button.id == kRewindButton ? Transport::Direction::kRewind : Transport::Direction::kForward;
        connect(tool, &QToolButton::pressed, this, [this, direction] { transport_->Press(direction); });
        connect(tool, &QToolButton::released, this, [this, direction] { transport_->Release(direction); });
        break;
      }
      default: break;
    }
    transport_buttons_[button.id] = tool;
    layout->addWidget(tool);
  }
  layout->addSpacing(12);
  const std::pair<int, const char*> displays[] = {
      {106, "Anfang"}, {107, "Ende"}, {108, "Länge"}, {109, "Position"}, {130, "Gesamt"}};
  for (const auto& [id, caption] : displays) {
    auto* label = new QLabel(row);
    label->setObjectName(QString::number(id));
    label->setToolTip(caption);
    label->setFrameShape(QFrame::StyledPanel);
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(digits.pointSizeF() * 0.85);
    label->setFont(digits);
    label->setAlignment(Qt::AlignCenter);
    // Wide enough for "0:00:00.000"; in a narrow window the meter and the volume give way.
    const int text_width = label->fontMetrics().horizontalAdvance("0:00:00.000") + 2 * label->frameWidth() + 4;
    label->setMinimumWidth(text_width);
    label->setMaximumWidth(text_width + 8);
    layout->addWidget(label);
    time_displays_[id] = label;
  }
  meter_ = new LevelMeter(row);
  meter_->setMinimumWidth(16);
  meter_->setMaximumWidth(100);
  layout->addWidget(meter_);
  // The output volume in level steps: -36 is silence, +11 the device's full volume.
  auto* volume = new QSlider(Qt::Horizontal, row);
  volume->setObjectName("102");
  volume->setRange(-36, 11);
  volume->setValue(std::clamp(CurrentOutputVolume(), -36, 11));
  volume->setMaximumWidth(120);
  volume->setMinimumWidth(24);
  volume->setToolTip("Lautstärke");
  connect(volume, &QSlider::valueChanged, this, &MainWindow::SetOutputVolume);
  layout->addWidget(volume);
  RefreshTimeDisplays();
  return row;
}

QString MainWindow::TimeDisplay(int id) const {
  auto found = time_displays_.find(id);
  return found != time_displays_.end() ? found->second->text() : QString();
}

void MainWindow::RefreshTimeDisplays() {
  const AudioDocument* document = ActiveDocument();
  const std::int32_t rate = document != nullptr ? document->sound.rate : 44100;
  auto ms = [rate](std::int64_t frames) { return FramesToMs(frames, rate); };
  const EditState state = document != nullptr ? document->state : EditState{};
  const std::int64_t length = document != nullptr ? SoundLength(document->sound) : 0;
  const std::pair<int, QString> texts[] = {
      {106, Q(FormatTimeMs(ms(state.selection_start)))},
      {107, Q(FormatTimeMs(ms(state.selection_end)))},
      {108, Q(FormatTimeMs(ms(std::int64_t{state.selection_end} - state.selection_start)))},
      {109, Q(FormatTimeHundredths(ms(state.cursor)))},
      {130, Q(FormatTimeMs(ms(length)))}};
  for (const auto& [id, text] : texts)
    if (auto found = time_displays_.find(id); found != time_displays_.end()) found->second->setText(text);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  OpenDroppedFiles(event->mimeData()->urls());
  event->acceptProposedAction();
}

void MainWindow::OpenDroppedFiles(const QList<QUrl>& urls) {
  // Each dropped file opens as a document, in drop order, under the wait cursor.
  // A project among them opens as a project.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const std::string path = url.toLocalFile().toStdString();
    if (IsProjectPath(path))
      LoadProject(path);
    else
      OpenDocument(path);
  }
  QApplication::restoreOverrideCursor();
}

void MainWindow::ShowContextMenu(const std::vector<MenuItem>& items, const QPoint& where) {
  QMenu menu(this);
  FillMenu(&menu, items, [this](QAction* action, int id) {
    const QAction* shared = CommandAction(id);
    action->setEnabled(shared != nullptr ? shared->isEnabled() : CommandAvailable(id));
    connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
  });
  menu.exec(where);
}

void MainWindow::BuildCommandBar() {
  command_bar_ = new QToolBar("Kommandozeile", this);
  command_bar_->setObjectName("Kommandozeile");
  command_bar_->setOrientation(Qt::Vertical);
  command_bar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  addToolBar(settings_.Read(setting::kShowCommandBarLeft) ? Qt::LeftToolBarArea : Qt::RightToolBarArea,
             command_bar_);
  command_bar_->setVisible(settings_.Read(setting::kShowCommandBar));
  main_toolbar_->setVisible(settings_.Read(setting::kShowMainToolbar));
  effects_toolbar_->setVisible(settings_.Read(setting::kShowEffectsToolbar));
  RebuildCommandBar();
}

void MainWindow::RebuildCommandBar() {
  if (command_bar_ == nullptr) return;
  command_bar_->clear();
  // One button per document window (ids 134 … 160), then the list and analysis windows.
  const QList<QMdiSubWindow*> windows = documents_->subWindowList();
  for (int i = 0; i < windows.size() && i < 27; ++i) {
    QMdiSubWindow* window = windows[i];
    QString title = window->windowTitle();
    title.remove("[*]");
    QAction* action = command_bar_->addAction(title);
    action->setData(134 + i);
    action->setCheckable(true);
    action->setChecked(window == documents_->activeSubWindow());
    connect(action, &QAction::triggered, this, [this, window] {
      if (window->isMinimized()) window->showNormal();
      documents_->setActiveSubWindow(window);
      // Playback moves to the chosen document.
      if (engine_.State() != PlaybackEngine::kClosed && transport_->playing() != nullptr) transport_->Play();
    });
  }
  command_bar_->addSeparator();
  const std::pair<int, const char*> lists[] = {
      {200, "Lesezeichen"}, {201, "Bereiche"}, {202, "TFFT"}, {203, "FFT"}};
  for (const auto& [id, text] : lists) {
    QAction* action = command_bar_->addAction(text);
    action->setData(id);
    // The bookmark and region lists and both analysis windows open from here; the other
    // windows come with their own features.
    const int list = id == 200   ? command_id::kBookmarkList
                     : id == 201 ? command_id::kRegionList
                     : id == 202 ? command_id::kTimeFrequencyAnalysis
                     : id == 203 ? command_id::kFrequencyAnalysis
                                 : 0;
    action->setEnabled(list != 0);
    if (list != 0) connect(action, &QAction::triggered, this, [this, list] { Dispatch(list); });
  }
}

QAction* MainWindow::CommandAction(int id) const {
  auto found = actions_.find(id);
  return found != actions_.end() ? found->second : nullptr;
}

void MainWindow::ConfigureAction(QAction* action, int id) {
  action->setData(id);
  action->setEnabled(CommandAvailable(id));
  connect(action, &QAction::triggered, this, [this, id] { Dispatch(id); });
  connect(action, &QAction::hovered, this, [this, id] {
    const std::string help = MenuHelpText(id);
    if (!help.empty()) statusBar()->showMessage(Q(help), 12000);
  });
  actions_[id] = action;
  if (id == kCloseId) close_action_ = action;
}

void MainWindow::BuildMenus() {
  // One action per command id, shared by the menu and the toolbars.
  auto configure = [this](QAction* action, int id) { ConfigureAction(action, id); };
  for (const MenuItem& top : MainMenu()) {
    QMenu* menu = menuBar()->addMenu(Q(top.text));
    FillMenu(menu, top.children, configure);
    if (top.text == "&Datei") file_menu_ = menu;
    if (top.text == "&Fenster") window_menu_ = menu;
    if (top.text == "&Lesezeichen") bookmark_menu_ = menu;
  }
  if (file_menu_ != nullptr) connect(file_menu_, &QMenu::aboutToShow, this, [this] { RebuildRecentItems(); });
  if (window_menu_ != nullptr) connect(window_menu_, &QMenu::aboutToShow, this, [this] { RebuildWindowItems(); });
  RebuildRecentItems();
  RefreshCommands();
}

void MainWindow::ShowListItems(const std::vector<MenuItem>& items, bool shown) {
  if (bookmark_menu_ == nullptr || items.empty()) return;
  const int first = items.front().id;
  std::vector<QAction*>& added = list_actions_[first];
  for (QAction* action : added) {
    bookmark_menu_->removeAction(action);
    if (const int id = action->data().toInt(); id != 0) actions_.erase(id);
    action->deleteLater();
  }
  added.clear();
  if (!shown) return;
  added.push_back(bookmark_menu_->addSeparator());
  for (const MenuItem& item : items) {
    QAction* action = bookmark_menu_->addAction(Q(item.text));
    ConfigureAction(action, item.id);
    added.push_back(action);
  }
  RefreshCommands();
}

void MainWindow::BuildToolbars() {
  bool first = true;
  for (const auto& [name, buttons] : {std::pair{"Werkzeugleiste", MainToolbar()}, std::pair{"Effektleiste", EffectsToolbar()}}) {
    if (!first) addToolBarBreak();  // the effects get a row of their own
    QToolBar* bar = addToolBar(name);
    bar->setObjectName(name);
    (first ? main_toolbar_ : effects_toolbar_) = bar;
    bar->setToolButtonStyle(first ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextOnly);
    first = false;
    for (const ToolButton& button : buttons) {
      if (button.separator) {
        bar->addSeparator();
        continue;
      }
      QAction* shared = CommandAction(button.id);
      QAction* action = bar->addAction(CommandIcon(style(), button.id), Q(button.name));
      action->setToolTip(Q(button.tooltip));
      action->setEnabled(shared != nullptr ? shared->isEnabled() : CommandAvailable(button.id));
      connect(action, &QAction::triggered, this, [this, id = button.id] { Dispatch(id); });
      if (shared != nullptr) connect(shared, &QAction::enabledChanged, action, &QAction::setEnabled);
    }
  }
}

void MainWindow::RebuildRecentItems() {
  if (file_menu_ == nullptr || close_action_ == nullptr) return;
  for (QAction* action : recent_actions_) {
    file_menu_->removeAction(action);
    action->deleteLater();
  }
  recent_actions_.clear();
  const RecentMenu menu = recent_.RebuildRecentMenu();
  for (const RecentMenuItem& item : menu.items) {
    auto* action = new QAction(Q(item.text), file_menu_);
    action->setData(item.id);
    connect(action, &QAction::triggered, this, [this, id = item.id] { Dispatch(id); });
    connect(action, &QAction::hovered, this,
            [this] { statusBar()->showMessage("Die zuletzt geschlossene Datei öffnen.", 12000); });
    file_menu_->insertAction(close_action_, action);
    recent_actions_.push_back(action);
  }
  if (menu.separator) {
    QAction* separator = file_menu_->insertSeparator(close_action_);
    recent_actions_.push_back(separator);
  }
  close_action_->setText(Q(menu.close_text));
}

void MainWindow::RebuildWindowItems() {
  for (QAction* action : window_actions_) {
    window_menu_->removeAction(action);
    action->deleteLater();
  }
  window_actions_.clear();
  const QList<QMdiSubWindow*> windows = documents_->subWindowList();
  if (!windows.isEmpty()) window_actions_.push_back(window_menu_->addSeparator());
  int number = 1;
  for (QMdiSubWindow* window : windows) {
    QString title = window->windowTitle();
    title.replace("[*]", window->isWindowModified() ? "*" : "");
    QAction* action = window_menu_->addAction(QString("&%1 %2").arg(number++).arg(title));
    action->setCheckable(true);
    action->setChecked(window == documents_->activeSubWindow());
    connect(action, &QAction::triggered, this, [this, window] { documents_->setActiveSubWindow(window); });
    connect(action, &QAction::hovered, this,
            [this] { statusBar()->showMessage("Aktiviert das gewählte Fenster.", 12000); });
    window_actions_.push_back(action);
  }
}

void MainWindow::RefreshCommands() {
  const AudioDocument* document = ActiveDocument();
  auto set = [this](int id, const std::string& text, bool enabled) {
    if (QAction* action = CommandAction(id)) {
      if (!text.empty()) action->setText(Q(text));
      action->setEnabled(enabled);
    }
  };
  const UndoMenu undo = document != nullptr ? UndoMenuState(*document) : UndoMenu{};
  set(command_id::kUndo, document != nullptr ? undo.undo_text : "Rückgängig \tCtrl+Z", undo.undo_enabled);
  set(command_id::kRedo, document != nullptr ? undo.redo_text : "", undo.redo_enabled);
  set(command_id::kSave, "", document != nullptr && document->state.modified != 0);
  for (int id : {command_id::kClose, command_id::kSaveAs, command_id::kEditTags, command_id::kAddRegion,
                 command_id::kSetBookmark, command_id::kApplyNoiseSample})
    set(id, "", document != nullptr && CommandAvailable(id));
  // Paste and Paste Mix need audio on the frame's clipboard.
  for (int id : {command_id::kPaste, command_id::kPasteMix}) set(id, "", document != nullptr && clipboard_.HasAudio());
  const int speed = transport_->Speed();
  for (int id : {command_id::kSpeedSlow, command_id::kSpeedNormal, command_id::kSpeedFast}) {
    if (QAction* action = CommandAction(id)) {
      action->setCheckable(true);
      action->setChecked(id - command_id::kSpeedSlow == speed);
    }
  }
  if (QAction* action = CommandAction(command_id::kRepeat)) {
    action->setCheckable(true);
    action->setChecked(transport_->Repeat());
  }
}

bool MainWindow::Dispatch(int id) {
  const bool done = RunCommand(id);
  RefreshCommands();
  return done;
}

bool MainWindow::RunCommand(int id) {
  AudioDocument* document = ActiveDocument();
  switch (id) {
    case command_id::kNew: {  // Neu
      DocumentRef created = NewDocumentCommand(documents_list_, ui(), settings_);
      if (created) AddDocumentWindow(created);
      return static_cast<bool>(created);
    }
    case command_id::kOpen: {  // Öffnen
      std::optional<std::string> path = ChooseFileToOpen(ui());
      return path && OpenDocument(*path);
    }
    case command_id::kOpenProject:
      return projects_->commands().Open();
    case command_id::kCloseProject:
      return projects_->commands().Close();
    case command_id::kSaveProject:
      return projects_->commands().Save();
    case command_id::kSaveProjectAs:
      return projects_->commands().SaveAs();
    case command_id::kClose:  // Schliessen
      CloseActive();
      return true;
    case command_id::kSave:  // Speichern
      return document != nullptr && SaveDocument(*document, false);
    case command_id::kSaveAs:  // Speichern Als
      return document != nullptr && SaveDocument(*document, true);
    case command_id::kEditTags:  // ID3 Tags bearbeiten...
      return document != nullptr && EditTagsCommand(*document, ui());
    case command_id::kExit:  // quit
      return close();
    case command_id::kOptions: {  // Einstellungen...
      const OptionsResult result = RunOptionsDialog(this, settings_, ui(), hot_keys_);
      if (result.recent_files_cleared) RebuildRecentItems();
      if (!result.accepted) return false;
      hot_keys_ = result.hot_keys;
      if (result.working_folder_changed) {
        // The block files live in the working folder: it changes only with a new start.
        TellRestartNeeded(ui());
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      }
      return true;
    }
    case command_id::kUndo: {  // Rückgängig
      if (document == nullptr) return false;
      DocumentServices services{ui(), settings_, *transport_};
      return UndoCommand(*document, services);
    }
    case command_id::kRedo: {  // Wiederholen
      if (document == nullptr) return false;
      DocumentServices services{ui(), settings_, *transport_};
      return RedoCommand(*document, services);
    }
    case command_id::kCascade:
      documents_->cascadeSubWindows();
      return true;
    case command_id::kCloseAll:  // Alles schliessen: each document may ask to be saved
      for (QMdiSubWindow* window : documents_->subWindowList())
        if (!window->close()) return false;
      return true;
    case command_id::kArrangeIcons:  // the minimised windows in a row
      documents_->tileSubWindows();
      return true;
    case command_id::kCommandBar:
    case command_id::kMainToolbar:
    case command_id::kEffectsToolbar: {
      using namespace command_id;
      QToolBar* bar = id == kCommandBar ? command_bar_ : id == kMainToolbar ? main_toolbar_ : effects_toolbar_;
      const BoolSetting& shown = id == kCommandBar    ? setting::kShowCommandBar
                                 : id == kMainToolbar ? setting::kShowMainToolbar
                                                      : setting::kShowEffectsToolbar;
      bar->setVisible(!bar->isVisible());
      settings_.WriteUser(shown, bar->isVisible());
      return true;
    }
    case command_id::kCommandBarLeft:
    case command_id::kCommandBarRight:
      addToolBar(id == command_id::kCommandBarLeft ? Qt::LeftToolBarArea : Qt::RightToolBarArea, command_bar_);
      command_bar_->setVisible(true);
      settings_.WriteUser(setting::kShowCommandBarLeft, id == command_id::kCommandBarLeft);
      return true;
    case command_id::kPlay:  // Abspielen: the selection, or from the cursor to the end
      return transport_->Play();
    case command_id::kStop:  // Stopp
      transport_->Stop();
      return true;
    case command_id::kGoToStart:
      transport_->GoToStart();
      return document != nullptr;
    case command_id::kGoToEnd:
      transport_->GoToEnd();
      return document != nullptr;
    case command_id::kRewind:
    case command_id::kForward: {
      // The menu presses the winding button; choosing it again lets it go.
      const auto direction = id == command_id::kRewind ? Transport::Direction::kRewind : Transport::Direction::kForward;
      if (transport_->running(direction))
        transport_->Release(direction);
      else
        transport_->Press(direction);
      return document != nullptr;
    }
    case command_id::kSpeedSlow:
    case command_id::kSpeedNormal:
    case command_id::kSpeedFast:
      transport_->SetSpeed(id - command_id::kSpeedSlow);
      return true;
    case command_id::kRepeat:
      transport_->ToggleRepeat();
      return true;
    case command_id::kVerticalZoom:
    case command_id::kShowWaveform:
    case command_id::kShowStacked:
    case command_id::kShowDual: {
      auto* window = qobject_cast<DocumentWindow*>(documents_->activeSubWindow());
      if (window == nullptr) return false;
      if (id == command_id::kVerticalZoom)
        window->ToggleVerticalZoom();
      else
        window->SetDisplayMode(id == command_id::kShowWaveform ? 0 : id == command_id::kShowStacked ? 1 : 2);
      return true;
    }
    case command_id::kZoomIn:
    case command_id::kZoomOut:
    case command_id::kZoomSelection:
    case command_id::kZoomAll: {
      if (document == nullptr) return false;
      if (id == command_id::kZoomIn) ZoomIn(*document);
      if (id == command_id::kZoomOut) ZoomOut(*document);
      if (id == command_id::kZoomSelection) ZoomToSelection(*document);
      if (id == command_id::kZoomAll) ZoomToAll(*document);
      return true;
    }
    case command_id::kTileHorizontally:
    case command_id::kTileVertically:
      documents_->tileSubWindows();
      return true;
    case command_id::kSetBookmark:
    case command_id::kBookmarkList:
    case command_id::kGoToBookmark:
    case command_id::kRenameBookmark:
    case command_id::kDeleteBookmarks:
    case command_id::kDeleteAllBookmarks:
      return bookmarks_->RunCommand(id);
    case command_id::kFrequencyAnalysis:  // Frequenzanalyse (FFT)
      return spectrum_->ShowSpectrum(true);
    case command_id::kTimeFrequencyAnalysis:
      return spectrogram_->ShowSpectrogram();
    case command_id::kAbout:  // Über
      ShowAboutBox(this);
      return true;
    default:
      if (IsEditCommand(id)) {
        if (document == nullptr) return false;
        DocumentServices services{ui(), settings_, *transport_};
        EditContext context{*document, services, settings_, clipboard_, &system_clipboard_,
                            [this](Sound sound) { OpenUntitled(std::move(sound)); },
                            [this] { return engine_.State() != PlaybackEngine::kClosed; }};
        return RunEditCommand(id, context);
      }
      if (IsRegionCommand(id)) return RunRegionCommand(*this, id);
      if (id == kAutoSplitCommand) {
        if (document == nullptr) return false;
        DocumentServices services{ui(), settings_, *transport_};
        return AutoSplitCommand(
                   *document, services, settings_, documents_list_,
                   [this](AudioDocument& d) { return SaveDocument(d, false); },
                   [this](const DocumentRef& part) { AddDocumentWindow(part); }) == kDone;
      }
      if (const EffectDefinition* effect = FindEffect(id)) {
        if (document == nullptr) return false;
        DocumentServices services{ui(), settings_, *transport_};
        return RunEffectCommand(*document, services, settings_, *effect) == kDone;
      }
      if (id >= kFirstRecentId && id < kFirstRecentId + kRecentSlots) {
        const RecentMenu menu = recent_.RebuildRecentMenu();
        for (const RecentMenuItem& item : menu.items)
          if (item.id == id) return OpenDocument(item.path);
      }
      return false;
  }
}

}  // namespace sonavel
