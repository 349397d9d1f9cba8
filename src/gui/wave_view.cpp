#include "gui/wave_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

namespace sonavel {

namespace {

QColor ToQt(const WaveColour& colour, const QPalette& palette) {
  switch (colour.system) {
    case SystemColour::kButtonFace: return palette.color(QPalette::Button);
    case SystemColour::kGrayText: return palette.color(QPalette::Disabled, QPalette::Text);
    case SystemColour::kNone: break;
  }
  return QColor(colour.red, colour.green, colour.blue);
}

}  // namespace

WaveView::WaveView(QWidget* parent) : QWidget(parent) {
  setObjectName("LSVWaveWindow");
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // The column thread reports from its own thread: repaint on the user-interface thread.
  worker_.SetCallbacks(
      [this](int, int, int) { QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection); },
      [this](bool start, std::int32_t frame) {
        QMetaObject::invokeMethod(
            this,
            [this, start, frame] {
              const WaveMapping now = mapping();
              Repaint(start ? markers_.SetSelectionStart(now, frame) : markers_.SetSelectionEnd(now, frame));
              emit notice(WaveNotice{WaveCode::kSelectionChanged});
            },
            Qt::QueuedConnection);
      });
}

WaveView::~WaveView() { worker_.Detach(); }

void WaveView::Attach(const Sound& sound, int display_mode, bool vertical_zoom) {
  display_mode_ = display_mode;
  channels_ = std::max<int>(sound.channels, 1);
  markers_.set_rate(sound.rate);
  worker_.Resize(width(), height());
  worker_.Attach(sound, ColumnOptions{channels_, display_mode, vertical_zoom});
  setEnabled(true);
  update();
}

void WaveView::Detach() {
  worker_.Detach();
  setEnabled(false);
  update();
}

void WaveView::SetRange(std::int32_t first_frame, std::int32_t frame_count) {
  worker_.SetRange(first_frame, frame_count);
}

WaveMapping WaveView::mapping() const {
  WaveMapping copy;
  worker_.Snapshot([&copy](const WaveMapping& mapping, const std::uint8_t*, const std::uint8_t*) { copy = mapping; });
  return copy;
}

void WaveView::Repaint(const std::vector<PixelStrip>& strips) {
  for (const PixelStrip& strip : strips) update(QRect(strip.left, strip.top, strip.right - strip.left, strip.bottom - strip.top));
}

void WaveView::SetCursor(std::int64_t frame, std::int64_t width) { Repaint(markers_.SetCursor(mapping(), frame, width)); }
void WaveView::SetEndMarker(std::int64_t frame) { Repaint(markers_.SetEndMarker(mapping(), frame)); }

void WaveView::SetSelection(std::int64_t start, std::int64_t end) {
  const WaveMapping now = mapping();
  Repaint(markers_.SetSelectionStart(now, start));
  Repaint(markers_.SetSelectionEnd(now, end));
}

void WaveView::SetBookmarks(std::vector<WaveBookmark> bookmarks) {
  markers_.SetBookmarks(std::move(bookmarks));
  update();
}

void WaveView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // Only a view without a sound is blank: a frame disabled under a progress window or a
  // message box still shows its sounds.
  if (!worker_.attached()) {
    painter.fillRect(rect(), palette().color(QPalette::Disabled, QPalette::Window));
    return;
  }
  std::vector<PaintOp> ops;
  worker_.Snapshot([&](const WaveMapping& mapping, const std::uint8_t* upper, const std::uint8_t* lower) {
    const auto count = static_cast<std::size_t>(kMaxColumns);
    ops = PaintWave(mapping, markers_, std::span<const std::uint8_t>(upper, count),
                    std::span<const std::uint8_t>(lower, count), display_mode_, channels_, 0, mapping.width - 1);
  });
  painter.fillRect(rect(), palette().color(QPalette::Button));
  for (const PaintOp& op : ops) {
    const QColor colour = ToQt(op.colour, palette());
    switch (op.kind) {
      case PaintOp::Kind::kFill:
        painter.fillRect(QRect(op.left, op.top, op.right - op.left, op.bottom - op.top), colour);
        break;
      case PaintOp::Kind::kLine:
      case PaintOp::Kind::kDottedLine:
        painter.setPen(QPen(colour, 1, op.kind == PaintOp::Kind::kDottedLine ? Qt::DotLine : Qt::SolidLine));
        painter.drawLine(op.left, op.top, op.right, op.bottom);
        break;
      case PaintOp::Kind::kTriangle: {
        QPolygon triangle;
        for (const PaintPoint& point : op.points) triangle << QPoint(point.x, point.y);
        painter.setPen(colour);
        painter.setBrush(colour);
        painter.drawPolygon(triangle);
        painter.setBrush(Qt::NoBrush);
        break;
      }
    }
  }
}

void WaveView::resizeEvent(QResizeEvent*) { worker_.Resize(width(), height()); }

void WaveView::Handle(const WaveMouseResult& result) {
  Repaint(result.repaint);
  switch (result.cursor) {
    case WaveCursorShape::kArrow: setCursor(Qt::ArrowCursor); break;
    case WaveCursorShape::kResize: setCursor(Qt::SizeHorCursor); break;
    case WaveCursorShape::kHand: setCursor(Qt::PointingHandCursor); break;
  }
  worker_.SetEdgeState(markers_.edge_state());
  for (const WaveNotice& notice : result.notices) emit this->notice(notice);
}

void WaveView::mousePressEvent(QMouseEvent* event) {
  Handle(markers_.Press(mapping(), event->position().toPoint().x(), event->position().toPoint().y(),
                        (event->modifiers() & Qt::ShiftModifier) != 0));
}

void WaveView::mouseMoveEvent(QMouseEvent* event) {
  Handle(markers_.Move(mapping(), event->position().toPoint().x(), event->position().toPoint().y(),
                       (event->modifiers() & Qt::ShiftModifier) != 0));
}

void WaveView::mouseReleaseEvent(QMouseEvent* event) {
  Handle(markers_.Release(mapping(), event->position().toPoint().x(), event->position().toPoint().y(),
                          (event->modifiers() & Qt::ShiftModifier) != 0));
}

}  // namespace sonavel
