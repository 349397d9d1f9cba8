#include "gui/document_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>

#include "document/bookmark_file.h"
#include "document/document_list.h"
#include "gui/wave_view.h"
#include "store/time.h"

namespace sonavel {

namespace {

// The snippet scrubbing loops, which the cursor marker covers meanwhile.
constexpr std::int64_t kScrubCursorMs = 25;

// Controls 83 … 89 and 91: tooltips and the text on each button.
struct ButtonSpec {
  int id;
  const char* tooltip;
  const char* text;
};
constexpr ButtonSpec kButtons[8] = {
    {83, "Zoom Out", "−"},
    {84, "Zoom In", "+"},
    {85, "Bereich Zoomen", "[ ]"},
    {86, "Zoom zurücksetzen", "↔"},
    {87, "Vertikaler Zoom", "↕"},
    {88, "Wave Display + oben / - unten", "±"},
    {89, "Wave Display linker Kanal oben / rechter Kanal unten.", "L/R"},
    {91, "Dualer Wave Display linke und rechte Kanäle", "L|R"},
};

// The position bar's page in its own scale (0 … kPositionScrollMax over the whole
// sound): the share of the sound the main view shows, the whole scale when it shows all.
int PositionPage(std::int64_t visible, std::int64_t length) {
  if (length <= 0 || visible >= length) return kPositionScrollMax;
  const std::int64_t page = (visible * kPositionScrollMax + length / 2) / length;
  return static_cast<int>(std::clamp<std::int64_t>(page, 1, kPositionScrollMax));
}

}  // namespace

DocumentWindow::DocumentWindow(DocumentRef document, Ui& ui, std::function<bool(AudioDocument&)> save,
                               QWidget* parent)
    : QMdiSubWindow(parent),
      document_(std::move(document)),
      ui_(ui),
      save_(std::move(save)),
      body_(new QWidget(this)),
      overview_(new WaveView(body_)),
      main_(new WaveView(body_)),
      position_(new QScrollBar(Qt::Horizontal, body_)),
      modes_(new QButtonGroup(this)),
      selection_timer_(new QTimer(this)) {
  setObjectName("LWaveWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(style()->standardIcon(QStyle::SP_MediaVolume));
  overview_->setObjectName("80");
  main_->setObjectName("81");
  position_->setObjectName("82");
  position_->setRange(0, 0);
  position_->setPageStep(kPositionScrollMax);
  for (int i = 0; i < 8; ++i) {
    auto* button = new QToolButton(body_);
    button->setObjectName(QString::number(kButtons[i].id));
    button->setToolTip(kButtons[i].tooltip);
    button->setText(kButtons[i].text);
    buttons_[i] = button;
  }
  buttons_[4]->setCheckable(true);
  for (int mode = 0; mode < 3; ++mode) {
    buttons_[5 + mode]->setCheckable(true);
    modes_->addButton(buttons_[5 + mode], mode);
  }
  connect(buttons_[0], &QToolButton::clicked, this, [this] { ZoomOut(*document_); });
  connect(buttons_[1], &QToolButton::clicked, this, [this] { ZoomIn(*document_); });
  connect(buttons_[2], &QToolButton::clicked, this, [this] { ZoomToSelection(*document_); });
  connect(buttons_[3], &QToolButton::clicked, this, [this] { ZoomToAll(*document_); });
  connect(buttons_[4], &QToolButton::clicked, this, [this] { ToggleVerticalZoom(); });
  connect(modes_, &QButtonGroup::idClicked, this, [this](int mode) { SetDisplayMode(mode); });
  connect(position_, &QScrollBar::actionTriggered, this, [this](int action) { Scroll(action); });
  connect(overview_, &WaveView::notice, this, [this](const WaveNotice& n) { Notice(overview_, n); });
  connect(main_, &WaveView::notice, this, [this](const WaveNotice& n) { Notice(main_, n); });
  // Selection changes during a drag reach the document at most every 5 ms.
  selection_timer_->setSingleShot(true);
  selection_timer_->setInterval(5);
  connect(selection_timer_, &QTimer::timeout, this, [this] {
    const FrameRange range = DocumentSelection(main_->markers(), SoundLength(document_->sound));
    document_->state.selection_start = static_cast<std::int32_t>(range.start);
    document_->state.selection_end = static_cast<std::int32_t>(range.end);
    emit changed();
  });
  main_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(main_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { emit contextMenuWanted(main_->mapToGlobal(at)); });
  body_->installEventFilter(this);
  overview_->installEventFilter(this);
  main_->installEventFilter(this);
  setWidget(body_);
  resize(640, 300);
  document_->AddObserver(this);
  RefreshTitle();
  Reattach();
}

DocumentWindow::~DocumentWindow() { document_->RemoveObserver(this); }

bool DocumentWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == body_ && event->type() == QEvent::Resize) Layout();
  if ((watched == main_ || watched == overview_) && event->type() == QEvent::MouseButtonRelease &&
      bookmark_moved_) {
    // Once the view has ended the drag: its bookmarks follow the document's order.
    bookmark_moved_ = false;
    QTimer::singleShot(0, this, [this] {
      document_->bookmarks.Sort();
      document_->Notify(kBookmarksChanged);
    });
  }
  return QMdiSubWindow::eventFilter(watched, event);
}

