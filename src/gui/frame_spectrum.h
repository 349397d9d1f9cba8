#pragma once
// The frame's side of the frequency window: at most one, created by command 7001, fed the
// spectrum at the active document's cursor whenever that cursor moves (also while playing)
// or another document becomes active.

#include <QPointer>

namespace sonavel {

class FrequencyWindow;
class MainWindow;

class FrameSpectrum {
 public:
  explicit FrameSpectrum(MainWindow& frame);
  FrameSpectrum(const FrameSpectrum&) = delete;
  FrameSpectrum& operator=(const FrameSpectrum&) = delete;

  // Computes the spectrum at the active document's cursor. Creates the window when `create`
  // is set and none is open (arranged when "AutoArrangeWindows" is set, then activated),
  // otherwise updates the open one. Sounds of more than two channels leave the shown data.
  // False without a document, or without a window to update.
  bool ShowSpectrum(bool create);
  // The cursor moved or the active document changed: an open window follows.
  void Follow();
  // The window while it is open, else null.
  FrequencyWindow* window() const;

 private:
  MainWindow& frame_;
  QPointer<FrequencyWindow> window_;
};

}  // namespace sonavel
