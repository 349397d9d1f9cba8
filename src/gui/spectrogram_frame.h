#pragma once
// The frame's side of the time-frequency window: the command that analyses the selection
// (select all when empty, the question before more than ten seconds, playback stopped, the
// computation under the progress window), at most one window, and what its requests do
// (select the analysed range again, apply a click's cursor to playback).

#include <QPointer>

namespace sonavel {

class MainWindow;
class SpectrogramWindow;

// The question before analysing more than ten seconds.
inline constexpr const char* kLongSpectrogramQuestion =
    "Der zeitliche Analysgraph wird normalerweise in kurtzen Markierungen verwendet (meißt einige "
    "Sekunden) weil er eine Weile zum Berechnen braucht. Trotzdem weitermachen?";
// The progress window's title while the spectrogram is computed.
inline constexpr const char* kSpectrogramProgressTitle = "Berechnet die zeilichen Frequenz Daten";

class SpectrogramFrame {
 public:
  explicit SpectrogramFrame(MainWindow& frame) : frame_(frame) {}
  ~SpectrogramFrame();
  SpectrogramFrame(const SpectrogramFrame&) = delete;
  SpectrogramFrame& operator=(const SpectrogramFrame&) = delete;

  // "Temporale Frequenzanalyse (TFFT)" on the active document; true when the window shows
  // the new spectrogram.
  bool ShowSpectrogram();
  // The window while it is open, else null.
  SpectrogramWindow* window() const;

 private:
  SpectrogramWindow* CreateWindow();

  MainWindow& frame_;
  QPointer<SpectrogramWindow> window_;
};

}  // namespace sonavel