// Scroll bar and buttons in the bottom row, the overview at the top (12 % of the rest),
// the main view between them.
void DocumentWindow::Layout() {
  const int w = body_->width();
  const int h = body_->height();
  const int bar = static_cast<int>(0.6 * w);
  position_->setGeometry(0, h - 26, bar, 25);
  const int button = std::max(1, static_cast<int>((w - 0.6 * w - 4) / 8));
  for (int i = 0; i < 8; ++i) buttons_[i]->setGeometry(bar + 2 + i * (button + 1), h - 26, button, 25);
  const int top = static_cast<int>(0.12 * (h - 25));
  overview_->setGeometry(0, 0, w, top);
  main_->setGeometry(0, top, w, std::max(1, h - 25 - top));
}

void DocumentWindow::RefreshTitle() {
  setWindowTitle(QString::fromStdString(DisplayTitle(*document_)) + "[*]");
  setWindowModified(document_->state.modified != 0);
}

void DocumentWindow::Reattach() {
  const Sound& sound = document_->sound;
  const bool stereo = sound.channels == 2;
  RefreshAfterSoundChange(*document_);
  // Modes 1 and 2 are for stereo sounds only.
  const int mode = stereo ? std::clamp(document_->view_kind, 0, 2) : 0;
  for (int i = 1; i < 3; ++i) buttons_[5 + i]->setEnabled(stereo);
  modes_->button(mode)->setChecked(true);
  buttons_[4]->setChecked(document_->view_option != 0);
  overview_->Attach(sound, 0, false);
  overview_->SetRange(0, OverviewFrames(sound));
  main_->Attach(sound, mode, document_->view_option != 0);
  // The selection lies inside the sound.
  const std::int32_t length = SoundLength(sound);
  document_->state.selection_start = std::clamp(document_->state.selection_start, 0, length);
  document_->state.selection_end = std::clamp(document_->state.selection_end, 0, length);
  ShowRange();
  ShowMarkers();
}

void DocumentWindow::ShowRange() {
  main_->SetRange(document_->state.view_start, document_->state.view_end - document_->state.view_start);
  ShowPosition();
}

// Qt draws the thumb pageStep / (maximum + pageStep) of the bar long, so the bar runs
// over what is left of the scale beside the page; the cursor's place on the whole scale
// is mapped onto that travel, and back in Scroll().
void DocumentWindow::ShowPosition() {
  const EditState& state = document_->state;
  const std::int64_t length = SoundLength(document_->sound);
  const int page = PositionPage(std::int64_t{state.view_end} - state.view_start, length);
  const int travel = kPositionScrollMax - page;
  position_->setPageStep(page);
  position_->setRange(0, travel);
  const std::int64_t thumb = std::min<std::int64_t>(PositionScrollThumb(state.cursor, length), kPositionScrollMax);
  position_->setValue(static_cast<int>(thumb * travel / kPositionScrollMax));
}

void DocumentWindow::ShowMarkers() {
  const EditState& state = document_->state;
  const std::int64_t length = SoundLength(document_->sound);
  std::vector<WaveBookmark> bookmarks;
  for (const Bookmark& mark : document_->bookmarks.bookmarks())
    bookmarks.push_back({mark.name, mark.position, BookmarkFrame(*document_, mark.position)});
  for (WaveView* view : {overview_, main_}) {
    view->SetEndMarker(length);
    view->SetSelection(state.selection_start, state.selection_end);
    view->SetCursor(CursorDisplayFrame(state.cursor, length),
                    scrubbing_ ? MsToFrames(kScrubCursorMs, document_->sound.rate) : 0);
    view->SetBookmarks(bookmarks);
  }
  ShowPosition();
}

void DocumentWindow::SetScrubbing(bool scrubbing) {
  if (scrubbing == scrubbing_) return;
  scrubbing_ = scrubbing;
  ShowMarkers();
}

