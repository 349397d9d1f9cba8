// The frequency window through the frame's command 7001 with the scripted Ui: one window,
// data that follows the cursor, forgotten when closed; its drawing checked on the grabbed
// image against the axes: the peaks of a two-tone stereo sound, grid colours, border and
// the hover text with the only area it repaints.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QToolButton>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "document/working_folder.h"
#include "gui/frame_spectrum.h"
#include "gui/frequency_window.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;

constexpr int kRate = 32000;  // 1000 Hz is bin 128 exactly, 2000 Hz bin 256, 3000 Hz bin 384

// Two seconds of stereo: channel 0 at 1000 Hz for the first second and 2000 Hz for the
// second, channel 1 at 3000 Hz throughout.
std::string WriteTwoTones(const std::string& folder) {
  const std::string path = JoinPath(folder, "zwei_toene.wav");
  SinkRef writer = CreateWavWriter(PcmFormat(kRate, 2, 16), path);
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 2 * kRate; ++i) {
    const double left = i < kRate ? 1000 : 2000;
    samples.push_back(static_cast<std::int32_t>(std::lround(1e5 * std::sin(2 * std::numbers::pi * left * i / kRate))));
    samples.push_back(static_cast<std::int32_t>(std::lround(1e5 * std::sin(2 * std::numbers::pi * 3000 * i / kRate))));
  }
  writer->Write(samples.data(), 2 * kRate);
  return path;
}

int PeakBin(const SpectrumData& data, int channel) {
  const auto first = data.levels.begin() + channel * kSpectrumBins;
  return static_cast<int>(std::max_element(first, first + kSpectrumBins) - first);
}

int CountWindows(MainWindow& frame) {
  int count = 0;
  for (QMdiSubWindow* window : frame.documents()->subWindowList())
    count += qobject_cast<FrequencyWindow*>(window) != nullptr ? 1 : 0;
  return count;
}

TEST(FrequencyWindow, OneWindowFollowsTheCursorAndIsForgottenWhenClosed) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow frame(test.settings, &ui);
  frame.resize(1100, 700);
  frame.show();
  EXPECT_FALSE(frame.Dispatch(7001));  // no document
  ASSERT_TRUE(frame.OpenDocument(WriteTwoTones(test.folder)));
  AudioDocument& document = *frame.ActiveDocument();
  EXPECT_EQ(frame.spectrum().window(), nullptr);

  ASSERT_TRUE(frame.Dispatch(7001));
  FrequencyWindow* window = frame.spectrum().window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Frequenzanalyse");
  EXPECT_EQ(frame.documents()->activeSubWindow(), window);
  // With the analysis window active the frame still works on the document.
  EXPECT_EQ(frame.ActiveDocument(), &document);
  const SpectrumData& shown = window->graph()->data();
  EXPECT_EQ(shown.levels, ComputeSpectrum(document.sound, 0)->levels);
  EXPECT_EQ(shown.rate, kRate);
  EXPECT_TRUE(shown.stereo);
  EXPECT_EQ(PeakBin(shown, 0), 128);
  EXPECT_EQ(PeakBin(shown, 1), 384);
  // "AutoArrangeWindows" tiles the document and the analysis side by side.
  EXPECT_FALSE(window->geometry().intersects(frame.documents()->subWindowList().front()->geometry()));
  QApplication::processEvents();
  SaveScreenshot(frame, "frequency_window");

  // The command again updates the same window.
  ASSERT_TRUE(frame.Dispatch(7001));
  EXPECT_EQ(frame.spectrum().window(), window);
  EXPECT_EQ(CountWindows(frame), 1);

  // A cursor move (as the playback engine's position reports make) moves the analysis.
  SetSelection(document, 40000, 40000, 40000);
  EXPECT_EQ(window->graph()->data().levels, ComputeSpectrum(document.sound, 40000)->levels);
  EXPECT_EQ(PeakBin(window->graph()->data(), 0), 256);

  // While playing, the engine's position reports move the cursor and the analysis with it.
  // Playing from 1000 Hz into 2000 Hz on channel 0:
  SetSelection(document, 20000, 20000, 20000);
  EXPECT_EQ(PeakBin(window->graph()->data(), 0), 128);
  ASSERT_TRUE(frame.Dispatch(3002));
  EXPECT_TRUE(QTest::qWaitFor([&] { return document.state.cursor > kRate; }, 5000));
  EXPECT_EQ(window->graph()->data().levels, ComputeSpectrum(document.sound, document.state.cursor)->levels);
  EXPECT_EQ(PeakBin(window->graph()->data(), 0), 256);
  EXPECT_TRUE(frame.Dispatch(3003));

  // A sound of three channels is not analysed: the window keeps the shown data.
  const std::vector<int> before = window->graph()->data().levels;
  ASSERT_TRUE(frame.OpenDocument(testing::WriteTone(test.folder, "drei.wav", 3, 8000)));
  ASSERT_TRUE(frame.Dispatch(7001));
  EXPECT_EQ(window->graph()->data().levels, before);
  EXPECT_EQ(window->graph()->data().rate, kRate);

  window->close();
  EXPECT_EQ(frame.spectrum().window(), nullptr);
  SetSelection(document, 100, 100, 100);  // no window to follow any more
  QApplication::processEvents();
  EXPECT_EQ(CountWindows(frame), 0);
  ASSERT_TRUE(frame.Dispatch(7001));
  EXPECT_EQ(CountWindows(frame), 1);
  frame.close();
  SetWorkingFolder("");
}

