#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTest>


#include "formats/raw_settings.h"
#include "gui/qt_ui.h"
#include "gui_fixture.h"

namespace sonavel {
namespace {

// The balloon Qt shows, when one is up.
QLabel* VisibleBalloon() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->inherits("QTipLabel") && widget->isVisible()) return qobject_cast<QLabel*>(widget);
  return nullptr;
}

// The dialog with the balloon over it: the balloon is a window of its own, so both are
// drawn into one picture at their places on the screen.
void SaveWithBalloon(QWidget& dialog, QWidget& balloon, const QString& name) {
  const QRect area = dialog.geometry().united(balloon.geometry());
  QPixmap picture(area.size());
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    painter.drawPixmap(dialog.geometry().topLeft() - area.topLeft(), dialog.grab());
    painter.drawPixmap(balloon.geometry().topLeft() - area.topLeft(), balloon.grab());
  }
  QDir().mkpath(SONAVEL_SCREENSHOT_DIR);
  ASSERT_TRUE(picture.save(QString(SONAVEL_SCREENSHOT_DIR) + "/" + name + ".png"));
}

// The dialog shows the stored "VoxAudio" record; a rate below 6000 is refused with the
// balloon on the rate field and the dialog stays open; corrected values are accepted and
// written back to the record.
TEST(RawSettingsDialog, ABadRateGetsTheBalloonAndTheCorrectionIsStored) {
  testing::TestSettings store;
  WriteRawSettings(store.settings, VoxAudioKeys(), {8000, 1, kRawCodecVox});
  const std::shared_ptr<bool> ran = testing::WhenDialogUp("LRawDlg", [](QDialog& window) {
    QDialog* dialog = &window;
    // A window that becomes active closes a balloon, so the dialog is let settle first.
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    auto* codec = dialog->findChild<QComboBox*>("codec");
    auto* rate = dialog->findChild<QComboBox*>("rate");
    auto* channels = dialog->findChild<QComboBox*>("channels");
    auto* ok = dialog->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok);
    ASSERT_EQ(codec->count(), 7);
    EXPECT_EQ(codec->currentText(), "Dialogic ADPCM");
    EXPECT_EQ(codec->itemText(6), "16 bit PCM (BE)");
    ASSERT_EQ(rate->count(), 12);
    EXPECT_EQ(rate->itemText(0), "6000");
    EXPECT_EQ(rate->itemText(11), "196000");
    EXPECT_EQ(rate->currentText(), "8000");
    EXPECT_EQ(channels->currentText(), "1 - Mono");
    EXPECT_EQ(channels->itemText(1), "2 - Stereo");

    rate->lineEdit()->selectAll();
    QTest::keyClicks(rate->lineEdit(), "5000");
    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return VisibleBalloon() != nullptr; }, 2000));
    QLabel* balloon = VisibleBalloon();
    EXPECT_EQ(balloon->text(), "Please select a sample rate between 6000 and 196000.");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(rate->hasFocus());
    // The balloon points at the rate field: its top edge is near the field's bottom.
    EXPECT_NEAR(balloon->geometry().top(), rate->mapToGlobal(QPoint(0, rate->height())).y(), 8);
    SaveWithBalloon(*dialog, *balloon, "raw_dialog_balloon");

    rate->lineEdit()->selectAll();
    QTest::keyClicks(rate->lineEdit(), "11025");
    codec->setCurrentIndex(kRawCodecMuLaw);
    channels->setCurrentIndex(1);
    QTest::mouseClick(ok, Qt::LeftButton);
  });
  QtUi ui;
  const std::optional<RawSettings> accepted = RunRawSettingsDialog(ui, store.settings, VoxAudioKeys());
  ASSERT_TRUE(*ran);
  ASSERT_TRUE(accepted);
  const RawSettings expected{11025, 2, kRawCodecMuLaw};
  EXPECT_EQ(*accepted, expected);
  EXPECT_EQ(ReadRawSettings(&store.settings, VoxAudioKeys()), expected);
  EXPECT_EQ(store.settings.ReadUserText("VoxAudio", "SampleRate", ""), "11025");
}

}  // namespace
}  // namespace sonavel
