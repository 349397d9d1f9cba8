#pragma once
// The time-frequency window's graph without Qt: which column, bin and document frame a
// pixel shows, where the playback cursor stands, and the status line under the mouse.

#include <cstdint>
#include <string>

#include "views/spectrum_analysis.h"

namespace sonavel {

// What the graph pixel (x, y) of a width × height graph shows.
struct SpectrogramPoint {
  std::int32_t column = 0;  // 0 … columns - 1
  std::int32_t bin = 0;     // 0 … topBin
  std::int64_t frame = 0;   // the document frame under x, start … start + length - 1
};

// Columns and the analysed range map linearly onto the width; row y shows bin
// (int)(topBin - y / height × topBin). Pixels outside the graph count as its nearest edge.
SpectrogramPoint SpectrogramPointAt(const SpectrogramData& data, bool zoom_4000, int x, int y, int width,
                                    int height);

// The x of the playback cursor at document frame `frame`, or -1 when it lies outside the
// analysed range.
int SpectrogramCursorX(const SpectrogramData& data, std::int64_t frame, int width);

// "Zeit: %s    Frequenz: %d Hz    Lautstärke: %d dB" for the pixel (x, y): the time of its
// frame in tenths, the frequency bin × rate >> i and the level of that bin in that column,
// -128 for silence.
std::string SpectrogramStatusText(const SpectrogramData& data, bool zoom_4000, int x, int y, int width, int height);

}  // namespace sonavel
