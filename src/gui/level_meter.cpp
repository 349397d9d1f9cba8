#include "gui/level_meter.h"

#include <QPainter>

#include <algorithm>

namespace sonavel {
namespace {

// The engine's levels put a full-scale square wave at +15; the meter shows 60 dB below it.
constexpr int kFullScaleDb = 15;
constexpr int kFloorDb = kFullScaleDb - 60;

}  // namespace

double MeterFill(int level_db) {
  return std::clamp(static_cast<double>(level_db - kFloorDb) / (kFullScaleDb - kFloorDb), 0.0, 1.0);
}

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
  setObjectName("LevelMeter");
  setToolTip("Pegel");
  levels_.count = 1;
  levels_.level[0] = -127;
  setMinimumSize(40, 14);
}

void LevelMeter::SetLevels(const LevelRecord& levels) {
  if (levels.count == levels_.count &&
      std::equal(levels.level.begin(), levels.level.begin() + levels.count, levels_.level.begin()))
    return;
  levels_ = levels;
  update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = rect().adjusted(0, 0, -1, -1);
  painter.fillRect(area, QColor(24, 24, 24));
  const int channels = std::max<int>(levels_.count, 1);
  const int gap = 2;
  const int bar_height = std::max(1, (area.height() - gap * (channels + 1)) / channels);
  for (int c = 0; c < channels; ++c) {
    const int width = static_cast<int>(MeterFill(c < levels_.count ? levels_.level[c] : -127) * (area.width() - 2 * gap));
    const QRect bar(area.left() + gap, area.top() + gap + c * (bar_height + gap), width, bar_height);
    // Green up to 6 dB below full scale, amber to 1 dB below, red above.
    const int amber_at = static_cast<int>(MeterFill(kFullScaleDb - 6) * (area.width() - 2 * gap));
    const int red_at = static_cast<int>(MeterFill(kFullScaleDb - 1) * (area.width() - 2 * gap));
    painter.fillRect(bar.adjusted(0, 0, -std::max(0, width - amber_at), 0), QColor(60, 200, 80));
    if (width > amber_at)
      painter.fillRect(QRect(bar.left() + amber_at, bar.top(), std::min(width, red_at) - amber_at, bar_height),
                       QColor(230, 180, 40));
    if (width > red_at)
      painter.fillRect(QRect(bar.left() + red_at, bar.top(), width - red_at, bar_height), QColor(230, 50, 40));
  }
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(area);
}

}  // namespace sonavel
