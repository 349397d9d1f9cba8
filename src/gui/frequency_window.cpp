#include "gui/frequency_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPolygon>
#include <QScrollBar>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <span>
#include <vector>

#include "views/wave_mouse.h"

namespace sonavel {

namespace {

// Every button is 26 × 26 pixels; the scroll bars are as thick.
constexpr int kButton = 26;
// The hover text's area.
constexpr int kHoverWidth = 120;
constexpr int kHoverHeight = 13;

const QColor kBackground(64, 64, 64);
const QColor kHundredHzLine(105, 105, 105);
const QColor kSixDbLine(112, 128, 144);
const QColor kThousandHzLine(186, 186, 186);
const QColor kChannel0(255, 192, 0);
const QColor kChannel1(255, 64, 64);

void DrawCurve(QPainter& painter, const FrequencyAxis& axis, std::span<const int> levels, const QColor& colour) {
  const std::vector<int> rows = CurveRows(axis, levels);
  QPolygon curve(static_cast<int>(rows.size()));
  for (int x = 0; x < static_cast<int>(rows.size()); ++x) curve.setPoint(x, x, rows[x]);
  painter.setPen(colour);
  painter.drawPolyline(curve);
}

}  // namespace

FrequencyGraph::FrequencyGraph(QWidget* parent) : QWidget(parent) {
  setObjectName("101");
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void FrequencyGraph::SetData(const SpectrumData& data) {
  data_ = data;
  update();
}

void FrequencyGraph::SetView(int horizontal_zoom, int horizontal_scroll, int vertical_zoom, int vertical_scroll) {
  horizontal_zoom_ = horizontal_zoom;
  horizontal_scroll_ = horizontal_scroll;
  vertical_zoom_ = vertical_zoom;
  vertical_scroll_ = vertical_scroll;
  update();
}

FrequencyAxis FrequencyGraph::axis() const {
  FrequencyAxis axis;
  axis.width = std::max(width(), 1);
  axis.height = std::max(height(), 1);
  axis.horizontal_zoom = horizontal_zoom_;
  axis.horizontal_scroll = horizontal_scroll_;
  axis.vertical_zoom = vertical_zoom_;
  axis.vertical_scroll = vertical_scroll_;
  return axis;
}

QRect FrequencyGraph::HoverRect() const {
  return QRect(width() - 20 - kHoverWidth, 2, kHoverWidth, kHoverHeight);
}

void FrequencyGraph::Paint(QPainter& painter) const {
  const FrequencyAxis axis = this->axis();
  // Grid lines are one-pixel rectangles: filled spans are much cheaper than stroked lines.
  painter.fillRect(QRect(0, 0, axis.width, axis.height), kBackground);
  for (int x : FrequencyGridColumns(axis, data_.rate, 100)) painter.fillRect(x, 0, 1, axis.height, kHundredHzLine);
  for (int y : AttenuationGridRows(axis)) painter.fillRect(0, y, axis.width, 1, kSixDbLine);
  for (int x : FrequencyGridColumns(axis, data_.rate, 1000)) painter.fillRect(x, 0, 1, axis.height, kThousandHzLine);

  const std::span<const int> levels(data_.levels);
  if (levels.size() >= static_cast<std::size_t>(kSpectrumBins))
    DrawCurve(painter, axis, levels.first(kSpectrumBins), kChannel0);
  if (data_.stereo && levels.size() >= 2 * static_cast<std::size_t>(kSpectrumBins))
    DrawCurve(painter, axis, levels.subspan(kSpectrumBins, kSpectrumBins), kChannel1);

  if (!hover_.isEmpty()) {
    QFont font = painter.font();
    font.setPixelSize(kHoverHeight);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(HoverRect(), Qt::AlignRight | Qt::AlignTop, hover_);
  }

  // The sunken border of the waveform view, on the graph's outermost pixels.
  for (const PaintOp& op : BorderLines(axis.width - 2, axis.height - 1)) {
    painter.setPen(QColor(op.colour.red, op.colour.green, op.colour.blue));
    painter.drawLine(op.left, op.top, op.right, op.bottom);
  }
}

void FrequencyGraph::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setClipRegion(event->region());
  Paint(painter);
}

void FrequencyGraph::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const FrequencyAxis axis = this->axis();
  hover_ = QString::asprintf("%d Hz, %d dB", FrequencyOfBin(axis.BinAtPixel(at.x()), data_.rate),
                             -axis.AttenuationAtPixel(at.y()));
  update(HoverRect());
}

