#include "gui/spectrogram_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

#include "platform/setting_keys.h"
#include "platform/settings.h"
#include "views/spectrogram_view.h"

namespace sonavel {

namespace {

// The control column right of the graph, and the height of its buttons.
constexpr int kColumnWidth = 40;
constexpr int kButtonHeight = 26;
// The playback cursor.
constexpr QRgb kCursorColour = qRgb(0, 255, 0);

QToolButton* MakeButton(QWidget* parent, int id, const char* text, const char* tooltip) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QString::number(id));
  button->setText(text);
  button->setToolTip(tooltip);
  return button;
}

}  // namespace

SpectrogramGraph::SpectrogramGraph(SpectrogramWindow& window, QWidget* parent) : QWidget(parent), window_(window) {
  setObjectName("101");
  setMouseTracking(true);
  // Every pixel comes from the picture: Qt need not clear the background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

bool SpectrogramGraph::EnsurePicture() {
  const int w = std::max(width(), 1);
  const int h = std::max(height(), 1);
  if (!stale_ && picture_.width() == w && picture_.height() == h) return false;
  stale_ = false;
  ++renders_;
  pixels_ = RenderSpectrogram(window_.data(), window_.look(), w, h);
  pixels_.resize(static_cast<std::size_t>(w) * h);
  // A sunken border: black along the top and left edges, white along the bottom and right.
  constexpr std::uint32_t kBlack = 0xFF000000u;
  constexpr std::uint32_t kWhite = 0xFFFFFFFFu;
  std::fill_n(pixels_.begin(), w, kBlack);
  std::fill_n(pixels_.begin() + static_cast<std::ptrdiff_t>(h - 1) * w, w, kWhite);
  for (int y = 0; y < h; ++y) {
    pixels_[static_cast<std::size_t>(y) * w] = y == h - 1 ? kWhite : kBlack;
    pixels_[static_cast<std::size_t>(y) * w + w - 1] = y == 0 ? kBlack : kWhite;
  }
  picture_ = QImage(reinterpret_cast<const uchar*>(pixels_.data()), w, h, w * 4, QImage::Format_RGB32);
  return true;
}

void SpectrogramGraph::Paint(QPainter& painter, const QRect& area) {
  painter.drawImage(area.topLeft(), picture_, area);
  if (cursor_x_ >= area.left() && cursor_x_ <= area.right()) {
    painter.setPen(QColor(kCursorColour));
    painter.drawLine(cursor_x_, std::max(area.top(), 1), cursor_x_, std::min(area.bottom(), height() - 2));
  }
}

void SpectrogramGraph::SetCursorX(int x) {
  if (x == cursor_x_) return;
  const int old = cursor_x_;
  cursor_x_ = x;
  if (old >= 0) update(CursorStrip(old));
  if (x >= 0) update(CursorStrip(x));
}

void SpectrogramGraph::paintEvent(QPaintEvent* event) {
  EnsurePicture();
  QPainter painter(this);
  Paint(painter, event->rect());
}

void SpectrogramGraph::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  window_.ShowStatus(at.x(), at.y());
}

void SpectrogramGraph::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) window_.GraphClicked(event->position().toPoint().x());
}

SpectrogramWindow::SpectrogramWindow(DocumentRef document, SpectrogramData data, Settings& settings,
                                     QWidget* parent)
    : QMdiSubWindow(parent),
      document_(std::move(document)),
      data_(std::move(data)),
      settings_(settings),
      body_(new QWidget(this)),
      graph_(new SpectrogramGraph(*this, body_)),
      zoom_in_(MakeButton(body_, 103, "0-4k", "Zoomed den Breich von 0 - 4000Hz")),
      zoom_out_(MakeButton(body_, 104, "Voll", "Zoom Out um de kompletten Graph zu sehen")),
      brightness_(new QSlider(Qt::Vertical, body_)),
      range_(MakeButton(body_, 102, "[ ]", "Stellt den analysierten Bereich in der Wavform wieder her")),
      grid_(MakeButton(body_, 107, "#", "Schaltet dei Gitterlinien an oder aus")),
      status_(new QStatusBar(body_)) {
  setObjectName("LTFFTWindow");
  setWindowTitle("Temporale Frequenz Analyse");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
  look_.zoom_4000 = settings_.Read(setting::kTfftFullZoomOn);
  look_.brightness = settings_.Read(setting::kTfftVScroll);  // a stored value beyond 0 … 100 gives 25
  look_.grid = settings_.Read(setting::kGridToggle);

  brightness_->setObjectName("105");
  brightness_->setToolTip("Verändert die Helligkeit des Graphen");
  brightness_->setRange(0, 100);
  // 0 at the top, the brightest, as the trackbar has always shown it.
  brightness_->setInvertedAppearance(true);
  brightness_->setValue(look_.brightness);
  grid_->setCheckable(true);
  grid_->setChecked(look_.grid);
  status_->setObjectName("106");
  status_->setSizeGripEnabled(false);
  connect(zoom_in_, &QToolButton::clicked, this, [this] { SetZoom(true); });
  connect(zoom_out_, &QToolButton::clicked, this, [this] { SetZoom(false); });
  connect(brightness_, &QSlider::valueChanged, this, &SpectrogramWindow::SetBrightness);
  connect(grid_, &QToolButton::toggled, this, &SpectrogramWindow::SetGrid);
  connect(range_, &QToolButton::clicked, this,
          [this] { emit selectRange(data_.start, data_.start + data_.length); });
  body_->installEventFilter(this);
  setWidget(body_);
  resize(640, 360);
  RefreshControls();
  document_->AddObserver(this);
  RefreshCursor();
}

