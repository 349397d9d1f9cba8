#pragma once
// The compressor dialog's drawing of what the compressor does to a steady level: output
// level over input level for a threshold, a ratio entry and a limit.

#include <QWidget>

namespace sonavel {

// The output level in dB of a steady input level in dB, from the compressor's gain table:
// below the threshold the make-up gain, from the threshold to the limit the ratio's
// reduction per dB, above both about one dB down per dB. A ratio outside the entries is
// "1:1".
double CompressorOutputLevel(double input_db, int threshold_db, int limit_db, int ratio_index);

class CompressorCurve : public QWidget {
 public:
  explicit CompressorCurve(QWidget* parent = nullptr);

  void SetParameters(int threshold_db, int limit_db, int ratio_index);
  // The lowest input level drawn (the highest is 0 dB).
  void SetLowestLevel(int decibels);

  int threshold() const { return threshold_; }
  int limit() const { return limit_; }
  int ratio() const { return ratio_; }

  QSize sizeHint() const override { return {240, 240}; }
  QSize minimumSizeHint() const override { return {180, 180}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int threshold_ = 0;
  int limit_ = 0;
  int ratio_ = 0;
  int lowest_ = -60;
};

}  // namespace sonavel
