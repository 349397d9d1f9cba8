#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "effects/effect.h"
#include "gui/compressor_curve.h"
#include "gui/effect_dialog.h"
#include "gui/envelope_editor.h"
#include "gui_fixture.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;

using Points = EnvelopePoints;

// Runs the dialog for `description` modally; `steps` act on it once it is up and must end
// it (a dialog still open after five seconds is cancelled so that a failure cannot hang).
bool RunDialog(EffectDialog& description, std::function<void(QDialog&)> steps) {
  const std::shared_ptr<bool> ran = testing::WhenDialogUp("EffectDialog", std::move(steps));
  const bool accepted = RunEffectDialog(nullptr, description);
  EXPECT_TRUE(*ran);
  return accepted;
}

template <typename T>
T* Find(QWidget& dialog, const QString& name) {
  T* widget = dialog.findChild<T*>(name);
  EXPECT_NE(widget, nullptr) << name.toStdString();
  return widget;
}

QPushButton* Ok(QWidget& dialog) {
  return Find<QDialogButtonBox>(dialog, "buttons")->button(QDialogButtonBox::Ok);
}

QPushButton* Cancel(QWidget& dialog) {
  return Find<QDialogButtonBox>(dialog, "buttons")->button(QDialogButtonBox::Cancel);
}

// What the next message box showed; it is answered with OK.
struct SeenMessage {
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool shown = false;

  void Arm() {
    QTimer::singleShot(0, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        Arm();
        return;
      }
      shown = true;
      text = box->text();
      caption = box->windowTitle();
      icon = box->icon();
      box->button(QMessageBox::Ok)->click();
    });
  }
};

EffectDialog Amplify() {
  EffectDialog dialog;
  dialog.title = "Anpassen";
  dialog.fields.push_back(EffectField{101, "AmplifyGain", "Verstärkung (%):", "100", {}});
  dialog.presets = {{"Viertel Lautstärke", {"25"}},
                    {"Halbe Lautstärke", {"50"}},
                    {"Doppelte Lautstärke", {"200"}},
                    {"Dreifache Lautstärke", {"300"}}};
  dialog.validate = [](const std::vector<EffectField>& fields) {
    return std::stoi(fields[0].value) > 400
               ? std::string("Normalisierungslevel muss be unter 400% liegen. Bitte noch einmal versuchen.")
               : std::string();
  };
  return dialog;
}

// A preview that records what it was asked to do.
struct PreviewLog {
  std::vector<std::string> calls;  // "start <field texts>" or "stop"
  bool answer = true;

  void Attach(EffectDialog& dialog) {
    dialog.start_preview = [this](const EffectDialog& current) {
      std::string call = "start";
      for (const EffectField& field : current.fields) call += " " + field.value;
      calls.push_back(call);
      return answer;
    };
    dialog.stop_preview = [this] { calls.push_back("stop"); };
  }
};

// ---- The envelope's editing rules.

TEST(EffectDialogEnvelope, AddingInsertsByPositionAndNeverOutsideTheEnds) {
  Points points = DefaultEnvelope();
  EXPECT_EQ(AddEnvelopePoint(points, 100, 200), 1u);
  EXPECT_EQ(AddEnvelopePoint(points, 50, 60), 1u);
  EXPECT_EQ(AddEnvelopePoint(points, 100, 10), 3u);  // after the point with the same x
  EXPECT_EQ(AddEnvelopePoint(points, 0, 300), 1u);    // not before the first point, y limited
  EXPECT_EQ(AddEnvelopePoint(points, 400, -5), 5u);   // not after the last point, x and y limited
  EXPECT_EQ(points, (Points{{0, 128}, {0, 255}, {50, 60}, {100, 200}, {100, 10}, {255, 0}, {255, 128}}));
}

TEST(EffectDialogEnvelope, MovingKeepsXBetweenTheNeighboursAndTheEndsInPlace) {
  Points points{{0, 128}, {40, 100}, {90, 20}, {255, 128}};
  MoveEnvelopePoint(points, 1, 200, 140);  // past its right neighbour
  EXPECT_EQ(points[1], (std::pair<std::uint8_t, std::uint8_t>(90, 140)));
  MoveEnvelopePoint(points, 2, 10, 999);  // past its left neighbour, y above the top
  EXPECT_EQ(points[2], (std::pair<std::uint8_t, std::uint8_t>(90, 255)));
  MoveEnvelopePoint(points, 2, 120, -3);
  EXPECT_EQ(points[2], (std::pair<std::uint8_t, std::uint8_t>(120, 0)));
  MoveEnvelopePoint(points, 0, 60, 0);  // the ends move only up and down
  MoveEnvelopePoint(points, 3, 30, 255);
  EXPECT_EQ(points, (Points{{0, 0}, {90, 140}, {120, 0}, {255, 255}}));
  MoveEnvelopePoint(points, 9, 10, 10);  // no such point: nothing changes
  EXPECT_EQ(points.size(), 4u);
}

TEST(EffectDialogEnvelope, OnlyInnerPointsCanBeRemoved) {
  Points points{{0, 128}, {40, 100}, {90, 20}, {255, 128}};
  EXPECT_FALSE(RemoveEnvelopePoint(points, 0));
  EXPECT_FALSE(RemoveEnvelopePoint(points, 3));
  EXPECT_FALSE(RemoveEnvelopePoint(points, 4));
  EXPECT_TRUE(RemoveEnvelopePoint(points, 1));
  EXPECT_EQ(points, (Points{{0, 128}, {90, 20}, {255, 128}}));
  EXPECT_TRUE(RemoveEnvelopePoint(points, 1));
  EXPECT_FALSE(RemoveEnvelopePoint(points, 1));
  EXPECT_EQ(points, DefaultEnvelope());
}

