#pragma once
// The volume envelope's curve editor: the editing rules on a point list (pure functions,
// tested on their own) and the widget that draws the curve and turns mouse actions into
// those edits.

#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "effects/envelope.h"

namespace sonavel {

// Points (x, y) and their limit of 64 come from the point-list file's reader: x 0 … 255
// across the selection, never decreasing; y the gain with 128 as unity (y / 128).
constexpr int kEnvelopeUnity = 128;

// The flat curve at unity: {(0, 128), (255, 128)}.
EnvelopePoints DefaultEnvelope();

// What the editor works on: at most 64 points, x never decreasing, the first point at
// x 0 and the last at x 255. Fewer than two points give the flat curve.
EnvelopePoints NormalizeEnvelope(EnvelopePoints points);

// Inserts a point at (x, y) (both limited to 0 … 255) between the first and the last
// point, after any point with the same x. Returns its index, or nullopt when the list
// already holds 64 points.
std::optional<std::size_t> AddEnvelopePoint(EnvelopePoints& points, int x, int y);

// Moves point `index` to (x, y): y is limited to 0 … 255, x to the range between the
// neighbours' x; the first point stays at x 0 and the last at x 255.
void MoveEnvelopePoint(EnvelopePoints& points, std::size_t index, int x, int y);

// Removes an inner point; the first and the last point stay. False when nothing was removed.
bool RemoveEnvelopePoint(EnvelopePoints& points, std::size_t index);

// The gain of y as the readout shows it: "100 % (0,0 dB)", "0 % (-∞ dB)".
std::string EnvelopeGainText(int y);

class EnvelopeEditor : public QWidget {
  Q_OBJECT

 public:
  explicit EnvelopeEditor(QWidget* parent = nullptr);

  const EnvelopePoints& points() const { return points_; }
  void SetPoints(EnvelopePoints points);
  void Reset() { SetPoints(DefaultEnvelope()); }

  // Widget position of a point value and back (the plot area leaves room for the labels).
  QPointF ToWidget(int x, int y) const;
  std::pair<int, int> FromWidget(QPointF at) const;
  // The point within a few pixels of `at`, the nearest one if several.
  std::optional<std::size_t> PointAt(QPointF at) const;

  QSize sizeHint() const override { return {560, 300}; }
  QSize minimumSizeHint() const override { return {360, 200}; }

 signals:
  void PointsChanged();
  // The point being pointed at or dragged, for the readout; nullopt when none.
  void PointHovered(std::optional<std::size_t> index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QRectF PlotArea() const;
  void Remove(std::size_t index);

  EnvelopePoints points_ = DefaultEnvelope();
  std::optional<std::size_t> dragged_;
  std::optional<std::size_t> hovered_;
};

}  // namespace sonavel