// Records the rectangles the graph is asked to paint.
class PaintRecorder : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
  std::vector<QRect> rects;
};

QColor Pixel(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)); }

// The first column, from the left, where `colour` reaches its highest row in the image.
QPoint TopOf(const QImage& image, const QColor& colour) {
  QPoint top(-1, image.height());
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < top.y(); ++y)
      if (Pixel(image, x, y) == colour) top = QPoint(x, y);
  return top;
}

TEST(FrequencyWindow, DrawsPeaksGridAndHoverTextAtTheAxesPixels) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow frame(test.settings, &ui);
  ASSERT_TRUE(frame.OpenDocument(WriteTwoTones(test.folder)));
  const SpectrumData data = *ComputeSpectrum(frame.ActiveDocument()->sound, 0);
  FrequencyWindow window;
  window.SetData(data);
  window.resize(820, 480);
  window.show();
  QApplication::processEvents();
  FrequencyGraph* graph = window.graph();
  auto* zoom_in = window.findChild<QToolButton*>("108");
  auto* zoom_out = window.findChild<QToolButton*>("106");
  auto* zoom_default = window.findChild<QToolButton*>("109");
  auto* scroll = window.findChild<QScrollBar*>("107");
  ASSERT_TRUE(zoom_in && zoom_out && zoom_default && scroll);
  for (const auto& [id, tooltip] : {std::pair{"103", "Vertikaler Zoom In"}, std::pair{"105", "Vertikaler Zoom Out"},
                                     std::pair{"106", "Horizontaler Zoom Out"}, std::pair{"108", "Horizontaler Zoom In"},
                                     std::pair{"109", "Zoom to Default"},
                                     std::pair{"104", "Hier klicken um um das Frequenzfenster vertikal zu scrollen"},
                                     std::pair{"107", "Hier Klicken um das Frequenzfenster horizontal zu scrollen"}}) {
    const QWidget* control = window.findChild<QWidget*>(id);
    ASSERT_NE(control, nullptr) << id;
    EXPECT_EQ(control->toolTip(), tooltip) << id;
  }
  // The vertical zoom steps to 2 and stops there; its bar's thumb then ends at 76.
  auto* vertical_in = window.findChild<QToolButton*>("103");
  auto* vertical_out = window.findChild<QToolButton*>("105");
  auto* vertical_bar = window.findChild<QScrollBar*>("104");
  EXPECT_FALSE(vertical_out->isEnabled());
  vertical_in->click();
  EXPECT_EQ(vertical_bar->maximum(), 51);
  vertical_in->click();
  EXPECT_FALSE(vertical_in->isEnabled());
  EXPECT_TRUE(vertical_out->isEnabled());
  EXPECT_EQ(graph->axis().vertical_zoom, 2);
  EXPECT_EQ(vertical_bar->maximum(), 76);
  vertical_bar->setValue(100);
  EXPECT_EQ(graph->axis().vertical_scroll, 76);
  vertical_out->click();
  vertical_out->click();
  EXPECT_EQ(graph->axis().vertical_zoom, 0);
  EXPECT_EQ(graph->axis().vertical_scroll, 0);
  // The graph leaves a 26-pixel column and row for the bars and buttons.
  EXPECT_EQ(graph->width(), graph->parentWidget()->width() - 26);
  EXPECT_EQ(graph->height(), graph->parentWidget()->height() - 26);
  EXPECT_EQ(zoom_default->geometry(), QRect(graph->width(), graph->height(), 26, 26));
  EXPECT_FALSE(zoom_out->isEnabled());
  EXPECT_EQ(scroll->maximum(), 0);

  // The peaks at each zoom level: channel 0 in orange at 1000 Hz, channel 1 in red at 3000 Hz.
  const QColor orange(255, 192, 0);
  const QColor red(255, 64, 64);
  for (int level = 0; level <= 2; ++level) {
    if (level > 0) zoom_in->click();
    if (level == 2) scroll->setValue(6);  // 1000 Hz lies right of the graph at position 0
    const FrequencyAxis axis = graph->axis();
    ASSERT_EQ(axis.horizontal_zoom, level);
    const QImage image = graph->grab().toImage();
    const QPoint peak = TopOf(image, orange);
    const int x = *axis.PixelOfFrequency(1000, kRate);
    EXPECT_GE(peak.x(), x) << level;
    EXPECT_LE(peak.x(), x + 1) << level;
    EXPECT_EQ(peak.y(), axis.PixelOfAttenuation(-data.levels[128])) << level;
    if (level == 0) {
      const QPoint right_peak = TopOf(image, red);
      EXPECT_GE(right_peak.x(), *axis.PixelOfFrequency(3000, kRate));
      EXPECT_LE(right_peak.x(), *axis.PixelOfFrequency(3000, kRate) + 1);
      // Up here a column spans more than one bin: the peak shows the level of its column's bin.
      EXPECT_EQ(right_peak.y(), axis.PixelOfAttenuation(-data.levels[kSpectrumBins + axis.BinAtPixel(right_peak.x())]));
      EXPECT_GE(data.levels[kSpectrumBins + axis.BinAtPixel(right_peak.x())], data.levels[kSpectrumBins + 384] - 8);
    }
  }
  EXPECT_FALSE(zoom_in->isEnabled());
  EXPECT_TRUE(zoom_out->isEnabled());
  EXPECT_EQ(scroll->maximum(), 76);
  EXPECT_EQ(scroll->pageStep(), 25);
  zoom_default->click();
  EXPECT_EQ(graph->axis().horizontal_zoom, 0);
  EXPECT_EQ(scroll->value(), 0);
  EXPECT_FALSE(zoom_out->isEnabled());

  // Grid colours between the 6 and 12 dB rows, far above both curves.
  const FrequencyAxis axis = graph->axis();
  const QImage image = graph->grab().toImage();
  const std::vector<int> rows = AttenuationGridRows(axis);
  const int y = rows[0] + 2;
  EXPECT_EQ(Pixel(image, *axis.PixelOfFrequency(5000, kRate), y), QColor(186, 186, 186));
  EXPECT_EQ(Pixel(image, *axis.PixelOfFrequency(500, kRate), y), QColor(105, 105, 105));
  const std::vector<int> hundreds = FrequencyGridColumns(axis, kRate, 100);
  int free_column = 2;
  while (std::find(hundreds.begin(), hundreds.end(), free_column) != hundreds.end()) ++free_column;
  EXPECT_EQ(Pixel(image, free_column, rows[0]), QColor(112, 128, 144));
  EXPECT_EQ(Pixel(image, free_column, y), QColor(64, 64, 64));
  // The sunken border: black on the top and left, white on the bottom and right.
  EXPECT_EQ(Pixel(image, 0, y), QColor(Qt::black));
  EXPECT_EQ(Pixel(image, free_column, 0), QColor(Qt::black));
  EXPECT_EQ(Pixel(image, axis.width - 1, y), QColor(Qt::white));
  EXPECT_EQ(Pixel(image, free_column, axis.height - 1), QColor(Qt::white));

  // The hover text names the frequency and level under the mouse and repaints only its area.
  QApplication::processEvents();  // the repaint after the zoom
  PaintRecorder recorder;
  graph->installEventFilter(&recorder);
  const int x = *axis.PixelOfFrequency(1000, kRate) + 1;
  ASSERT_EQ(axis.BinAtPixel(x), 128);
  const int row = axis.PixelOfAttenuation(30);  // the first row of 30 dB
  QMouseEvent move(QEvent::MouseMove, QPointF(x, row), graph->mapToGlobal(QPointF(x, row)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(graph, &move);
  EXPECT_EQ(graph->hover_text(), "1000 Hz, -30 dB");
  QApplication::processEvents();
  ASSERT_FALSE(recorder.rects.empty());
  for (const QRect& rect : recorder.rects) EXPECT_EQ(rect, QRect(axis.width - 140, 2, 120, 13));
  graph->removeEventFilter(&recorder);
  const QImage hovered = graph->grab().toImage();
  int white = 0;
  for (int px = axis.width - 140; px < axis.width - 20; ++px)
    for (int py = 2; py < 15; ++py) white += Pixel(hovered, px, py) == QColor(Qt::white) ? 1 : 0;
  EXPECT_GT(white, 30);
  // Right-aligned: the text ends close to x = width - 20 and nothing white lies right of it.
  int rightmost = 0;
  for (int px = 0; px < axis.width - 2; ++px)
    for (int py = 2; py < 15; ++py)
      if (Pixel(hovered, px, py) == QColor(Qt::white)) rightmost = std::max(rightmost, px);
  EXPECT_LT(rightmost, axis.width - 20);
  EXPECT_GT(rightmost, axis.width - 26);
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