FrequencyWindow::FrequencyWindow(QWidget* parent)
    : QMdiSubWindow(parent),
      body_(new QWidget(this)),
      graph_(new FrequencyGraph(body_)),
      vertical_(new QScrollBar(Qt::Vertical, body_)),
      horizontal_(new QScrollBar(Qt::Horizontal, body_)) {
  setObjectName("LFrequencyWindow");
  setWindowTitle("Frequenzanalyse");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(style()->standardIcon(QStyle::SP_MediaVolume));
  vertical_->setObjectName("104");
  vertical_->setToolTip("Hier klicken um um das Frequenzfenster vertikal zu scrollen");
  horizontal_->setObjectName("107");
  horizontal_->setToolTip("Hier Klicken um das Frequenzfenster horizontal zu scrollen");
  auto button = [this](int id, const char* tooltip, const char* text) {
    auto* made = new QToolButton(body_);
    made->setObjectName(QString::number(id));
    made->setToolTip(tooltip);
    made->setText(text);
    return made;
  };
  vertical_in_ = button(103, "Vertikaler Zoom In", "+");
  vertical_out_ = button(105, "Vertikaler Zoom Out", "−");
  horizontal_out_ = button(106, "Horizontaler Zoom Out", "−");
  horizontal_in_ = button(108, "Horizontaler Zoom In", "+");
  default_zoom_ = button(109, "Zoom to Default", "1:1");
  connect(vertical_in_, &QToolButton::clicked, this, [this] { Zoom(true, 1); });
  connect(vertical_out_, &QToolButton::clicked, this, [this] { Zoom(true, -1); });
  connect(horizontal_in_, &QToolButton::clicked, this, [this] { Zoom(false, 1); });
  connect(horizontal_out_, &QToolButton::clicked, this, [this] { Zoom(false, -1); });
  connect(default_zoom_, &QToolButton::clicked, this, [this] { ZoomToDefault(); });
  // Line steps move by 1, page steps by a page; dragging the thumb sets the position.
  for (QScrollBar* bar : {vertical_, horizontal_}) {
    bar->setSingleStep(1);
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      graph_->SetView(horizontal_zoom_, horizontal_->value(), vertical_zoom_, vertical_->value());
    });
  }
  body_->installEventFilter(this);
  setWidget(body_);
  Refresh();
  resize(640, 360);
}

void FrequencyWindow::SetData(const SpectrumData& data) { graph_->SetData(data); }

void FrequencyWindow::closeEvent(QCloseEvent* event) {
  emit closed(this);
  QMdiSubWindow::closeEvent(event);
}

bool FrequencyWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == body_ && event->type() == QEvent::Resize) Layout();
  return QMdiSubWindow::eventFilter(watched, event);
}

// The graph fills all but a 26-pixel column on the right and row at the bottom: the
// vertical scroll bar with buttons 103 and 105 below it, the horizontal one with 108, 106
// and 109 to its right.
void FrequencyWindow::Layout() {
  const int w = body_->width();
  const int h = body_->height();
  graph_->setGeometry(0, 0, std::max(w - kButton, 1), std::max(h - kButton, 1));
  vertical_->setGeometry(w - kButton, 0, kButton, std::max(h - 3 * kButton, 0));
  vertical_in_->setGeometry(w - kButton, h - 3 * kButton, kButton, kButton);
  vertical_out_->setGeometry(w - kButton, h - 2 * kButton, kButton, kButton);
  horizontal_->setGeometry(0, h - kButton, std::max(w - 3 * kButton, 0), kButton);
  horizontal_in_->setGeometry(w - 3 * kButton, h - kButton, kButton, kButton);
  horizontal_out_->setGeometry(w - 2 * kButton, h - kButton, kButton, kButton);
  default_zoom_->setGeometry(w - kButton, h - kButton, kButton, kButton);
}

void FrequencyWindow::Zoom(bool vertical, int step) {
  int& level = vertical ? vertical_zoom_ : horizontal_zoom_;
  level = std::clamp(level + step, 0, kMaxFrequencyZoom);
  Refresh();
}

void FrequencyWindow::ZoomToDefault() {
  horizontal_zoom_ = 0;
  vertical_zoom_ = 0;
  horizontal_->setValue(0);
  vertical_->setValue(0);
  Refresh();
}

void FrequencyWindow::Refresh() {
  vertical_in_->setEnabled(vertical_zoom_ < kMaxFrequencyZoom);
  vertical_out_->setEnabled(vertical_zoom_ > 0);
  horizontal_in_->setEnabled(horizontal_zoom_ < kMaxFrequencyZoom);
  horizontal_out_->setEnabled(horizontal_zoom_ > 0);
  // A bar of 0 … 100 with a page of 101 / 2^level: the thumb's last position is 101 - page.
  const QSignalBlocker block_vertical(vertical_);
  const QSignalBlocker block_horizontal(horizontal_);
  vertical_->setPageStep(FrequencyScrollPage(vertical_zoom_));
  vertical_->setRange(0, kFrequencyScrollMax + 1 - FrequencyScrollPage(vertical_zoom_));
  horizontal_->setPageStep(FrequencyScrollPage(horizontal_zoom_));
  horizontal_->setRange(0, kFrequencyScrollMax + 1 - FrequencyScrollPage(horizontal_zoom_));
  graph_->SetView(horizontal_zoom_, horizontal_->value(), vertical_zoom_, vertical_->value());
}

}  // namespace sonavel