void DocumentWindow::SetDisplayMode(int mode) {
  document_->view_kind = std::clamp(mode, 0, 2);
  Reattach();
}

void DocumentWindow::ToggleVerticalZoom() {
  document_->view_option = document_->view_option != 0 ? 0 : 1;
  Reattach();
}

void DocumentWindow::Scroll(int action) {
  const std::int64_t length = SoundLength(document_->sound);
  PositionScroll kind = PositionScroll::kThumb;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub: kind = PositionScroll::kLineLeft; break;
    case QAbstractSlider::SliderSingleStepAdd: kind = PositionScroll::kLineRight; break;
    case QAbstractSlider::SliderPageStepSub: kind = PositionScroll::kPageLeft; break;
    case QAbstractSlider::SliderPageStepAdd: kind = PositionScroll::kPageRight; break;
    case QAbstractSlider::SliderMove: kind = PositionScroll::kThumb; break;
    default: return;
  }
  // The thumb's place on its travel, back on the whole scale.
  const int travel = position_->maximum();
  const int position =
      travel > 0 ? (position_->sliderPosition() * kPositionScrollMax + travel / 2) / travel : 0;
  const std::int64_t cursor =
      PositionScrollTarget(kind, position, document_->state.cursor, document_->sound.rate, length);
  document_->state.cursor = static_cast<std::int32_t>(cursor);
  document_->Notify(kCursorChanged);
}

void DocumentWindow::Notice(WaveView* view, const WaveNotice& notice) {
  switch (notice.code) {
    case WaveCode::kReleased: {
      // The click or drag is over: the document takes the view's selection and cursor.
      const std::int64_t length = SoundLength(document_->sound);
      const FrameRange range = DocumentSelection(view->markers(), length);
      SetSelection(*document_, static_cast<std::int32_t>(range.start), static_cast<std::int32_t>(range.end),
                   static_cast<std::int32_t>(std::clamp<std::int64_t>(view->markers().cursor(), 0, length)));
      emit released();
      break;
    }
    case WaveCode::kSelectionChanged:
      if (!selection_timer_->isActive()) selection_timer_->start();
      break;
    case WaveCode::kOverBookmark: {
      const auto& bookmarks = view->markers().bookmarks();
      if (notice.bookmark >= 0 && notice.bookmark < static_cast<int>(bookmarks.size())) {
        QString text = QString::fromStdString(BookmarkTooltip(bookmarks[notice.bookmark]));
        text.replace("\r\n", "\n");
        QToolTip::showText(view->mapToGlobal(QPoint(notice.x, notice.y - 40)), text, view);
      }
      break;
    }
    case WaveCode::kNoBookmark:
      QToolTip::hideText();
      break;
    case WaveCode::kBookmarkMoved: {
      // The view moved a bookmark: the document keeps the new position.
      auto& marks = document_->bookmarks.bookmarks();
      const auto& moved = view->markers().bookmarks();
      for (std::size_t i = 0; i < marks.size() && i < moved.size(); ++i) marks[i].position = moved[i].position_ms;
      document_->state.modified = 1;
      bookmark_moved_ = true;
      document_->Notify(kModifiedChanged | kBookmarksChanged);
      break;
    }
    case WaveCode::kBeyondRight:
    case WaveCode::kBackFromRight:
    case WaveCode::kAtLeft:
    case WaveCode::kBackFromLeft:
      emit edgeTracking(static_cast<int>(notice.code));
      break;
    default:
      break;
  }
}

void DocumentWindow::DocumentChanged(AudioDocument&, unsigned changes) {
  if ((changes & kSoundChanged) != 0) {
    Reattach();
  } else {
    if ((changes & kViewChanged) != 0) ShowRange();
    if ((changes & (kSelectionChanged | kCursorChanged | kBookmarksChanged)) != 0) ShowMarkers();
  }
  if ((changes & kBookmarksChanged) != 0) emit bookmarksChanged();
  if ((changes & (kTitleChanged | kModifiedChanged | kSoundChanged)) != 0) RefreshTitle();
  if ((changes & (kUndoChanged | kModifiedChanged | kSoundChanged | kSelectionChanged | kCursorChanged)) != 0)
    emit changed();
}

void DocumentWindow::Discard() {
  ask_before_close_ = false;
  close();
}

void DocumentWindow::closeEvent(QCloseEvent* event) {
  if (ask_before_close_ && !ConfirmClose(*document_, ui_, save_)) {
    event->ignore();
    return;
  }
  overview_->Detach();
  main_->Detach();
  emit closed(this);
  QMdiSubWindow::closeEvent(event);
}

}  // namespace sonavel
