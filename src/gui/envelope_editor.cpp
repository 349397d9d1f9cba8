#include "gui/envelope_editor.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gui/point_plot.h"

namespace sonavel {
namespace {

// The gains that get a grid line and a label: 200 % (almost), 150 %, 100 %, 50 %, 0 %.
constexpr int kLabelledGains[] = {255, 192, 128, 64, 0};

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

std::string PercentText(int y) {
  return std::to_string(static_cast<int>(std::lround(y * 100.0 / kEnvelopeUnity))) + " %";
}

std::string DecibelText(int y) {
  if (y <= 0) return "-∞ dB";
  char text[32];
  std::snprintf(text, sizeof text, "%+.1f dB", 20.0 * std::log10(static_cast<double>(y) / kEnvelopeUnity));
  std::string result = text;
  if (result.rfind("+0.0", 0) == 0 || result.rfind("-0.0", 0) == 0) result.erase(0, 1);  // unity has no sign
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

EnvelopePoints DefaultEnvelope() { return {{0, kEnvelopeUnity}, {255, kEnvelopeUnity}}; }

EnvelopePoints NormalizeEnvelope(EnvelopePoints points) {
  if (points.size() > kMaxEnvelopePoints) points.resize(kMaxEnvelopePoints);
  if (points.size() < 2) return DefaultEnvelope();
  for (std::size_t i = 1; i < points.size(); ++i) points[i].first = std::max(points[i].first, points[i - 1].first);
  points.front().first = 0;
  points.back().first = 255;
  return points;
}

std::optional<std::size_t> AddEnvelopePoint(EnvelopePoints& points, int x, int y) {
  if (points.size() >= kMaxEnvelopePoints) return std::nullopt;
  const std::uint8_t bx = Byte(x);
  std::size_t index = static_cast<std::size_t>(
      std::upper_bound(points.begin(), points.end(), bx, [](std::uint8_t v, const auto& p) { return v < p.first; }) -
      points.begin());
  // Never before the first point or after the last: they hold the ends of the selection.
  if (points.size() >= 2) index = std::clamp<std::size_t>(index, 1, points.size() - 1);
  points.insert(points.begin() + static_cast<std::ptrdiff_t>(index), {bx, Byte(y)});
  return index;
}

void MoveEnvelopePoint(EnvelopePoints& points, std::size_t index, int x, int y) {
  if (index >= points.size()) return;
  int low = 0;
  int high = 0;
  if (index == 0) {
    low = high = 0;
  } else if (index + 1 == points.size()) {
    low = high = 255;
  } else {
    low = points[index - 1].first;
    high = std::max<int>(low, points[index + 1].first);
  }
  points[index] = {Byte(std::clamp(x, low, high)), Byte(y)};
}

bool RemoveEnvelopePoint(EnvelopePoints& points, std::size_t index) {
  if (index == 0 || index + 1 >= points.size()) return false;
  points.erase(points.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

std::string EnvelopeGainText(int y) { return PercentText(y) + " (" + DecibelText(y) + ")"; }

EnvelopeEditor::EnvelopeEditor(QWidget* parent) : QWidget(parent) {
  setObjectName("envelopeEditor");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::CrossCursor);
  setToolTip("Klicken fügt einen Punkt hinzu, Ziehen verschiebt ihn, Rechtsklick oder Doppelklick entfernt ihn.");
}

void EnvelopeEditor::SetPoints(EnvelopePoints points) {
  points_ = NormalizeEnvelope(std::move(points));
  dragged_.reset();
  hovered_.reset();
  update();
  emit PointsChanged();
  emit PointHovered(std::nullopt);
}

QRectF EnvelopeEditor::PlotArea() const {
  const QFontMetrics metrics = fontMetrics();
  const double left = metrics.horizontalAdvance("200 %") + 14;
  const double right = metrics.horizontalAdvance("+6,0 dB") + 14;
  const double top = metrics.height() / 2.0 + 6;
  const double bottom = metrics.height() + 12;
  return QRectF(left, top, std::max(10.0, width() - left - right), std::max(10.0, height() - top - bottom));
}

QPointF EnvelopeEditor::ToWidget(int x, int y) const { return PlotPosition(PlotArea(), x, y); }

std::pair<int, int> EnvelopeEditor::FromWidget(QPointF at) const { return PlotValue(PlotArea(), at); }

std::optional<std::size_t> EnvelopeEditor::PointAt(QPointF at) const { return PlotPointAt(PlotArea(), points_, at); }

void EnvelopeEditor::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.fillRect(rect(), palette().window());
  const QRectF area = PlotArea();
  painter.fillRect(area, QColor(252, 252, 248));

  // Grid: eighths of the selection across, the labelled gains up.
  const QFontMetrics metrics = fontMetrics();
  painter.setPen(QPen(QColor(222, 222, 216), 1));
  for (int i = 1; i < 8; ++i) {
    const double x = area.left() + area.width() * i / 8.0;
    painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
  }
  for (int gain : kLabelledGains) {
    const QPointF at = ToWidget(0, gain);
    if (gain != kEnvelopeUnity) {
      painter.setPen(QPen(QColor(222, 222, 216), 1));
      painter.drawLine(QPointF(area.left(), at.y()), QPointF(area.right(), at.y()));
    }
    painter.setPen(palette().color(QPalette::WindowText));
    const double baseline = at.y() + metrics.ascent() / 2.0 - 1;
    const QString percent = Q(PercentText(gain));
    painter.drawText(QPointF(area.left() - 6 - metrics.horizontalAdvance(percent), baseline), percent);
    painter.drawText(QPointF(area.right() + 6, baseline), Q(DecibelText(gain)));
  }
  painter.setPen(palette().color(QPalette::WindowText));
  const double below = area.bottom() + metrics.ascent() + 6;
  painter.drawText(QPointF(area.left(), below), "Anfang der Auswahl");
  const QString end = "Ende der Auswahl";
  painter.drawText(QPointF(area.right() - metrics.horizontalAdvance(end), below), end);

  // The unity gain: the line a curve that changes nothing follows.
  const double unity = ToWidget(0, kEnvelopeUnity).y();
  painter.setPen(QPen(QColor(214, 120, 30), 1.5, Qt::DashLine));
  painter.drawLine(QPointF(area.left(), unity), QPointF(area.right(), unity));

  // The gain curve: straight ramps from point to point, as the envelope renders it.
  QPainterPath curve;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    const QPointF at = ToWidget(points_[i].first, points_[i].second);
    if (i == 0)
      curve.moveTo(at);
    else
      curve.lineTo(at);
  }
  QPainterPath fill = curve;
  fill.lineTo(ToWidget(255, 0));
  fill.lineTo(ToWidget(0, 0));
  fill.closeSubpath();
  painter.fillPath(fill, QColor(70, 120, 200, 50));
  painter.setPen(QPen(QColor(30, 70, 160), 2));
  painter.drawPath(curve);

  for (std::size_t i = 0; i < points_.size(); ++i) {
    const QPointF at = ToWidget(points_[i].first, points_[i].second);
    const bool active = (dragged_ && *dragged_ == i) || (!dragged_ && hovered_ && *hovered_ == i);
    painter.setPen(QPen(QColor(30, 70, 160), 1.5));
    painter.setBrush(active ? QColor(240, 170, 40) : QColor(255, 255, 255));
    painter.drawRect(QRectF(at.x() - 4, at.y() - 4, 8, 8));
  }
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(150, 150, 144), 1));
  painter.drawRect(area);
}

