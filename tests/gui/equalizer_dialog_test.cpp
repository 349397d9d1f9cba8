// The equaliser from the frame's command with the scripted Ui (a preset chosen with values:
// the stored curve, the rendered samples against the filter run on its own, undo bit for
// bit), and its dialog on screen: a dragged point, the settings button, a preset's window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "document/working_folder.h"
#include "effects/effect.h"
#include "effects/equalizer.h"
#include "effects/equalizer_dialog.h"
#include "effects/memory_source.h"
#include "gui/effect_dialog.h"
#include "gui/equalizer_panel.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "platform/settings.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

using testing::TestSettings;

using testing::AllSamples;

TEST(EqualizerCommand, ScriptedBandPassRendersItsCurveStoresItAndUndoes) {
  TestSettings test;
  testing::ScopedDataFolder data(test.folder);
  test.settings.WriteUserValue("Settings", "AutoPlaybackAfterEffects", 0);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  ASSERT_TRUE(window.OpenDocument(testing::WriteTone(test.folder, "eq.wav", 2, 22050 * 2)));
  AudioDocument& document = *window.ActiveDocument();
  const std::vector<std::int32_t> original = AllSamples(document.sound);
  constexpr std::int32_t kStart = 3000;
  constexpr std::int32_t kEnd = 25000;
  SetSelection(document, kStart, kEnd, kStart);

  // A level beyond the window's 200 % is refused and the dialog stays; then BandPass with
  // 1500 … 3000 Hz, 500 Hz slopes and 20 % outside.
  ScriptedUi::EffectAnswer refused;
  refused.equalizer_preset = 1;
  refused.preset_values = {{"Amp", "300"}};
  ui.QueueEffectAnswer(refused);
  ScriptedUi::EffectAnswer band_pass;
  band_pass.equalizer_preset = 1;
  band_pass.preset_values = {{"StartFreq", "1500"}, {"EndFreq", "3000"}, {"Slope", "500"}, {"Amp", "20"}};
  ui.QueueEffectAnswer(band_pass);
  ASSERT_TRUE(window.Dispatch(4003));
  ASSERT_EQ(ui.shown().size(), 1u);
  EXPECT_EQ(ui.shown()[0].text, "Bitte geben Sie für \"Pegel (%)\" eine ganze Zahl von 0 bis 200 ein.");
  EXPECT_EQ(ui.effect_dialogs().back().kind, EffectDialogKind::kEqualizer);

  const EnvelopePoints curve = BandPresetCurve(EqualizerPreset::kBandPass, {1500, 3000, 500, 20});
  EXPECT_EQ(LoadEqualizerPoints(), curve);
  EXPECT_EQ(test.settings.ReadUserText("StoredValues", "EQPreset", ""), "1");
  EXPECT_EQ(test.settings.ReadUserInt("BandPass", "StartFreq", 0), 1500);
  EXPECT_EQ(ui.requests().back(), "progress Equalizing");

  std::vector<std::int32_t> range(original.begin() + 2 * kStart, original.begin() + 2 * kEnd);
  SourceRef filtered =
      MakeFirEqualizer(testing::Memory(range, 22050, 2), BuildEqualizerTable(curve, document.sound.rate));
  std::vector<std::int32_t> expected = original;
  filtered->Read(expected.data() + 2 * kStart, kEnd - kStart);
  const std::vector<std::int32_t> after = AllSamples(document.sound);
  EXPECT_NE(after, original);
  EXPECT_EQ(after, expected);
  ASSERT_TRUE(window.Dispatch(2001));
  EXPECT_EQ(AllSamples(document.sound), original);
  window.close();
  SetWorkingFolder("");
}

