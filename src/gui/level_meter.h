#pragma once
// The frame's level meter: one bar per channel for the levels of the buffer last played.

#include <QWidget>

#include "devices/playback_engine.h"

namespace sonavel {

class LevelMeter final : public QWidget {
  Q_OBJECT

 public:
  explicit LevelMeter(QWidget* parent = nullptr);
  void SetLevels(const LevelRecord& levels);
  const LevelRecord& levels() const { return levels_; }
  QSize sizeHint() const override { return {70, 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  LevelRecord levels_;
};

// The share of the meter's length a level fills: 1 at +15 (a full-scale square wave), 0 at
// 60 dB below and lower.
double MeterFill(int level_db);

}  // namespace sonavel