SpectrogramWindow::~SpectrogramWindow() { document_->RemoveObserver(this); }

void SpectrogramWindow::SetData(DocumentRef document, SpectrogramData data) {
  document_->RemoveObserver(this);
  document_ = std::move(document);
  document_->AddObserver(this);
  data_ = std::move(data);
  graph_->Invalidate();
  graph_->update();
  RefreshCursor();
}

void SpectrogramWindow::SetZoom(bool zoom_4000) {
  if (look_.zoom_4000 == zoom_4000) return;
  look_.zoom_4000 = zoom_4000;
  RefreshControls();
  graph_->Invalidate();
  graph_->update();
}

void SpectrogramWindow::SetBrightness(int trackbar) {
  trackbar = std::clamp(trackbar, 0, 100);
  if (look_.brightness == trackbar) return;
  look_.brightness = trackbar;
  brightness_->setValue(trackbar);
  graph_->Invalidate();
  graph_->update();
}

void SpectrogramWindow::SetGrid(bool grid) {
  if (look_.grid == grid) return;
  look_.grid = grid;
  grid_->setChecked(grid);
  graph_->Invalidate();
  graph_->update();
}

void SpectrogramWindow::RefreshControls() {
  // Only the zoom not in force can be chosen.
  zoom_in_->setEnabled(!look_.zoom_4000);
  zoom_out_->setEnabled(look_.zoom_4000);
}

void SpectrogramWindow::ShowStatus(int x, int y) {
  status_->showMessage(QString::fromStdString(
      SpectrogramStatusText(data_, look_.zoom_4000, x, y, graph_->width(), graph_->height())));
}

void SpectrogramWindow::GraphClicked(int x) {
  const SpectrogramPoint point =
      SpectrogramPointAt(data_, look_.zoom_4000, x, 0, graph_->width(), graph_->height());
  // The document may have become shorter since the analysis.
  document_->state.cursor = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(point.frame, 0, SoundLength(document_->sound)));
  document_->Notify(kCursorChanged);
  emit cursorClicked();
}

void SpectrogramWindow::DocumentChanged(AudioDocument&, unsigned changes) {
  if ((changes & kCursorChanged) != 0) RefreshCursor();
}

void SpectrogramWindow::RefreshCursor() {
  graph_->SetCursorX(SpectrogramCursorX(data_, document_->state.cursor, graph_->width()));
}

void SpectrogramWindow::Layout() {
  const int w = body_->width();
  const int h = body_->height();
  const int status_height = status_->sizeHint().height();
  const int graph_width = std::max(1, w - kColumnWidth);
  const int graph_height = std::max(1, h - status_height);
  graph_->setGeometry(0, 0, graph_width, graph_height);
  zoom_in_->setGeometry(graph_width, 0, kColumnWidth, kButtonHeight);
  zoom_out_->setGeometry(graph_width, kButtonHeight, kColumnWidth, kButtonHeight);
  const int slider_height = std::max(0, graph_height - 4 * kButtonHeight);
  brightness_->setGeometry(graph_width, 2 * kButtonHeight, kColumnWidth, slider_height);
  range_->setGeometry(graph_width, 2 * kButtonHeight + slider_height, kColumnWidth, kButtonHeight);
  grid_->setGeometry(graph_width, 3 * kButtonHeight + slider_height, kColumnWidth, kButtonHeight);
  status_->setGeometry(0, graph_height, w, status_height);
  RefreshCursor();
}

bool SpectrogramWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == body_ && event->type() == QEvent::Resize) Layout();
  return QMdiSubWindow::eventFilter(watched, event);
}

void SpectrogramWindow::closeEvent(QCloseEvent* event) {
  settings_.WriteUser(setting::kTfftFullZoomOn, look_.zoom_4000);
  settings_.WriteUser(setting::kTfftVScroll.key, look_.brightness);
  settings_.WriteUser(setting::kGridToggle, look_.grid);
  emit closed();
  QMdiSubWindow::closeEvent(event);
}

}  // namespace sonavel