void EnvelopeEditor::mousePressEvent(QMouseEvent* event) {
  const std::optional<std::size_t> hit = PointAt(event->position());
  if (event->button() == Qt::RightButton) {
    if (hit) Remove(*hit);
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  if (hit) {
    dragged_ = hit;
  } else {
    const auto [x, y] = FromWidget(event->position());
    dragged_ = AddEnvelopePoint(points_, x, y);
    if (dragged_) emit PointsChanged();
  }
  update();
  emit PointHovered(dragged_);
}

void EnvelopeEditor::mouseMoveEvent(QMouseEvent* event) {
  if (dragged_) {
    const auto [x, y] = FromWidget(event->position());
    MoveEnvelopePoint(points_, *dragged_, x, y);
    update();
    emit PointsChanged();
    emit PointHovered(dragged_);
    return;
  }
  const std::optional<std::size_t> hit = PointAt(event->position());
  if (hit != hovered_) {
    hovered_ = hit;
    update();
    emit PointHovered(hovered_);
  }
}

void EnvelopeEditor::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragged_) return;
  hovered_ = dragged_;
  dragged_.reset();
  update();
}

void EnvelopeEditor::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (const std::optional<std::size_t> hit = PointAt(event->position())) Remove(*hit);
}

void EnvelopeEditor::leaveEvent(QEvent*) {
  if (dragged_ || !hovered_) return;
  hovered_.reset();
  update();
  emit PointHovered(std::nullopt);
}

void EnvelopeEditor::Remove(std::size_t index) {
  if (!RemoveEnvelopePoint(points_, index)) return;
  dragged_.reset();
  hovered_.reset();
  update();
  emit PointsChanged();
  emit PointHovered(std::nullopt);
}

}  // namespace sonavel
