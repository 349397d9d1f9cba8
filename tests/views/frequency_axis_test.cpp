#include "views/frequency_axis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace sonavel {
namespace {

FrequencyAxis Axis(int horizontal_zoom, int horizontal_scroll, int vertical_zoom = 0, int vertical_scroll = 0) {
  FrequencyAxis axis;
  axis.width = 1600;
  axis.height = 900;
  axis.horizontal_zoom = horizontal_zoom;
  axis.horizontal_scroll = horizontal_scroll;
  axis.vertical_zoom = vertical_zoom;
  axis.vertical_scroll = vertical_scroll;
  return axis;
}

TEST(FrequencyAxis, ZoomLevelsAndScrollLimits) {
  EXPECT_EQ(VisibleBinSpan(0), 2048);
  EXPECT_EQ(VisibleBinSpan(1), 1024);
  EXPECT_EQ(VisibleBinSpan(2), 512);
  // The page is 101 / 2^level; the thumb stops at 101 - page, which is the limit.
  EXPECT_EQ(FrequencyScrollPage(0), 101);
  EXPECT_EQ(FrequencyScrollPage(1), 50);
  EXPECT_EQ(FrequencyScrollPage(2), 25);
  EXPECT_EQ(FrequencyScrollLimit(0), 0);
  EXPECT_EQ(FrequencyScrollLimit(1), 51);
  EXPECT_EQ(FrequencyScrollLimit(2), 76);

  struct Case {
    int zoom, scroll, zoom_width, scroll_pixels, first_bin;
  };
  // u = h (z + 1) 25 / (((z + 1) 25 + 1) 100) after h is limited; level 0 ignores h.
  for (const Case& c : {Case{0, 80, 1600, 0, 0}, Case{1, 0, 3200, 0, 0}, Case{1, 20, 3200, 627, 401},
                        Case{1, 51, 3200, 1600, 1024}, Case{1, 100, 3200, 1600, 1024}, Case{2, 6, 6400, 378, 121},
                        Case{2, 76, 6400, 4800, 1536}, Case{2, 100, 6400, 4800, 1536}}) {
    const FrequencyAxis axis = Axis(c.zoom, c.scroll);
    EXPECT_EQ(axis.ZoomWidth(), c.zoom_width) << c.zoom << " " << c.scroll;
    EXPECT_EQ(axis.ScrollPixels(), c.scroll_pixels) << c.zoom << " " << c.scroll;
    EXPECT_EQ(axis.FirstBin(), c.first_bin) << c.zoom << " " << c.scroll;
  }
}

TEST(FrequencyAxis, BinsAndColumnsOnTheLogarithmicAxis) {
  // t = 0.5 is a fifth of the span: 16^0.5 = 4.
  EXPECT_EQ(Axis(0, 0).BinAtPixel(0), 0);
  EXPECT_EQ(Axis(0, 0).BinAtPixel(800), 409);
  EXPECT_EQ(Axis(0, 0).BinAtPixel(1599), 2044);
  EXPECT_EQ(Axis(0, 0).BinAtPixel(-50), 0);
  EXPECT_EQ(Axis(0, 0).BinAtPixel(5000), 2047);
  EXPECT_EQ(Axis(1, 20).BinAtPixel(0), 450);
  EXPECT_EQ(Axis(1, 51).BinAtPixel(1599), 2047);
  EXPECT_EQ(Axis(2, 76).BinAtPixel(800), 1888);

  EXPECT_EQ(Axis(0, 0).PixelOfFrequency(1000, 32000), 381);
  EXPECT_EQ(Axis(1, 0).PixelOfFrequency(1000, 32000), 1218);
  EXPECT_EQ(Axis(2, 0).PixelOfFrequency(1000, 32000), 3596);
  EXPECT_EQ(Axis(0, 0).PixelOfFrequency(100, 44100), 36);
  EXPECT_EQ(Axis(2, 76).PixelOfFrequency(20000, 44100), 606);
  // Above the last bin everything lies on bin 2047.
  EXPECT_EQ(Axis(0, 0).PixelOfFrequency(30000, 44100), Axis(0, 0).PixelOfFrequency(22049, 44100));
  // Bins left of the first one have no column: 100 Hz (bin 9) at first bin 401 would take
  // the logarithm of (9 - 401) / 1024 × 15 + 1 < 0.
  EXPECT_EQ(Axis(1, 20).PixelOfFrequency(100, 44100), std::nullopt);
  EXPECT_EQ(Axis(1, 20).PixelOfFrequency(2000, 44100), std::nullopt);
  // From the first bin on the columns exist, those left of the graph negative.
  EXPECT_EQ(Axis(1, 20).PixelOfFrequency(4400, 44100), -514);  // bin 408
  const std::vector<int> grid = FrequencyGridColumns(Axis(1, 20), 44100, 100);
  EXPECT_EQ(grid.size(), 38u);  // 4900 … 8600 Hz are inside the graph
  EXPECT_EQ(grid.front(), 45);
  EXPECT_EQ(grid.back(), *Axis(1, 20).PixelOfFrequency(8600, 44100));
  EXPECT_TRUE(std::is_sorted(grid.begin(), grid.end()));
  // Every 1000 Hz below 22050 at level 0: 22 lines, the last at 22000 Hz.
  const std::vector<int> thousands = FrequencyGridColumns(Axis(0, 0), 44100, 1000);
  ASSERT_EQ(thousands.size(), 22u);
  EXPECT_EQ(thousands.back(), *Axis(0, 0).PixelOfFrequency(22000, 44100));
  EXPECT_EQ(FrequencyGridColumns(Axis(0, 0), 8000, 1000).size(), 3u);  // 4000 Hz is not below half

  EXPECT_EQ(FrequencyOfBin(93, 44100), 1001);
  EXPECT_EQ(FrequencyOfBin(2047, 96000), 47976);
}

TEST(FrequencyAxis, AttenuationRowsAndTheirInverse) {
  EXPECT_EQ(Axis(0, 0).PixelOfAttenuation(6), 42);
  EXPECT_EQ(Axis(0, 0).PixelOfAttenuation(126), 885);
  EXPECT_EQ(Axis(0, 0).PixelOfAttenuation(-10), -71);
  // Level 0 ignores the vertical scroll position.
  EXPECT_EQ(Axis(0, 0, 0, 60).PixelOfAttenuation(126), 885);
  // Level 1 at the last position: 2 × 51 × 1 × 0.01 × 900 = 918 rows up.
  EXPECT_EQ(Axis(0, 0, 1, 51).PixelOfAttenuation(126), 1771 - 918);
  EXPECT_EQ(Axis(0, 0, 1, 100).PixelOfAttenuation(126), 1771 - 918);
  // Level 2: 1 × 76 × 4 × 0.01 × 900 = 2736.
  EXPECT_EQ(Axis(0, 0, 2, 76).PixelOfAttenuation(126), 3543 - 2736);
  EXPECT_EQ(Axis(0, 0, 2, 10).PixelOfAttenuation(12), 337 - 360);

  for (const FrequencyAxis& axis : {Axis(0, 0), Axis(0, 0, 1, 30), Axis(0, 0, 2, 76)})
    for (int y = 0; y < axis.height; y += 7) {
      const int a = axis.AttenuationAtPixel(y);
      EXPECT_LE(axis.PixelOfAttenuation(a), y);
      EXPECT_GT(axis.PixelOfAttenuation(a + 1), y);
    }

  const std::vector<int> rows = AttenuationGridRows(Axis(0, 0));
  ASSERT_EQ(rows.size(), 21u);  // 6 … 126 dB
  EXPECT_EQ(rows.front(), 42);
  EXPECT_EQ(rows.back(), 885);
  // Zoomed to level 2 and scrolled to the end: 102 … 126 dB are in the graph.
  const std::vector<int> zoomed = AttenuationGridRows(Axis(0, 0, 2, 76));
  ASSERT_EQ(zoomed.size(), 5u);
  EXPECT_EQ(zoomed.front(), Axis(0, 0, 2, 76).PixelOfAttenuation(102));
}

TEST(FrequencyAxis, OneKilohertzPeakLiesAtItsColumnAtEveryZoomLevel) {
  // At 32000 Hz, 1000 Hz is bin 128 exactly: a peak there at -10 dB over -100 dB.
  std::vector<int> levels(2048, -100);
  levels[128] = -10;
  for (const FrequencyAxis& axis : {Axis(0, 0), Axis(1, 0), Axis(1, 3), Axis(2, 6)}) {
    const std::vector<int> rows = CurveRows(axis, levels);
    ASSERT_EQ(rows.size(), 1600u);
    const auto top = std::min_element(rows.begin(), rows.end());
    EXPECT_EQ(*top, axis.PixelOfAttenuation(10));
    // The column of 1000 Hz is truncated from the exact position: the peak begins there or
    // one column to the right, and ends before the column of the next bin.
    const int x = *axis.PixelOfFrequency(1000, 32000);
    const int first = static_cast<int>(top - rows.begin());
    EXPECT_GE(first, x) << axis.horizontal_zoom;
    EXPECT_LE(first, x + 1) << axis.horizontal_zoom;
    EXPECT_EQ(axis.BinAtPixel(first), 128);
    const int next = *axis.PixelOfFrequency(1008, 32000);  // bin 129
    for (int column = first; column < next; ++column) EXPECT_EQ(rows[column], *top) << column;
    EXPECT_NE(rows[next + 1], *top);
  }
  // Silence lies on the last row inside the border.
  const std::vector<int> silent = CurveRows(Axis(2, 40, 2, 40), std::vector<int>(2048, -127));
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int y) { return y == 898; }));
}

}  // namespace
}  // namespace sonavel