TEST(EffectDialogEnvelope, HoldsAtMostSixtyFourPoints) {
  Points points = DefaultEnvelope();
  for (int i = 0; i < 62; ++i) EXPECT_TRUE(AddEnvelopePoint(points, 4 * i + 2, 100).has_value()) << i;
  EXPECT_EQ(points.size(), 64u);
  EXPECT_FALSE(AddEnvelopePoint(points, 7, 7).has_value());
  EXPECT_EQ(points.size(), 64u);
  EXPECT_TRUE(RemoveEnvelopePoint(points, 10));
  EXPECT_TRUE(AddEnvelopePoint(points, 7, 7).has_value());
}

TEST(EffectDialogEnvelope, StoredListsAreRepairedForEditing) {
  EXPECT_EQ(NormalizeEnvelope({}), DefaultEnvelope());
  EXPECT_EQ(NormalizeEnvelope({{30, 10}}), DefaultEnvelope());
  EXPECT_EQ(NormalizeEnvelope({{5, 0}, {80, 90}, {60, 70}, {200, 128}}),
            (Points{{0, 0}, {80, 90}, {80, 70}, {255, 128}}));
  Points many(70, {10, 50});
  const Points repaired = NormalizeEnvelope(many);
  ASSERT_EQ(repaired.size(), 64u);
  EXPECT_EQ(repaired.front().first, 0);
  EXPECT_EQ(repaired.back().first, 255);
}

TEST(EffectDialogEnvelope, GainTextsInPercentAndDecibels) {
  EXPECT_EQ(EnvelopeGainText(128), "100 % (0,0 dB)");
  EXPECT_EQ(EnvelopeGainText(64), "50 % (-6,0 dB)");
  EXPECT_EQ(EnvelopeGainText(255), "199 % (+6,0 dB)");
  EXPECT_EQ(EnvelopeGainText(0), "0 % (-∞ dB)");
}

// ---- The envelope editor widget.

TEST(EffectDialogEnvelope, TheMouseAddsMovesAndRemovesPoints) {
  EnvelopeEditor editor;
  editor.resize(560, 300);
  editor.SetPoints({{0, 128}, {128, 64}, {255, 128}});
  int changes = 0;
  QObject::connect(&editor, &EnvelopeEditor::PointsChanged, [&] { ++changes; });

  // A click on empty space adds a point there; dragging it moves it.
  const QPointF empty = editor.ToWidget(64, 200);
  ASSERT_FALSE(editor.PointAt(empty).has_value());
  QTest::mousePress(&editor, Qt::LeftButton, {}, empty.toPoint());
  ASSERT_EQ(editor.points().size(), 4u);
  const auto [added_x, added_y] = editor.FromWidget(empty.toPoint());
  EXPECT_EQ(editor.points()[1].first, added_x);
  EXPECT_EQ(editor.points()[1].second, added_y);
  testing::Mouse(&editor, QEvent::MouseMove, static_cast<int>(editor.ToWidget(90, 0).x()), Qt::NoModifier,
                 static_cast<int>(editor.ToWidget(90, 0).y()));
  QTest::mouseRelease(&editor, Qt::LeftButton, {}, editor.ToWidget(90, 0).toPoint());
  EXPECT_EQ(editor.points()[1].second, 0);
  EXPECT_NEAR(editor.points()[1].first, 90, 1);
  EXPECT_GE(changes, 2);

  // Dragging a point past its neighbour stops at the neighbour's x.
  const QPoint dragged = editor.ToWidget(editor.points()[1].first, 0).toPoint();
  QTest::mousePress(&editor, Qt::LeftButton, {}, dragged);
  testing::Mouse(&editor, QEvent::MouseMove, static_cast<int>(editor.ToWidget(200, 30).x()), Qt::NoModifier,
                 static_cast<int>(editor.ToWidget(200, 30).y()));
  QTest::mouseRelease(&editor, Qt::LeftButton, {}, editor.ToWidget(200, 30).toPoint());
  EXPECT_EQ(editor.points()[1].first, 128);
  EXPECT_NEAR(editor.points()[1].second, 30, 1);
  EXPECT_EQ(editor.points()[2], (std::pair<std::uint8_t, std::uint8_t>(128, 64)));

  // The last point only moves up and down.
  QTest::mousePress(&editor, Qt::LeftButton, {}, editor.ToWidget(255, 128).toPoint());
  testing::Mouse(&editor, QEvent::MouseMove, static_cast<int>(editor.ToWidget(100, 192).x()), Qt::NoModifier,
                 static_cast<int>(editor.ToWidget(100, 192).y()));
  QTest::mouseRelease(&editor, Qt::LeftButton, {}, editor.ToWidget(100, 192).toPoint());
  EXPECT_EQ(editor.points().back().first, 255);
  EXPECT_NEAR(editor.points().back().second, 192, 1);

  // A right click removes an inner point, a double click another; the ends stay.
  const auto inner = editor.points()[1];
  QTest::mouseClick(&editor, Qt::RightButton, {}, editor.ToWidget(inner.first, inner.second).toPoint());
  ASSERT_EQ(editor.points().size(), 3u);
  const auto middle = editor.points()[1];
  QTest::mouseDClick(&editor, Qt::LeftButton, {}, editor.ToWidget(middle.first, middle.second).toPoint());
  ASSERT_EQ(editor.points().size(), 2u);
  QTest::mouseClick(&editor, Qt::RightButton, {}, editor.ToWidget(0, 128).toPoint());
  EXPECT_EQ(editor.points().size(), 2u);
}

