// The time-frequency analysis through the frame's command with the scripted Ui: the
// question beyond ten seconds and what declining leaves, one window reused, a cancel that
// closes it, the controls and their stored settings, the status line at known pixels, the
// analysed-range button, a click that moves the cursor and playback, and the green cursor
// on the graph. Screenshots of a two-tone stereo file and of a sweep with the grid and the
// 0 … 4000 Hz zoom.

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "document/working_folder.h"
#include "gui/main_window.h"
#include "gui/spectrogram_frame.h"
#include "gui/spectrogram_window.h"
#include "gui_fixture.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::Mouse;
using testing::SaveScreenshot;
using testing::TestSettings;

constexpr std::int32_t kRate = 8000;       // N = 512, 256 bins of 15.625 Hz
constexpr std::int32_t kTenSeconds = 10 * kRate;
constexpr std::int32_t kAmplitude = 0x40000;  // half of full scale

// Stereo: a second of silence, then 1000 Hz (bin 64) on the left and 2500 Hz (bin 160) on
// the right, both at half scale, ten seconds and a frame in all.
std::string WriteTwoTones(const std::string& folder) {
  const std::string path = JoinPath(folder, "zwei.wav");
  SinkRef writer = CreateWavWriter(PcmFormat(kRate, 2, 16), path);
  std::vector<std::int32_t> samples;
  for (std::int32_t i = 0; i <= kTenSeconds; ++i) {
    const double t = 2 * std::numbers::pi * i / kRate;
    const bool sounding = i >= kRate;
    samples.push_back(sounding ? static_cast<std::int32_t>(std::lround(kAmplitude * std::sin(1000 * t))) : 0);
    samples.push_back(sounding ? static_cast<std::int32_t>(std::lround(kAmplitude * std::sin(2500 * t))) : 0);
  }
  writer->Write(samples.data(), kTenSeconds + 1);
  return path;
}

// Mono 44100 Hz: five seconds sweeping from 100 to 8000 Hz.
std::string WriteSweep(const std::string& folder) {
  const std::string path = JoinPath(folder, "sweep.wav");
  constexpr std::int32_t kSweepRate = 44100;
  constexpr std::int32_t kFrames = 5 * kSweepRate;
  SinkRef writer = CreateWavWriter(PcmFormat(kSweepRate, 1, 16), path);
  std::vector<std::int32_t> samples;
  double phase = 0;
  for (std::int32_t i = 0; i < kFrames; ++i) {
    const double frequency = 100 + 7900.0 * i / kFrames;
    phase += 2 * std::numbers::pi * frequency / kSweepRate;
    samples.push_back(static_cast<std::int32_t>(kAmplitude * std::sin(phase)));
  }
  writer->Write(samples.data(), kFrames);
  return path;
}

int SpectrogramWindows(MainWindow& frame) {
  int count = 0;
  for (QMdiSubWindow* window : frame.documents()->subWindowList())
    if (qobject_cast<SpectrogramWindow*>(window) != nullptr) ++count;
  return count;
}

QToolButton* Button(SpectrogramWindow& window, int id) {
  return window.findChild<QToolButton*>(QString::number(id));
}

struct Fixture {
  Fixture() {
    SetWorkingFolder(test.folder);
    frame.show();
  }
  ~Fixture() {
    frame.close();
    SetWorkingFolder("");
  }
  TestSettings test;
  ScriptedUi ui;
  MainWindow frame{test.settings, &ui};
};

