#pragma once
// The frequency window's axes, without Qt: a logarithmic frequency axis over the 2048 bins
// of the spectrum and a linear attenuation axis, each with a zoom level 0 … 2 and a scroll
// bar 0 … 100; the grid lines and the curve rows the window paints.

#include <optional>
#include <span>
#include <vector>

namespace sonavel {

inline constexpr int kMaxFrequencyZoom = 2;
// The scroll bars run 0 … kFrequencyScrollMax.
inline constexpr int kFrequencyScrollMax = 100;

// Bins shown at horizontal zoom level `zoom`: 2048 / 2^zoom.
int VisibleBinSpan(int zoom);
// The page of a scroll bar at `zoom`: 101 / 2^zoom.
int FrequencyScrollPage(int zoom);
// The largest scroll position that takes effect at `zoom`: 0 at level 0, else
// (zoom + 1) × 25 + 1, which is also where the bar's thumb stops (101 - page).
int FrequencyScrollLimit(int zoom);

// Where the graph's frequency and attenuation axes stand.
struct FrequencyAxis {
  int width = 1;   // the graph's width Wg
  int height = 1;  // the graph's height Hg
  int horizontal_zoom = 0;
  int vertical_zoom = 0;
  int horizontal_scroll = 0;  // scroll bar positions 0 … 100
  int vertical_scroll = 0;

  // The logarithmic axis: the bins shown, the axis' full width in pixels, how far it is
  // scrolled and the first bin.
  int Span() const { return VisibleBinSpan(horizontal_zoom); }
  int ZoomWidth() const;
  int ScrollPixels() const;
  int FirstBin() const;

  // The bin under pixel column x, 0 … 2047.
  int BinAtPixel(int x) const;
  // The column of `frequency` Hz at `rate`. Frequencies of bins left of FirstBin() have no
  // column: the logarithm would be undefined for some of them, and all lie left of the graph.
  std::optional<int> PixelOfFrequency(int frequency, int rate) const;
  // The row of an attenuation of `attenuation` dB (the level negated), 0 at the top.
  int PixelOfAttenuation(int attenuation) const;
  // The attenuation in dB shown at row y: the largest whose row is y or above it.
  int AttenuationAtPixel(int y) const;

 private:
  // The scroll offset of the attenuation axis in rows.
  int VerticalScrollPixels() const;
  // The horizontal scroll amount u, 0 … 0.75.
  double HorizontalScrollFraction() const;
};

// The frequency of `bin` in the hover text: bin × rate >> 12.
int FrequencyOfBin(int bin, int rate);

// Columns of the vertical grid lines every `step` Hz below half of `rate` (100 and 1000 Hz
// in the window) that fall inside the graph.
std::vector<int> FrequencyGridColumns(const FrequencyAxis& axis, int rate, int step);
// Rows of the horizontal grid lines every 6 dB, 6 … 126, that fall inside the graph.
std::vector<int> AttenuationGridRows(const FrequencyAxis& axis);
// For each column x = 0 … width - 1 the row of the level of its bin in `levels` (2048
// levels of one channel); levels at -127 or below lie on the graph's last row inside the
// border (height - 2).
std::vector<int> CurveRows(const FrequencyAxis& axis, std::span<const int> levels);

}  // namespace sonavel