TEST(EffectDialogEnvelope, TheDialogReturnsTheEditedPointsAndResets) {
  EffectDialog description;
  description.title = "Dynamik";
  description.kind = EffectDialogKind::kEnvelope;
  description.points = {{0, 0}, {60, 200}, {140, 96}, {200, 160}, {255, 40}};
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    dialog.resize(640, 420);
    auto* editor = Find<EnvelopeEditor>(dialog, "envelopeEditor");
    EXPECT_EQ(editor->points().size(), 5u);
    EXPECT_EQ(Find<QLabel>(dialog, "envelopeReadout")->text(), "5 von 64 Punkten");
    SaveScreenshot(dialog, "effect_envelope");
    // Pointing at a point shows its values.
    testing::Mouse(editor, QEvent::MouseMove, static_cast<int>(editor->ToWidget(60, 200).x()), Qt::NoModifier,
                   static_cast<int>(editor->ToWidget(60, 200).y()));
    EXPECT_EQ(Find<QLabel>(dialog, "envelopeReadout")->text(), "Punkt 2: Position 23 %, Verstärkung 156 % (+3,9 dB)");
    QTest::mouseClick(editor, Qt::RightButton, {}, editor->ToWidget(140, 96).toPoint());
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.points, (Points{{0, 0}, {60, 200}, {200, 160}, {255, 40}}));

  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    Find<QPushButton>(dialog, "resetEnvelope")->click();
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.points, DefaultEnvelope());

  // Cancel keeps the points as they were.
  description.points = {{0, 10}, {255, 20}};
  EXPECT_FALSE(RunDialog(description, [](QDialog& dialog) {
    Find<QPushButton>(dialog, "resetEnvelope")->click();
    Cancel(dialog)->click();
  }));
  EXPECT_EQ(description.points, (Points{{0, 10}, {255, 20}}));
}

// ---- Plain fields: presets, validation, cancel.

TEST(EffectDialogFields, APresetFillsTheFieldsAndEntryZeroDoesNothing) {
  EffectDialog description = Amplify();
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Anpassen");
    auto* presets = Find<QComboBox>(dialog, "103");
    auto* gain = Find<QLineEdit>(dialog, "101");
    ASSERT_EQ(presets->count(), 5);
    EXPECT_EQ(presets->itemText(0), "Voreinstellungen Wählen");
    EXPECT_EQ(presets->itemText(4), "Dreifache Lautstärke");
    EXPECT_EQ(gain->text(), "100");
    presets->setCurrentIndex(2);
    EXPECT_EQ(gain->text(), "50");
    gain->setText("77");
    presets->setCurrentIndex(0);
    EXPECT_EQ(gain->text(), "77");
    presets->setCurrentIndex(3);
    EXPECT_EQ(gain->text(), "200");
    SaveScreenshot(dialog, "effect_amplify");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "200");
}

// The dialogs of echo, reverb, chorus, flanger and phaser as their commands describe them:
// one edit per field under its control id, the presets under theirs, and a preset fills
// every field.
TEST(EffectDialogFields, DelayEffectDialogsShowTheirFieldsAndPresets) {
  const std::vector<std::pair<int, QString>> shots = {
      {4004, "effect_echo"}, {4005, "effect_reverb"}, {4025, "effect_chorus"}, {4026, "effect_flanger"},
      {4027, "effect_phaser"}};
  for (const auto& [id, shot] : shots) {
    const EffectDefinition* effect = FindEffect(id);
    ASSERT_NE(effect, nullptr);
    EffectDialog description;
    description.title = effect->undo_name;
    description.presets = effect->presets;
    description.presets_id = effect->presets_id;
    for (const EffectParameter& parameter : effect->parameters)
      description.fields.push_back(EffectField{parameter.id, parameter.name, parameter.label, parameter.fallback, {}});
    description.validate = [effect](const std::vector<EffectField>& fields) {
      return RefusalMessage(*effect, FieldValues(fields));
    };
    PreviewLog preview;
    preview.Attach(description);
    EXPECT_TRUE(RunDialog(description, [&, shot = shot](QDialog& dialog) {
      EXPECT_EQ(dialog.windowTitle().toStdString(), effect->undo_name);
      auto* presets = Find<QComboBox>(dialog, QString::number(effect->presets_id));
      ASSERT_EQ(presets->count(), static_cast<int>(effect->presets.size()) + 1);
      for (const EffectParameter& parameter : effect->parameters)
        EXPECT_EQ(Find<QLineEdit>(dialog, QString::number(parameter.id))->text().toStdString(), parameter.fallback);
      presets->setCurrentIndex(2);
      for (std::size_t i = 0; i < effect->parameters.size(); ++i)
        EXPECT_EQ(Find<QLineEdit>(dialog, QString::number(effect->parameters[i].id))->text().toStdString(),
                  effect->presets[1].values[i]);
      SaveScreenshot(dialog, shot);
      Ok(dialog)->click();
    }));
  }
}

TEST(EffectDialogFields, AValueThatFailsTheCheckKeepsTheDialogOpen) {
  EffectDialog description = Amplify();
  SeenMessage message;
  bool stayed_open = false;
  EXPECT_TRUE(RunDialog(description, [&](QDialog& dialog) {
    auto* gain = Find<QLineEdit>(dialog, "101");
    gain->setText("500");
    message.Arm();
    Ok(dialog)->click();
    stayed_open = dialog.isVisible() && dialog.result() != QDialog::Accepted;
    EXPECT_EQ(description.fields[0].value, "100");  // not taken yet
    gain->setText("400");
    Ok(dialog)->click();
  }));
  EXPECT_TRUE(message.shown);
  EXPECT_EQ(message.text, "Normalisierungslevel muss be unter 400% liegen. Bitte noch einmal versuchen.");
  EXPECT_EQ(message.caption, "Ungültiger Wert");
  EXPECT_EQ(message.icon, QMessageBox::Information);
  EXPECT_TRUE(stayed_open);
  EXPECT_EQ(description.fields[0].value, "400");
}

