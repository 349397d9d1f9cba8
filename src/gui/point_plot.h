#pragma once
// The 0 … 255 square of the drawn point lists (volume envelope, equaliser curve) mapped onto
// a widget's plot area, and the hit test for dragging their points.

#include <QPointF>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace sonavel {

// How close, in pixels, the mouse must come to take hold of a point.
inline constexpr double kPointHitRadius = 7.0;

// Widget position of the point value (x, y) in `area`.
inline QPointF PlotPosition(const QRectF& area, int x, int y) {
  return {area.left() + area.width() * x / 255.0, area.bottom() - area.height() * y / 255.0};
}

// The point value nearest to a widget position, limited to the square.
inline std::pair<int, int> PlotValue(const QRectF& area, QPointF at) {
  const int x = static_cast<int>(std::lround((at.x() - area.left()) / area.width() * 255.0));
  const int y = static_cast<int>(std::lround((area.bottom() - at.y()) / area.height() * 255.0));
  return {std::clamp(x, 0, 255), std::clamp(y, 0, 255)};
}

// The point within kPointHitRadius of `at`, the nearest one if several.
inline std::optional<std::size_t> PlotPointAt(const QRectF& area,
                                              const std::vector<std::pair<std::uint8_t, std::uint8_t>>& points,
                                              QPointF at) {
  std::optional<std::size_t> nearest;
  double best = kPointHitRadius * kPointHitRadius;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const QPointF d = PlotPosition(area, points[i].first, points[i].second) - at;
    if (const double distance = QPointF::dotProduct(d, d); distance <= best) {
      best = distance;
      nearest = i;
    }
  }
  return nearest;
}

}  // namespace sonavel