TEST(SpectrogramCommand, TenSecondsAskNothingMoreAsksAndDecliningChangesNothing) {
  Fixture f;
  ASSERT_TRUE(f.frame.OpenDocument(WriteTwoTones(f.test.folder)));
  AudioDocument& document = *f.frame.ActiveDocument();

  // Exactly ten seconds: analysed at once, under the progress window.
  SetSelection(document, 0, kTenSeconds, 0);
  ASSERT_TRUE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  EXPECT_TRUE(f.ui.shown().empty());
  EXPECT_EQ(f.ui.requests().back(), std::string("progress ") + kSpectrogramProgressTitle);
  SpectrogramWindow* window = f.frame.spectrogram().window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), "Temporale Frequenz Analyse");
  EXPECT_EQ(window->objectName(), "LTFFTWindow");
  EXPECT_EQ(window->data().length, kTenSeconds);
  EXPECT_EQ(window->data().bins, 256);

  // Nothing selected: the whole sound, one frame more than ten seconds, asks first. No and
  // Cancel leave the selection, the playback and the window's data as they were.
  SetSelection(document, 500, 500, 500);
  ASSERT_TRUE(f.frame.Dispatch(command_id::kPlay));
  for (MessageAnswer answer : {MessageAnswer::kNo, MessageAnswer::kCancel}) {
    f.ui.QueueAnswer(answer);
    EXPECT_FALSE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
    EXPECT_EQ(document.state.selection_start, document.state.selection_end);
    EXPECT_NE(f.frame.engine().State(), PlaybackEngine::kClosed);
    EXPECT_EQ(window->data().length, kTenSeconds);
  }
  ASSERT_EQ(f.ui.shown().size(), 2u);
  const Message& question = f.ui.shown()[0];
  EXPECT_EQ(question.text,
            "Der zeitliche Analysgraph wird normalerweise in kurtzen Markierungen verwendet (meißt einige "
            "Sekunden) weil er eine Weile zum Berechnen braucht. Trotzdem weitermachen?");
  EXPECT_EQ(question.caption, "Sonavel");
  EXPECT_EQ(question.icon, MessageIcon::kQuestion);
  EXPECT_EQ(question.buttons, MessageButtons::kYesNoCancel);

  // Yes: all is selected, playback stops, and the one window shows the new data.
  f.ui.QueueAnswer(MessageAnswer::kYes);
  ASSERT_TRUE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  EXPECT_EQ(document.state.selection_start, 0);
  EXPECT_EQ(document.state.selection_end, kTenSeconds + 1);
  EXPECT_EQ(f.frame.engine().State(), PlaybackEngine::kClosed);
  EXPECT_EQ(f.frame.spectrogram().window(), window);
  EXPECT_EQ(window->data().length, kTenSeconds + 1);
  EXPECT_EQ(SpectrogramWindows(f.frame), 1);
  // Under the analysis window the commands still work on the document.
  EXPECT_EQ(f.frame.documents()->activeSubWindow(), window);
  EXPECT_EQ(f.frame.ActiveDocument(), &document);
  SaveScreenshot(f.frame, "spectrogram_window");

  // A cancel during the computation closes the window, and the frame forgets it.
  SetSelection(document, 0, kRate, 0);
  f.ui.CancelNextProgress(5);
  EXPECT_FALSE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  EXPECT_EQ(f.frame.spectrogram().window(), nullptr);
  QTest::qWait(20);
  EXPECT_EQ(SpectrogramWindows(f.frame), 0);
  // The next run opens a new one.
  ASSERT_TRUE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  EXPECT_EQ(SpectrogramWindows(f.frame), 1);
}

TEST(SpectrogramWindow, StatusCursorRangeButtonAndClicks) {
  Fixture f;
  ASSERT_TRUE(f.frame.OpenDocument(WriteTwoTones(f.test.folder)));
  AudioDocument& document = *f.frame.ActiveDocument();
  // Two seconds from the start: the first second is silent.
  SetSelection(document, 0, 2 * kRate, 0);
  ASSERT_TRUE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  SpectrogramWindow& window = *f.frame.spectrogram().window();
  window.resize(840, 480);
  QApplication::processEvents();
  SpectrogramGraph* graph = window.graph();
  const int w = graph->width();
  const int h = graph->height();
  EXPECT_EQ(w, window.widget()->width() - 40);
  EXPECT_EQ(window.status()->y(), h);

  // The row of bin 64 (1000 Hz): row y shows (int)(255 - y / h × 255).
  int row = 0;
  while (static_cast<int>(255 - static_cast<double>(row) / h * 255) > 64) ++row;
  // Left in the silence: -128 dB. Three quarters in: the tone, whose magnitude is the mean of
  // 0.27 × amplitude on the left (the Hamming window's mean 0.54 halved) and nothing on the
  // right: 20 log10(35389 × 1.0789581580026326e-05) = -8.36.
  Mouse(graph, QEvent::MouseMove, 0, Qt::NoModifier, row);
  EXPECT_EQ(window.status()->currentMessage(), "Zeit: 0:00:00.0    Frequenz: 1000 Hz    Lautstärke: -128 dB");
  const int x = w * 3 / 4;
  const std::int64_t frame = std::int64_t{x} * 2 * kRate / w;
  Mouse(graph, QEvent::MouseMove, x, Qt::NoModifier, row);
  EXPECT_EQ(window.status()->currentMessage(),
            QString::fromStdString("Zeit: " + FormatTimeTenths(frame * 1000 / kRate) +
                                   "    Frequenz: 1000 Hz    Lautstärke: -8 dB"));
  // The top row shows bin 255: 255 × 8000 >> 9 = 3984 Hz.
  Mouse(graph, QEvent::MouseMove, x, Qt::NoModifier, 0);
  EXPECT_TRUE(window.status()->currentMessage().contains("Frequenz: 3984 Hz")) << window.status()->currentMessage().toStdString();

  // A click moves the document's cursor to the frame under it, and the green line with it;
  // the picture is not rendered again for that.
  QApplication::processEvents();
  const int renders = graph->renders();
  QTest::mouseClick(graph, Qt::LeftButton, Qt::NoModifier, QPoint(x, h / 2));
  EXPECT_EQ(document.state.cursor, frame);
  EXPECT_EQ(graph->cursor_x(), x);
  const QImage shown = graph->grab().toImage();
  EXPECT_EQ(shown.pixel(x, h / 2), qRgb(0, 255, 0));
  EXPECT_NE(shown.pixel(x + 2, h / 2), qRgb(0, 255, 0));
  EXPECT_EQ(graph->renders(), renders);
  // The brightness renders it again.
  window.findChild<QSlider*>("105")->setValue(60);
  QApplication::processEvents();
  graph->repaint();
  EXPECT_EQ(graph->renders(), renders + 1);

  // Button 102 selects the analysed range again.
  SetSelection(document, 100, 200, 100);
  Button(window, 102)->click();
  EXPECT_EQ(document.state.selection_start, 0);
  EXPECT_EQ(document.state.selection_end, 2 * kRate);

  // While playing, a click seeks playback there: the cursor runs on from the clicked frame
  // (1.5 s) well before playback from the start would have reached it.
  SetSelection(document, 0, 0, 0);
  ASSERT_TRUE(f.frame.Dispatch(command_id::kPlay));
  QTest::mouseClick(graph, Qt::LeftButton, Qt::NoModifier, QPoint(x, h / 2));
  EXPECT_TRUE(QTest::qWaitFor([&] { return document.state.cursor > frame; }, 700));
  EXPECT_LT(document.state.cursor, frame + kRate);
  EXPECT_NE(f.frame.engine().State(), PlaybackEngine::kClosed);
  f.frame.Dispatch(command_id::kStop);
}