TEST(EffectDialogFields, TypedTextThatIsNoNumberIsRefusedWithTheFieldsRange) {
  // The check the editor's amplify command gives its dialog.
  const EffectDefinition& amplify = *FindEffect(4001);
  EffectDialog description = Amplify();
  description.fields[0].label = amplify.parameters[0].label;
  description.validate = [&amplify](const std::vector<EffectField>& fields) {
    return RefusalMessage(amplify, FieldValues(fields));
  };
  QString text, caption;
  bool stayed_open = false;
  EXPECT_TRUE(RunDialog(description, [&](QDialog& dialog) {
    auto* gain = Find<QLineEdit>(dialog, "101");
    gain->setText("abc");
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      caption = box->windowTitle();
      // The refusal over its dialog, with the box's caption above it (offscreen windows
      // have no frame of their own).
      const QPixmap under = dialog.grab();
      const QPixmap over = box->grab();
      const int bar = 24;
      QPixmap shot(std::max(under.width(), over.width() + 40), under.height() + over.height() + bar + 10);
      shot.fill(Qt::lightGray);
      QPainter painter(&shot);
      painter.drawPixmap(0, 0, under);
      const QPoint corner((shot.width() - over.width()) / 2, under.height() - 10);
      painter.fillRect(QRect(corner.x(), corner.y(), over.width(), bar), QColor(60, 60, 70));
      painter.setPen(Qt::white);
      painter.drawText(QRect(corner.x() + 8, corner.y(), over.width() - 8, bar), Qt::AlignVCenter, caption);
      painter.drawPixmap(corner + QPoint(0, bar), over);
      painter.setPen(Qt::darkGray);
      painter.drawRect(QRect(corner, QSize(over.width() - 1, over.height() + bar - 1)));
      painter.end();
      QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
      EXPECT_TRUE(shot.save(QString(SONAVEL_SCREENSHOT_DIR) + "/refused_value.png"));
      box->button(QMessageBox::Ok)->click();
    });
    Ok(dialog)->click();
    stayed_open = dialog.isVisible() && dialog.result() != QDialog::Accepted;
    EXPECT_EQ(description.fields[0].value, "100");  // nothing taken
    gain->setText(" 250 ");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(caption, "Ungültiger Wert");
  EXPECT_EQ(text, "Bitte geben Sie für \"Lautstärke (%)\" eine ganze Zahl von 0 bis 400 ein.");
  EXPECT_TRUE(stayed_open);
  EXPECT_EQ(description.fields[0].value, " 250 ");
}

TEST(EffectDialogFields, CancelReturnsFalseAndLeavesTheFields) {
  EffectDialog description = Amplify();
  description.fields.push_back(EffectField{104, "Mode", "Art:", "1", {"eins", "zwei", "drei"}});
  EXPECT_FALSE(RunDialog(description, [](QDialog& dialog) {
    auto* mode = Find<QComboBox>(dialog, "104");
    EXPECT_EQ(mode->currentText(), "zwei");
    mode->setCurrentIndex(2);
    Find<QLineEdit>(dialog, "101")->setText("33");
    Cancel(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "100");
  EXPECT_EQ(description.fields[1].value, "1");

  // The same with OK: the drop-down's value is the chosen index.
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    Find<QComboBox>(dialog, "104")->setCurrentIndex(2);
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[1].value, "2");
}

// ---- Preview.

TEST(EffectDialogPreview, TheButtonTogglesAndAnEditOfTheParametersRestartsIt) {
  EffectDialog description = Amplify();
  description.fields.push_back(EffectField{102, "Second", "Zweiter:", "7", {}});
  description.fields.push_back(EffectField{104, "Other", "Anderer:", "9", {}});
  PreviewLog log;
  log.Attach(description);
  EXPECT_FALSE(RunDialog(description, [&](QDialog& dialog) {
    auto* button = Find<QPushButton>(dialog, "140");
    EXPECT_EQ(button->text(), "Vorschau");
    EXPECT_TRUE(button->isEnabled());
    // Editing while idle plays nothing.
    Find<QLineEdit>(dialog, "101")->setText("120");
    EXPECT_TRUE(log.calls.empty());
    button->click();
    EXPECT_EQ(button->text(), "Stop");
    Find<QLineEdit>(dialog, "101")->setText("150");
    Find<QLineEdit>(dialog, "102")->setText("8");
    Find<QLineEdit>(dialog, "104")->setText("10");  // not a parameter the preview restarts for
    button->click();
    EXPECT_EQ(button->text(), "Vorschau");
    // A preview that cannot start leaves the button idle.
    log.answer = false;
    button->click();
    EXPECT_EQ(button->text(), "Vorschau");
    log.answer = true;
    button->click();
    EXPECT_EQ(button->text(), "Stop");
    // Playback ended by itself.
    NotifyEffectPreviewStopped();
    EXPECT_EQ(button->text(), "Vorschau");
    button->click();
    Cancel(dialog)->click();  // closing stops it
  }));
  EXPECT_EQ(log.calls, (std::vector<std::string>{"start 120 7 9", "stop", "start 150 7 9", "stop", "start 150 8 9",
                                                 "stop", "start 150 8 10", "start 150 8 10", "start 150 8 10",
                                                 "stop"}));
  // The dialog is gone: a late notice reaches nothing.
  NotifyEffectPreviewStopped();
}

TEST(EffectDialogPreview, OkStopsThePreviewAndAnEmptySelectionDisablesIt) {
  EffectDialog description = Amplify();
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [&](QDialog& dialog) {
    Find<QPushButton>(dialog, "140")->click();
    Ok(dialog)->click();
  }));
  EXPECT_EQ(log.calls, (std::vector<std::string>{"start 100", "stop"}));

  description.preview_empty = true;
  log.calls.clear();
  EXPECT_FALSE(RunDialog(description, [&](QDialog& dialog) {
    auto* button = Find<QPushButton>(dialog, "140");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(button->hasFocus());
    button->click();
    EXPECT_EQ(button->text(), "Vorschau");
    dialog.reject();
  }));
  EXPECT_TRUE(log.calls.empty());

  // Without a preview there is no button.
  EffectDialog plain = Amplify();
  EXPECT_FALSE(RunDialog(plain, [](QDialog& dialog) {
    EXPECT_EQ(dialog.findChild<QPushButton*>("140"), nullptr);
    dialog.reject();
  }));
}

// ---- The special dialogs.

TEST(EffectDialogStereoPan, TheSliderShowsItsValueAndRestartsThePreview) {
  EffectDialog description;
  description.title = "Stereo Pan";
  description.kind = EffectDialogKind::kStereoPan;
  description.fields.push_back(EffectField{101, "StereoPan", "", "30", {}});
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [&](QDialog& dialog) {
    auto* slider = Find<QSlider>(dialog, "101");
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    EXPECT_EQ(slider->value(), 30);
    EXPECT_EQ(Find<QLabel>(dialog, "101Value")->text(), "30 (links)");
    Find<QPushButton>(dialog, "140")->click();
    SaveScreenshot(dialog, "effect_stereo_pan");
    slider->setValue(50);
    EXPECT_EQ(Find<QLabel>(dialog, "101Value")->text(), "50 (Mitte)");
    // While the knob is held only the readout follows; the release restarts the preview.
    slider->setSliderDown(true);
    slider->setValue(80);
    slider->setValue(90);
    slider->setSliderDown(false);
    EXPECT_EQ(Find<QPushButton>(dialog, "140")->text(), "Stop");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "90");
  EXPECT_EQ(log.calls, (std::vector<std::string>{"start 30", "stop", "start 50", "stop", "start 90", "stop"}));
}

TEST(EffectDialogCrossFade, ThreeTimesWithTheirLabels) {
  EffectDialog description;
  description.title = "Cross Fade";
  description.kind = EffectDialogKind::kCrossFade;
  for (const char* name : {"GapTimeMS", "FadeInTimeMS", "FadeOutTimeMS"})
    description.fields.push_back(EffectField{101, name, "", "300", {}});
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    auto* gap = Find<QLineEdit>(dialog, "GapTimeMS");
    auto* in = Find<QLineEdit>(dialog, "FadeInTimeMS");
    auto* out = Find<QLineEdit>(dialog, "FadeOutTimeMS");
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      if (label->buddy() != nullptr) labels << label->buddy()->objectName() + "=" + label->text();
    labels.sort();
    EXPECT_EQ(labels.join(";"), "FadeInTimeMS=Einblenden (ms):;FadeOutTimeMS=Ausblenden (ms):;GapTimeMS=Lücke (ms):");
    gap->setText("100");
    in->setText("250");
    out->setText("-5");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "100");
  EXPECT_EQ(description.fields[1].value, "250");
  EXPECT_EQ(description.fields[2].value, "-5");
}

