#pragma once
// The frequency analysis window ("Frequenzanalyse"): the spectrum of 4096 frames at the
// cursor over a logarithmic frequency axis, with zoom buttons and scroll bars for both axes
// and the frequency and level under the mouse.

#include <QMdiSubWindow>
#include <QString>
#include <QWidget>

#include "views/frequency_axis.h"
#include "views/spectrum_analysis.h"

class QPainter;
class QScrollBar;
class QToolButton;

namespace sonavel {

// The graph (control 101, class "LFrequencyWindow").
class FrequencyGraph final : public QWidget {
  Q_OBJECT

 public:
  explicit FrequencyGraph(QWidget* parent = nullptr);

  void SetData(const SpectrumData& data);
  const SpectrumData& data() const { return data_; }
  // Zoom levels and scroll positions; the width and height are the widget's.
  void SetView(int horizontal_zoom, int horizontal_scroll, int vertical_zoom, int vertical_scroll);
  FrequencyAxis axis() const;
  const QString& hover_text() const { return hover_; }
  // The area of the hover text, right-aligned at (width - 20, 2).
  QRect HoverRect() const;
  // Draws the whole graph: fill, grid, curves, hover text and border.
  void Paint(QPainter& painter) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  SpectrumData data_;
  int horizontal_zoom_ = 0;
  int horizontal_scroll_ = 0;
  int vertical_zoom_ = 0;
  int vertical_scroll_ = 0;
  QString hover_;
};

class FrequencyWindow final : public QMdiSubWindow {
  Q_OBJECT

 public:
  explicit FrequencyWindow(QWidget* parent = nullptr);

  // Shows new levels; the zoom and scroll positions stay.
  void SetData(const SpectrumData& data);
  FrequencyGraph* graph() const { return graph_; }

 signals:
  // The window is closing: the frame forgets it.
  void closed(sonavel::FrequencyWindow* window);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Layout();
  // Steps a zoom level by `step` within 0 … 2 (`vertical` or horizontal).
  void Zoom(bool vertical, int step);
  void ZoomToDefault();
  // The buttons' enabled states, the scroll bars' ranges and the graph after a change.
  void Refresh();

  QWidget* body_;
  FrequencyGraph* graph_;
  QScrollBar* vertical_;    // 104
  QScrollBar* horizontal_;  // 107
  QToolButton* vertical_in_;     // 103
  QToolButton* vertical_out_;    // 105
  QToolButton* horizontal_out_;  // 106
  QToolButton* horizontal_in_;   // 108
  QToolButton* default_zoom_;    // 109
  int horizontal_zoom_ = 0;
  int vertical_zoom_ = 0;
};

}  // namespace sonavel