TEST(SpectrogramWindow, ControlsFollowAndStoreTheSettings) {
  Fixture f;
  f.test.settings.WriteUserValue("Settings", "TFFTFullZoomOn", 1);
  f.test.settings.WriteUserValue("Settings", "TFFTVScroll", 60);
  f.test.settings.WriteUserValue("Settings", "GridToggle", 1);
  ASSERT_TRUE(f.frame.OpenDocument(WriteSweep(f.test.folder)));
  ASSERT_TRUE(f.frame.Dispatch(command_id::kTimeFrequencyAnalysis));
  SpectrogramWindow& window = *f.frame.spectrogram().window();
  window.resize(700, 420);
  QApplication::processEvents();

  // Tooltips, and the stored look in the controls: zoomed in, so only 104 is enabled.
  const std::pair<int, const char*> tips[] = {
      {102, "Stellt den analysierten Bereich in der Wavform wieder her"},
      {103, "Zoomed den Breich von 0 - 4000Hz"},
      {104, "Zoom Out um de kompletten Graph zu sehen"},
      {107, "Schaltet dei Gitterlinien an oder aus"}};
  for (const auto& [id, tip] : tips) EXPECT_EQ(Button(window, id)->toolTip(), tip) << id;
  auto* slider = window.findChild<QSlider*>("105");
  EXPECT_EQ(slider->toolTip(), "Verändert die Helligkeit des Graphen");
  EXPECT_EQ(slider->minimum(), 0);
  EXPECT_EQ(slider->maximum(), 100);
  EXPECT_EQ(slider->value(), 60);
  EXPECT_FALSE(Button(window, 103)->isEnabled());
  EXPECT_TRUE(Button(window, 104)->isEnabled());
  EXPECT_TRUE(Button(window, 107)->isChecked());
  // 4000 Hz at the top: (4000 << 11) / 44100 = 185. A whole second of the grid is drawn
  // in RGB 184, 134, 11 at x = 44100 × w / 220500.
  SpectrogramGraph* graph = window.graph();
  EXPECT_TRUE(window.look().zoom_4000);
  const QImage shown = graph->grab().toImage();
  EXPECT_EQ(shown.pixel(graph->width() / 5, graph->height() / 3), qRgb(184, 134, 11));
  SaveScreenshot(window, "spectrogram_sweep_grid_zoom");

  // The user zooms out, darkens, drops the grid and closes: all three are stored.
  Button(window, 104)->click();
  EXPECT_TRUE(Button(window, 103)->isEnabled());
  EXPECT_FALSE(Button(window, 104)->isEnabled());
  slider->setValue(10);
  Button(window, 107)->click();
  EXPECT_FALSE(Button(window, 107)->isChecked());
  window.close();
  EXPECT_EQ(f.frame.spectrogram().window(), nullptr);
  EXPECT_EQ(f.test.settings.ReadUserText("Settings", "TFFTFullZoomOn", ""), "0");
  EXPECT_EQ(f.test.settings.ReadUserText("Settings", "TFFTVScroll", ""), "10");
  EXPECT_EQ(f.test.settings.ReadUserText("Settings", "GridToggle", ""), "0");
}

}  // namespace
}  // namespace sonavel