TEST(EffectDialogCompressor, TheTransferCurveFollowsTheGainTable) {
  // 2:1 (half a dB less per dB) from -20 dB on, with 10 dB make-up below.
  EXPECT_NEAR(CompressorOutputLevel(-40, -20, 0, 2), -30.0, 1e-6);
  EXPECT_NEAR(CompressorOutputLevel(-20, -20, 0, 2), -10.0, 1e-6);
  EXPECT_NEAR(CompressorOutputLevel(-10, -20, 0, 2), -5.0, 1e-6);
  EXPECT_NEAR(CompressorOutputLevel(0, -20, 0, 2), 0.0, 1e-6);
  // Above the limit the output stays where it got (one dB down per dB).
  EXPECT_NEAR(CompressorOutputLevel(-4, -20, -10, 2), -5.0, 0.01);  // 0.8913 is not quite -1 dB
  // "1:1" changes nothing below the limit; a threshold at or above 0 gives no make-up.
  EXPECT_NEAR(CompressorOutputLevel(-33, -20, 0, 0), -33.0, 1e-6);
  EXPECT_NEAR(CompressorOutputLevel(-33, 5, 10, 6), -33.0, 1e-6);
  // "Limit": flat from the threshold on; a limit below the threshold limits from the threshold.
  EXPECT_NEAR(CompressorOutputLevel(-12, -30, 0, 6), 0.0, 1e-6);
  EXPECT_NEAR(CompressorOutputLevel(-10, -20, -40, 0), -20.0, 0.01);
  // An unknown ratio entry compresses nothing.
  EXPECT_NEAR(CompressorOutputLevel(-10, -20, 0, 9), -10.0, 1e-6);
}

EffectDialog Compressor(const char* threshold, const char* ratio, const char* limit) {
  EffectDialog dialog;
  dialog.title = "Dynamic Range Compressor";
  dialog.kind = EffectDialogKind::kCompressor;
  dialog.fields.push_back(EffectField{101, "CompressorThreshold", "", threshold, {}});
  dialog.fields.push_back(EffectField{102, "CompressorRatio", "", ratio, {"1:1", "3:2", "2:1", "3:1", "4:1", "5:1",
                                                                          "Limit"}});
  dialog.fields.push_back(EffectField{103, "CompressorLimit", "", limit, {}});
  return dialog;
}

