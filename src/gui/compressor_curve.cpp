#include "gui/compressor_curve.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "effects/compressor.h"

namespace sonavel {
double CompressorOutputLevel(double input_db, int threshold_db, int limit_db, int ratio_index) {
  // The compressor's own table, one entry per dB, joined by straight lines.
  const double factor =
      ratio_index >= 0 && ratio_index < kCompressorRatioRows ? kCompressorRatios[ratio_index].factor : 1.0;
  const CompressorTable table = CompressorGainTable(threshold_db, factor, limit_db);
  auto gain_db = [&table](int level) {
    const std::int32_t gain = table[static_cast<std::size_t>(std::clamp(level, -128, 127) + 128)];
    return gain > 0 ? 20.0 * std::log10(gain / 16777216.0) : -200.0;
  };
  const double below = std::floor(input_db);
  const double share = input_db - below;
  const int level = static_cast<int>(below);
  return input_db + (1.0 - share) * gain_db(level) + share * gain_db(level + 1);
}

CompressorCurve::CompressorCurve(QWidget* parent) : QWidget(parent) {
  setObjectName("compressorCurve");
  setToolTip("Ausgangspegel über dem Eingangspegel");
}

void CompressorCurve::SetParameters(int threshold_db, int limit_db, int ratio_index) {
  threshold_ = threshold_db;
  limit_ = limit_db;
  ratio_ = ratio_index;
  update();
}

void CompressorCurve::SetLowestLevel(int decibels) {
  lowest_ = std::min(decibels, -1);
  update();
}

void CompressorCurve::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QFontMetrics metrics = fontMetrics();
  const double left = metrics.horizontalAdvance("-120") + metrics.height() + 12;
  const double bottom = 2 * metrics.height() + 8;
  const double top = metrics.height() / 2.0 + 4;
  const double side = std::max(20.0, std::min(width() - left - 10, height() - top - bottom));
  const QRectF area(left, top, side, side);
  painter.fillRect(area, QColor(252, 252, 248));

  const double span = -lowest_;
  auto to_x = [&](double db) { return area.left() + area.width() * (db - lowest_) / span; };
  auto to_y = [&](double db) { return area.bottom() - area.height() * (db - lowest_) / span; };

  // Grid and labels every 20 dB (10 dB for small ranges).
  const int step = span > 40 ? 20 : 10;
  const QColor text = palette().color(QPalette::WindowText);
  for (int db = 0; db >= lowest_; db -= step) {
    painter.setPen(QPen(QColor(222, 222, 216), 1));
    painter.drawLine(QPointF(to_x(db), area.top()), QPointF(to_x(db), area.bottom()));
    painter.drawLine(QPointF(area.left(), to_y(db)), QPointF(area.right(), to_y(db)));
    painter.setPen(text);
    const QString label = QString::number(db);
    painter.drawText(QPointF(area.left() - 5 - metrics.horizontalAdvance(label), to_y(db) + metrics.ascent() / 2.0 - 1),
                     label);
    painter.drawText(QPointF(to_x(db) - metrics.horizontalAdvance(label) / 2.0, area.bottom() + metrics.ascent() + 3),
                     label);
  }
  painter.setPen(text);
  const QString input = "Eingang (dB)";
  painter.drawText(QPointF(area.center().x() - metrics.horizontalAdvance(input) / 2.0,
                           area.bottom() + metrics.height() + metrics.ascent() + 5),
                   input);
  const QString output = "Ausgang (dB)";
  painter.save();
  painter.translate(metrics.ascent() + 2, area.center().y() + metrics.horizontalAdvance(output) / 2.0);
  painter.rotate(-90);
  painter.drawText(QPointF(0, 0), output);
  painter.restore();

  painter.save();
  painter.setClipRect(area);
  // What an unchanged signal would give.
  painter.setPen(QPen(QColor(160, 160, 154), 1, Qt::DotLine));
  painter.drawLine(QPointF(to_x(lowest_), to_y(lowest_)), QPointF(to_x(0), to_y(0)));
  // Threshold and limit as markers on the input axis.
  painter.setPen(QPen(QColor(214, 120, 30), 1.5, Qt::DashLine));
  painter.drawLine(QPointF(to_x(threshold_), area.top()), QPointF(to_x(threshold_), area.bottom()));
  painter.setPen(QPen(QColor(190, 40, 40), 1.5, Qt::DashLine));
  painter.drawLine(QPointF(to_x(limit_), area.top()), QPointF(to_x(limit_), area.bottom()));
  // The transfer curve, one sample per dB.
  QPainterPath curve;
  for (int db = lowest_; db <= 0; ++db) {
    const QPointF at(to_x(db), to_y(CompressorOutputLevel(db, threshold_, limit_, ratio_)));
    if (db == lowest_)
      curve.moveTo(at);
    else
      curve.lineTo(at);
  }
  painter.setPen(QPen(QColor(30, 70, 160), 2));
  painter.drawPath(curve);
  painter.restore();

  painter.setPen(QPen(QColor(150, 150, 144), 1));
  painter.drawRect(area);
}

}  // namespace sonavel