TEST(EqualizerDialogWindow, DraggingAPointStoresItAndAPresetOpensItsWindow) {
  TestSettings test;
  testing::ScopedDataFolder data(test.folder);
  auto editor = std::make_shared<EqualizerEditor>(test.settings, 0);
  EffectDialog description;
  description.title = "Equalizer";
  description.kind = EffectDialogKind::kEqualizer;
  description.presets_id = 105;
  description.fields.push_back(EffectField{105, "EQPreset", "Voreinstellung", "0", {"Voreinstellungen wählen"}});
  description.equalizer = editor;
  EnvelopePoints dragged_curve;
  std::string tip;
  QString message, caption, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  EnvelopePoints window_curve;
  int stepped_amp = 0;

  const std::shared_ptr<bool> ran = testing::WhenDialogUp("EffectDialog", [&](QDialog& dialog) {
    dialog.resize(640, 420);
    auto* curve = dialog.findChild<EqualizerCurve*>("101");
    ASSERT_NE(curve, nullptr);
    QApplication::processEvents();
    testing::SaveScreenshot(dialog, "equalizer");
    // The first point dragged to about 160 % at x 40.
    const QPoint from = curve->ToWidget(0, 128).toPoint();
    const QPoint to = curve->ToWidget(40, 204).toPoint();
    QTest::mousePress(curve, Qt::LeftButton, {}, from);
    testing::Mouse(curve, QEvent::MouseMove, to.x(), Qt::NoModifier, to.y());
    tip = curve->toolTip().toStdString();
    QTest::mouseRelease(curve, Qt::LeftButton, {}, to);
    dragged_curve = LoadEqualizerPoints();

    // Settings without a preset: the error box.
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        message = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
      }
    });
    dialog.findChild<QPushButton*>("106")->click();

    // BandPass from the drop-down opens its window; a typed start and a slid level.
    dialog.findChild<QComboBox*>("105")->setCurrentIndex(1);
    auto* window = dialog.findChild<EqualizerPresetWindow*>("EqualizerPresetWindow");
    ASSERT_NE(window, nullptr);
    title = window->windowTitle();
    window->findChild<QLineEdit*>("101")->setText("2000");
    window->findChild<QPushButton*>("114")->click();
    window->findChild<QSlider*>("108")->setValue(23);
    stepped_amp = window->findChild<QLineEdit*>("107")->text().toInt();
    window_curve = curve->points();
    QApplication::processEvents();
    // The dialog and its window side by side.
    const QPixmap left = dialog.grab();
    const QPixmap right = window->grab();
    QPixmap both(left.width() + right.width() + 12, std::max(left.height(), right.height()));
    both.fill(QColor(90, 90, 90));
    {
      QPainter painter(&both);
      painter.drawPixmap(0, 0, left);
      painter.drawPixmap(left.width() + 12, 0, right);
    }
    QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
    EXPECT_TRUE(both.save(QString(SONAVEL_SCREENSHOT_DIR) + "/equalizer_bandpass.png"));
    dialog.accept();
  });
  ASSERT_TRUE(RunEffectDialog(nullptr, description));
  ASSERT_TRUE(*ran);

  // The first point moved where it was dropped; its tooltip is the text of its values.
  ASSERT_EQ(dragged_curve.size(), 2u);
  EXPECT_NEAR(dragged_curve[0].first, 40, 1);
  EXPECT_NEAR(dragged_curve[0].second, 204, 1);
  EXPECT_EQ(dragged_curve[1], (std::pair<std::uint8_t, std::uint8_t>(255, 128)));
  EXPECT_EQ(tip, EqualizerPointTip(dragged_curve[0].first, dragged_curve[0].second));
  EXPECT_EQ(message, "Bitte wählen Sie eine Voreinstellung, bevor Sie das Einstellungsfenster öffnen.");
  EXPECT_EQ(caption, "Sonavel");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(title, "BandPass Einstellungen");
  EXPECT_EQ(stepped_amp, 25);
  const EnvelopePoints expected = BandPresetCurve(EqualizerPreset::kBandPass, {2000, 12000, 1000, 25});
  EXPECT_EQ(window_curve, expected);
  EXPECT_EQ(LoadEqualizerPoints(), expected);
  EXPECT_EQ(description.points, expected);
  EXPECT_EQ(description.fields[0].value, "1");
}

}  // namespace
}  // namespace sonavel