TEST(EffectDialogCompressor, SlidersAndRatioWriteTheirValuesBack) {
  EffectDialog description = Compressor("-20", "2", "-3");
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    dialog.resize(620, 300);
    auto* threshold = Find<QSlider>(dialog, "CompressorThreshold");
    auto* limit = Find<QSlider>(dialog, "CompressorLimit");
    auto* ratio = Find<QComboBox>(dialog, "CompressorRatio");
    auto* curve = Find<CompressorCurve>(dialog, "compressorCurve");
    EXPECT_EQ(threshold->minimum(), -60);
    EXPECT_EQ(threshold->maximum(), 0);
    EXPECT_EQ(limit->minimum(), -30);
    EXPECT_EQ(threshold->value(), -20);
    EXPECT_EQ(limit->value(), -3);
    EXPECT_EQ(ratio->count(), 7);
    EXPECT_EQ(ratio->currentText(), "2:1");
    EXPECT_EQ(Find<QLabel>(dialog, "CompressorThresholdValue")->text(), "-20 dB");
    EXPECT_EQ(Find<QLabel>(dialog, "CompressorLimitValue")->text(), "-3 dB");
    EXPECT_EQ(curve->threshold(), -20);
    EXPECT_EQ(curve->ratio(), 2);
    EXPECT_EQ(curve->limit(), -3);
    SaveScreenshot(dialog, "effect_compressor");
    threshold->setValue(-36);
    limit->setValue(-8);
    ratio->setCurrentIndex(6);
    EXPECT_EQ(Find<QLabel>(dialog, "CompressorThresholdValue")->text(), "-36 dB");
    EXPECT_EQ(curve->threshold(), -36);
    EXPECT_EQ(curve->limit(), -8);
    EXPECT_EQ(curve->ratio(), 6);
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "-36");
  EXPECT_EQ(description.fields[1].value, "6");
  EXPECT_EQ(description.fields[2].value, "-8");
}

TEST(EffectDialogCompressor, StoredValuesBeyondTheUsualRangesAreKept) {
  EffectDialog description = Compressor("-90", "12", "4");
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    auto* threshold = Find<QSlider>(dialog, "CompressorThreshold");
    auto* limit = Find<QSlider>(dialog, "CompressorLimit");
    EXPECT_EQ(threshold->minimum(), -90);
    EXPECT_EQ(threshold->value(), -90);
    EXPECT_EQ(limit->maximum(), 4);
    EXPECT_EQ(limit->value(), 4);
    EXPECT_EQ(Find<QComboBox>(dialog, "CompressorRatio")->currentIndex(), -1);
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "-90");
  EXPECT_EQ(description.fields[1].value, "12");
  EXPECT_EQ(description.fields[2].value, "4");
}


// ---- The mix dialog.

EffectDialog Mix(const char* title, const char* stereo, const char* selection_empty, const char* choice) {
  EffectDialog dialog;
  dialog.title = title;
  dialog.kind = EffectDialogKind::kMix;
  dialog.fields.push_back(EffectField{101, "PasteMixVolume", "Lautstärke (%)", "100", {}});
  dialog.fields.push_back(EffectField{102, "Balance", "Stereo Regler (L - R)", "50", {}});
  dialog.fields.push_back(EffectField{103, "LongerSelection", "Wenn Mix länger als Markierung ist:", choice,
                                      {"Stille einfügen", "Markierung anpassen", "Mix ausblenden"}});
  dialog.fields.push_back(EffectField{104, "FadeOutTime", "Ausblendzeit:", "1.5", {}});
  dialog.fields.push_back(EffectField{105, "Stereo", "", stereo, {}});
  dialog.fields.push_back(EffectField{106, "SelectionEmpty", "", selection_empty, {}});
  dialog.validate = [](const std::vector<EffectField>& fields) {
    return std::stoi(fields[0].value) > 100
               ? std::string("Mix Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen.")
               : std::string();
  };
  return dialog;
}

std::vector<std::string> Values(const EffectDialog& dialog) {
  std::vector<std::string> values;
  for (const EffectField& field : dialog.fields) values.push_back(field.value);
  return values;
}

TEST(EffectDialogMix, StereoWithASelectionOffersEverythingAndWritesTheValuesBack) {
  EffectDialog description = Mix("Mix einfügen", "1", "0", "0");
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Mix einfügen");
    auto* volume = Find<QLineEdit>(dialog, "101");
    auto* balance = Find<QSlider>(dialog, "102");
    auto* fade = Find<QLineEdit>(dialog, "104");
    auto* group = Find<QGroupBox>(dialog, "103");
    auto* adjust = Find<QRadioButton>(dialog, "103_1");
    auto* silence = Find<QRadioButton>(dialog, "103_0");
    auto* fade_out = Find<QRadioButton>(dialog, "103_2");
    // Only the four values are shown: the information fields have no controls.
    EXPECT_EQ(dialog.findChildren<QLineEdit*>().size(), 2);
    EXPECT_EQ(dialog.findChildren<QSlider*>().size(), 1);
    EXPECT_EQ(dialog.findChildren<QRadioButton*>().size(), 3);
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
      if (label->buddy() != nullptr) labels << label->buddy()->objectName() + "=" + label->text();
    labels.sort();
    EXPECT_EQ(labels.join(";"), "101=Lautstärke (%);102=Stereo Regler (L - R);104=Ausblendzeit:");
    EXPECT_EQ(group->title(), "Wenn Mix länger als Markierung ist:");
    EXPECT_EQ(adjust->text(), "Markierung anpassen");
    EXPECT_EQ(silence->text(), "Stille einfügen");
    EXPECT_EQ(fade_out->text(), "Mix ausblenden");
    // Top to bottom: adjust, silence, fade out.
    EXPECT_LT(adjust->y(), silence->y());
    EXPECT_LT(silence->y(), fade_out->y());

    EXPECT_EQ(volume->text(), "100");
    EXPECT_EQ(balance->minimum(), 0);
    EXPECT_EQ(balance->maximum(), 100);
    EXPECT_EQ(balance->value(), 50);
    EXPECT_EQ(Find<QLabel>(dialog, "102Value")->text(), "50");
    EXPECT_TRUE(balance->isEnabled());
    EXPECT_TRUE(group->isEnabled());
    EXPECT_TRUE(silence->isChecked());
    EXPECT_FALSE(adjust->isChecked());
    EXPECT_FALSE(fade->isEnabled());  // only for fading out
    EXPECT_EQ(fade->text(), "1.5");

    fade_out->click();
    EXPECT_TRUE(fade->isEnabled());
    SaveScreenshot(dialog, "effect_mix");
    adjust->click();
    EXPECT_FALSE(fade->isEnabled());
    fade_out->click();
    EXPECT_TRUE(fade->isEnabled());
    volume->setText("80");
    balance->setValue(30);
    EXPECT_EQ(Find<QLabel>(dialog, "102Value")->text(), "30");
    fade->setText("0:02.25");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(Values(description), (std::vector<std::string>{"80", "30", "2", "0:02.25", "1", "0"}));
}

