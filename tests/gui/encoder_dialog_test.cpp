#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <functional>
#include <string>

#include "formats/encoders.h"
#include "formats/playlists.h"
#include "gui/qt_ui.h"
#include "gui_fixture.h"
#include "platform/setting_keys.h"

namespace sonavel {
namespace {

using namespace setting;

// Each encoder dialog opens with the stored (or put-in) values, is photographed, takes a
// change and stores it on OK.
TEST(EncoderDialogs, EachOpensWithItsValuesAndOkStoresTheChanges) {
  testing::TestSettings store;
  store.settings.Write(kAmrModeRateSelection, 1);
  store.settings.Write(kAacVbrQuality, 300);
  struct Case {
    const char* extension;
    const char* dialog;
    const char* screenshot;
    std::function<void(QDialog&)> change;
  };
  auto list = [](QDialog& dialog, const char* name) {
    auto* box = dialog.findChild<QComboBox*>(name);
    EXPECT_NE(box, nullptr) << name;
    return box;
  };
  const Case cases[] = {
      {".mp3", "LMp3EncodeDlg", "encoder_mp3",
       [&](QDialog& dialog) {
         QComboBox* rate = list(dialog, "CBRBitRate");
         ASSERT_EQ(rate->count(), 18);
         EXPECT_EQ(rate->currentText(), "128");
         EXPECT_EQ(list(dialog, "VBRQuality")->itemText(0), "0 (Höchste)");
         EXPECT_EQ(list(dialog, "ChannelMode")->currentText(), "Joint");
         EXPECT_TRUE(dialog.findChild<QCheckBox*>("HighQuality")->isChecked());
         rate->setCurrentIndex(rate->findText("192"));
         // The other mode's controls are greyed out, and change over with the mode.
         EXPECT_FALSE(list(dialog, "VBRMinBitRate")->isEnabled());
         dialog.findChild<QWidget*>("ConstantBitRate")->findChildren<QRadioButton*>()[1]->click();
         EXPECT_TRUE(list(dialog, "VBRMinBitRate")->isEnabled());
         EXPECT_FALSE(rate->isEnabled());
       }},
      {".ogg", "OggEncodeDlg", "encoder_ogg",
       [&](QDialog& dialog) {
         EXPECT_EQ(list(dialog, "Channels")->currentText(), "Stereo");  // the sound's, put in first
         EXPECT_EQ(list(dialog, "VBRQuality")->itemText(10), "10 (Highest)");
         list(dialog, "Channels")->setCurrentIndex(0);
       }},
      {".flac", "FlacEncodeDlg", "encoder_flac",
       [&](QDialog& dialog) {
         QComboBox* rate = list(dialog, "SampleRate");
         EXPECT_EQ(rate->currentText(), "32000");
         rate->lineEdit()->selectAll();
         QTest::keyClicks(rate->lineEdit(), "0");  // stands for 44100
         EXPECT_EQ(list(dialog, "Compression")->currentText(), "4");
       }},
      {".aac", "LAACEncodeDlg", "encoder_aac",
       [&](QDialog& dialog) {
         EXPECT_EQ(list(dialog, "VBRQuality")->currentText(), "300");
         EXPECT_EQ(list(dialog, "ABRBitRate")->itemText(0), "16");
         dialog.findChild<QCheckBox*>("DisableTNS")->setChecked(true);
         dialog.findChild<QPushButton*>("defaults")->click();
         EXPECT_EQ(dialog.findChild<QPushButton*>("defaults")->text(), "Standard");
       }},
      {".amr", "LAMREncodeDlg", "encoder_amr",
       [&](QDialog& dialog) {
         QComboBox* mode = list(dialog, "ModeRateSelection");
         EXPECT_EQ(mode->currentText(), "7.4");
         mode->setCurrentIndex(7);
       }},
  };
  QtUi ui;
  for (const Case& each : cases) {
    const std::shared_ptr<bool> ran = testing::WhenDialogUp(each.dialog, [&](QDialog& dialog) {
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
      testing::SaveScreenshot(dialog, each.screenshot);
      each.change(dialog);
      QTest::mouseClick(dialog.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    EXPECT_TRUE(RunEncoderOptions(each.extension, ui, store.settings, 32000, 2)) << each.extension;
    EXPECT_TRUE(*ran) << each.extension;
  }
  EXPECT_EQ(store.settings.ReadStored(kMp3CbrBitRate), 192);
  EXPECT_EQ(store.settings.ReadStored(kMp3ConstantBitRate), 0);
  EXPECT_EQ(store.settings.ReadStored(kOggChannels), 1);
  EXPECT_EQ(store.settings.ReadStored(kFlacSampleRate), 44100);
  EXPECT_EQ(store.settings.ReadStored(kFlacChannels), 2);
  EXPECT_EQ(store.settings.ReadStored(kAacVbrQuality), 100);
  EXPECT_EQ(store.settings.ReadStored(kAacDisableTns), 0);
  EXPECT_EQ(store.settings.ReadStored(kAmrModeRateSelection), 7);
}

// The publishing dialog of the feed: its title and stored address, the MP3 settings behind
// its button, and OK storing the typed address; the playlists' title differs.
TEST(EncoderDialogs, PublishingDialogStoresTheRootAndOpensTheMp3Settings) {
  testing::TestSettings store;
  store.settings.Write(kRssRootUrl, "http://old.example.org");
  QtUi ui;
  const std::shared_ptr<bool> ran = testing::WhenDialogUp("LPlaylistEncodeDlg", [&](QDialog& dialog) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(dialog.windowTitle(), "Dateieinstellungen RSS Podcast");
    auto* root = dialog.findChild<QLineEdit*>("RootURL");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(), "http://old.example.org");
    root->selectAll();
    QTest::keyClicks(root, "http://example.org/pod");
    testing::SaveScreenshot(dialog, "playlist_dialog");
    const std::shared_ptr<bool> mp3 = testing::WhenDialogUp("LMp3EncodeDlg", [](QDialog& settings) {
      QComboBox* rate = settings.findChild<QComboBox*>("CBRBitRate");
      rate->setCurrentIndex(rate->findText("64"));
      QTest::mouseClick(settings.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok),
                        Qt::LeftButton);
    });
    QTest::mouseClick(dialog.findChild<QPushButton*>("mp3"), Qt::LeftButton);
    EXPECT_TRUE(*mp3);
    QTest::mouseClick(dialog.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
  });
  EXPECT_TRUE(RunPublishingOptions(PublishingKind::kRss, ui, store.settings, 44100, 2));
  EXPECT_TRUE(*ran);
  EXPECT_EQ(store.settings.Read(kRssRootUrl), "http://example.org/pod");
  EXPECT_EQ(store.settings.ReadStored(kMp3CbrBitRate), 64);

  const std::shared_ptr<bool> playlist = testing::WhenDialogUp("LPlaylistEncodeDlg", [](QDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Dateieinstellungen Abspielliste");
    dialog.reject();
  });
  EXPECT_FALSE(RunPublishingOptions(PublishingKind::kWpl, ui, store.settings, 44100, 2));
  EXPECT_TRUE(*playlist);
  EXPECT_EQ(store.settings.Read(kRssRootUrl), "http://example.org/pod");
}

}  // namespace
}  // namespace sonavel
