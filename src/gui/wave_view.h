#pragma once
// A waveform view ("LSVWaveWindow"): draws one line per pixel column from the columns its
// column thread computes, with the cursor, the selection and the bookmarks, and turns mouse
// actions into marker changes that it reports to its document window.

#include <QWidget>

#include "views/wave_columns.h"
#include "views/wave_mouse.h"

namespace sonavel {

class WaveView final : public QWidget {
  Q_OBJECT

 public:
  explicit WaveView(QWidget* parent = nullptr);
  ~WaveView() override;

  // Draws `sound` (its own copy) in `display_mode`, eight times taller with `vertical_zoom`.
  void Attach(const Sound& sound, int display_mode, bool vertical_zoom);
  // Stops drawing: the view paints plain gray.
  void Detach();
  void SetRange(std::int32_t first_frame, std::int32_t frame_count);

  void SetCursor(std::int64_t frame, std::int64_t width = 0);
  void SetEndMarker(std::int64_t frame);
  void SetSelection(std::int64_t start, std::int64_t end);
  void SetBookmarks(std::vector<WaveBookmark> bookmarks);

  const WaveMarkers& markers() const { return markers_; }
  WaveMapping mapping() const;
  int display_mode() const { return display_mode_; }
  // Waits until every requested column is computed (tests and screenshots).
  bool WaitUntilDrawn(int timeout_ms) const { return worker_.WaitUntilIdle(timeout_ms); }

 signals:
  void notice(sonavel::WaveNotice notice);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Handle(const WaveMouseResult& result);
  void Repaint(const std::vector<PixelStrip>& strips);

  ColumnWorker worker_;
  WaveMarkers markers_;
  int display_mode_ = 0;
  int channels_ = 1;
};

}  // namespace sonavel