TEST(EffectDialogMix, MonoWithAnEmptySelectionShowsAdjustingChosenAndDisabled) {
  EffectDialog description = Mix("Datei Mixen", "0", "1", "2");
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Datei Mixen");
    EXPECT_FALSE(Find<QSlider>(dialog, "102")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>(dialog, "101")->isEnabled());
    EXPECT_FALSE(Find<QGroupBox>(dialog, "103")->isEnabled());
    EXPECT_FALSE(Find<QRadioButton>(dialog, "103_2")->isEnabled());
    EXPECT_TRUE(Find<QRadioButton>(dialog, "103_1")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(dialog, "103_2")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>(dialog, "104")->isEnabled());
    SaveScreenshot(dialog, "effect_mix_mono_empty");
    Find<QLineEdit>(dialog, "101")->setText("40");
    Ok(dialog)->click();
  }));
  // What was shown goes back: the mix sets the selection's length.
  EXPECT_EQ(Values(description), (std::vector<std::string>{"40", "50", "1", "1.5", "0", "1"}));
}

TEST(EffectDialogMix, AVolumeAbove100IsRefusedAndCancelKeepsTheFields) {
  EffectDialog description = Mix("Mix einfügen", "1", "0", "2");
  description.fields[1].value = "";  // nothing stored: the balance starts in the middle
  SeenMessage message;
  bool stayed_open = false;
  EXPECT_TRUE(RunDialog(description, [&](QDialog& dialog) {
    EXPECT_EQ(Find<QSlider>(dialog, "102")->value(), 50);
    EXPECT_TRUE(Find<QRadioButton>(dialog, "103_2")->isChecked());
    EXPECT_TRUE(Find<QLineEdit>(dialog, "104")->isEnabled());
    Find<QLineEdit>(dialog, "101")->setText("101");
    message.Arm();
    Ok(dialog)->click();
    stayed_open = dialog.isVisible() && dialog.result() != QDialog::Accepted;
    Find<QLineEdit>(dialog, "101")->setText("100");
    Ok(dialog)->click();
  }));
  EXPECT_TRUE(message.shown);
  EXPECT_EQ(message.text, "Mix Lautstärke muss unter 100% liegen. Bitte noch einmal versuchen.");
  EXPECT_EQ(message.caption, "Ungültiger Wert");
  EXPECT_EQ(message.icon, QMessageBox::Information);
  EXPECT_TRUE(stayed_open);
  EXPECT_EQ(Values(description), (std::vector<std::string>{"100", "50", "2", "1.5", "1", "0"}));

  EXPECT_FALSE(RunDialog(description, [](QDialog& dialog) {
    Find<QRadioButton>(dialog, "103_0")->click();
    Find<QSlider>(dialog, "102")->setValue(90);
    Find<QLineEdit>(dialog, "101")->setText("10");
    Cancel(dialog)->click();
  }));
  EXPECT_EQ(Values(description), (std::vector<std::string>{"100", "50", "2", "1.5", "1", "0"}));
}

// ---- The decibel control, on the distortion and high-pass dialogs as the catalogue
// describes them.

EffectDialog FromCatalogue(int command_id) {
  const EffectDefinition& effect = *FindEffect(command_id);
  EffectDialog dialog;
  dialog.title = effect.undo_name;
  dialog.presets = effect.presets;
  dialog.presets_id = effect.presets_id;
  dialog.reset_id = effect.reset_id;
  for (const EffectParameter& parameter : effect.parameters) {
    dialog.fields.push_back(EffectField{parameter.id, parameter.name, parameter.label, parameter.fallback, {}, false,
                                        parameter.kind, parameter.control_lowest, parameter.control_highest});
    if (effect.reset_id != 0) dialog.reset_values.push_back(parameter.fallback);
  }
  dialog.validate = [&effect](const std::vector<EffectField>& fields) {
    return RefusalMessage(effect, FieldValues(fields));
  };
  return dialog;
}

TEST(EffectDialogDecibels, TheDistortionLevelIsASliderWithItsDecibelText) {
  EXPECT_EQ(DecibelControlText(-3), "-3dB");
  EXPECT_EQ(DecibelControlText(0), "0dB");
  EXPECT_EQ(DecibelControlText(3), "+3dB");
  EffectDialog description = FromCatalogue(4028);
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Verzerrung");
    auto* level = Find<QSlider>(dialog, "102");
    auto* readout = Find<QLabel>(dialog, "102Value");
    EXPECT_EQ(level->minimum(), -20);
    EXPECT_EQ(level->maximum(), 3);
    EXPECT_EQ(level->value(), -3);
    EXPECT_EQ(readout->text(), "-3dB");
    level->setValue(2);
    EXPECT_EQ(readout->text(), "+2dB");
    // "Heavy": degree 0.6, level -8 dB.
    Find<QComboBox>(dialog, "103")->setCurrentIndex(2);
    EXPECT_EQ(Find<QLineEdit>(dialog, "101")->text(), "0.6");
    EXPECT_EQ(level->value(), -8);
    EXPECT_EQ(readout->text(), "-8dB");
    SaveScreenshot(dialog, "effect_distortion");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "0.6");
  EXPECT_EQ(description.fields[1].value, "-8");

  // A stored level beyond the control's range widens it rather than being changed.
  description.fields[1].value = "-40";
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(Find<QSlider>(dialog, "102")->minimum(), -40);
    EXPECT_EQ(Find<QLabel>(dialog, "102Value")->text(), "-40dB");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[1].value, "-40");
}

