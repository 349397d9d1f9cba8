#pragma once
// The time-frequency analysis window ("Temporale Frequenz Analyse"): the spectrogram of a
// document's range as a picture, the 0 … 4000 Hz zoom pair, the brightness trackbar, the
// grid toggle, the button that selects the analysed range again, the status line under
// the mouse and the green playback cursor. The picture is rendered into an off-screen
// image only when the size, the brightness, the zoom or the grid change; painting copies
// it.

#include <QImage>
#include <QMdiSubWindow>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "document/audio_document.h"
#include "views/spectrum_analysis.h"

class QSlider;
class QStatusBar;
class QToolButton;

namespace sonavel {

class Settings;
class SpectrogramWindow;

// The graph (control 101): the picture, a sunken border and the playback cursor.
class SpectrogramGraph final : public QWidget {
  Q_OBJECT

 public:
  explicit SpectrogramGraph(SpectrogramWindow& window, QWidget* parent);

  // Renders the picture again when the graph's size or the window's look or data changed
  // since the last time; true when it did.
  bool EnsurePicture();
  // Copies `area` of the picture and draws the cursor where it crosses `area`.
  void Paint(QPainter& painter, const QRect& area);
  // Moves the playback cursor to `x` (-1: none) and repaints only the strips around its
  // old and new position.
  void SetCursorX(int x);
  int cursor_x() const { return cursor_x_; }
  // The strip repainted for a cursor at `x`.
  QRect CursorStrip(int x) const { return QRect(x - 1, 0, 3, height()); }
  const QImage& picture() const { return picture_; }
  // How often the picture was rendered.
  int renders() const { return renders_; }
  // The look or the data changed: the next paint renders the picture again.
  void Invalidate() { stale_ = true; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  SpectrogramWindow& window_;
  std::vector<std::uint32_t> pixels_;
  QImage picture_;  // RGB32 over pixels_
  bool stale_ = true;
  int cursor_x_ = -1;
  int renders_ = 0;
};

class SpectrogramWindow final : public QMdiSubWindow, public DocumentObserver {
  Q_OBJECT

 public:
  // Shows `data`, analysed from `document`, with the look stored under "Settings".
  SpectrogramWindow(DocumentRef document, SpectrogramData data, Settings& settings, QWidget* parent = nullptr);
  ~SpectrogramWindow() override;

  // The command ran again: new data, perhaps of another document.
  void SetData(DocumentRef document, SpectrogramData data);
  const SpectrogramData& data() const { return data_; }
  AudioDocument& document() { return *document_; }
  const DocumentRef& reference() const { return document_; }
  const SpectrogramLook& look() const { return look_; }
  SpectrogramGraph* graph() const { return graph_; }
  QStatusBar* status() const { return status_; }
  // Zoom to 0 … 4000 Hz (103) or out to the whole range (104), the brightness (105) and
  // the grid (107), as the controls set them.
  void SetZoom(bool zoom_4000);
  void SetBrightness(int trackbar);
  void SetGrid(bool grid);
  // The status line for the graph pixel (x, y).
  void ShowStatus(int x, int y);
  // A click on the graph at x: the document's cursor goes to the frame under it.
  void GraphClicked(int x);
  void DocumentChanged(AudioDocument& document, unsigned changes) override;

 signals:
  // Button 102: the frame selects the analysed range [start, end) again.
  void selectRange(std::int32_t start, std::int32_t end);
  // The graph was clicked and the document's cursor moved: the frame applies it to
  // playback.
  void cursorClicked();
  // The window is closing.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Layout();
  void RefreshControls();
  void RefreshCursor();

  DocumentRef document_;
  SpectrogramData data_;
  Settings& settings_;
  SpectrogramLook look_;
  QWidget* body_;
  SpectrogramGraph* graph_;
  QToolButton* zoom_in_;   // 103
  QToolButton* zoom_out_;  // 104
  QSlider* brightness_;    // 105
  QToolButton* range_;     // 102
  QToolButton* grid_;      // 107
  QStatusBar* status_;     // 106
};

}  // namespace sonavel