TEST(EffectDialogDecibels, TheHighPassDialogTakesItsPresetsFromList102) {
  EffectDialog description = FromCatalogue(4031);
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "High-Pass Filter");
    auto* presets = Find<QComboBox>(dialog, "102");
    ASSERT_EQ(presets->count(), 3);
    EXPECT_EQ(presets->itemText(1), "Allgemeines Audio Cleanup");
    EXPECT_EQ(Find<QLineEdit>(dialog, "101")->text(), "250");
    presets->setCurrentIndex(2);
    EXPECT_EQ(Find<QLineEdit>(dialog, "101")->text(), "4000");
    SaveScreenshot(dialog, "effect_high_pass");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "4000");
}

TEST(EffectDialogDecibels, TheNoiseGateDialogSpansMinus40To0AndTakesItsPreset) {
  EffectDialog description = FromCatalogue(4010);
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Noise Reduction (Multi-band Noise Gating)");
    auto* level = Find<QSlider>(dialog, "101");
    EXPECT_EQ(level->minimum(), -40);
    EXPECT_EQ(level->maximum(), 0);
    EXPECT_EQ(level->value(), -30);
    EXPECT_EQ(Find<QLabel>(dialog, "101Value")->text(), "-30dB");
    auto* presets = Find<QComboBox>(dialog, "102");
    ASSERT_EQ(presets->count(), 2);
    EXPECT_EQ(presets->itemText(1), "Störgeräusche Entfernen");
    presets->setCurrentIndex(1);
    EXPECT_EQ(level->value(), -20);
    SaveScreenshot(dialog, "effect_noise_gate");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "-20");
}

TEST(EffectDialogEditAndSlider, AutoSpectralSubtractionKeepsEditAndSliderInStep) {
  EffectDialog description = FromCatalogue(4011);
  PreviewLog log;
  log.Attach(description);
  EXPECT_TRUE(RunDialog(description, [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Noise Reduction (Auto Spectral Subtraction)");
    auto* edit = Find<QLineEdit>(dialog, "101");
    auto* slider = Find<QSlider>(dialog, "102");
    EXPECT_EQ(edit->text(), "30");
    EXPECT_EQ(slider->minimum(), 1);
    EXPECT_EQ(slider->maximum(), 50);
    EXPECT_EQ(slider->value(), 30);
    auto* presets = Find<QComboBox>(dialog, "103");
    ASSERT_EQ(presets->count(), 3);
    EXPECT_EQ(presets->itemText(1), "Für Sprache anwenden");
    EXPECT_EQ(presets->itemText(2), "Für Musik anwenden");
    presets->setCurrentIndex(2);
    EXPECT_EQ(edit->text(), "10");
    EXPECT_EQ(slider->value(), 10);
    slider->setValue(45);
    EXPECT_EQ(edit->text(), "45");
    // A typed value beyond the slider leaves it where it was; OK then refuses the value.
    edit->setText("70");
    EXPECT_EQ(slider->value(), 45);
    edit->setText("20");
    EXPECT_EQ(slider->value(), 20);
    SaveScreenshot(dialog, "effect_auto_spectral_subtraction");
    Ok(dialog)->click();
  }));
  EXPECT_EQ(description.fields[0].value, "20");
}

TEST(EffectDialogSlider, TheClickDetectionDialogResetsToItsDefaultsAndChecksItsValues) {
  EffectDialog description = FromCatalogue(7009);
  description.fields[0].value = "80";
  description.fields[1].value = "900";
  SeenMessage refusal;
  EXPECT_TRUE(RunDialog(description, [&refusal](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "&Auto Störgeräuschrestoration");
    auto* sensitivity = Find<QSlider>(dialog, "101");
    auto* longest = Find<QLineEdit>(dialog, "102");
    EXPECT_EQ(sensitivity->minimum(), 0);
    EXPECT_EQ(sensitivity->maximum(), 100);
    EXPECT_EQ(sensitivity->value(), 80);
    EXPECT_EQ(Find<QLabel>(dialog, "101Value")->text(), "80");
    EXPECT_EQ(longest->text(), "900");
    SaveScreenshot(dialog, "effect_click_detection");
    // A length of 0 µs is refused and the dialog stays.
    longest->setText("0");
    refusal.Arm();
    Ok(dialog)->click();
    EXPECT_TRUE(refusal.shown);
    EXPECT_TRUE(dialog.isVisible());
    // Reset puts back 50 and 450.
    Find<QPushButton>(dialog, "103")->click();
    EXPECT_EQ(sensitivity->value(), 50);
    EXPECT_EQ(Find<QLabel>(dialog, "101Value")->text(), "50");
    EXPECT_EQ(longest->text(), "450");
    sensitivity->setValue(65);
    Ok(dialog)->click();
  }));
  EXPECT_EQ(refusal.caption, "Ungültiger Wert");
  EXPECT_EQ(description.fields[0].value, "65");
  EXPECT_EQ(description.fields[1].value, "450");
}

}  // namespace
}  // namespace sonavel
