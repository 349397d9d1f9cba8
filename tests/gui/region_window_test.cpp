// Regions through the frame: the list window and its menu items, choosing and playing a
// region on the capture device, and the join and export dialogs as the user sees them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <filesystem>

#include "app/command_ids.h"
#include "devices/capture_output.h"
#include "document/bookmark_file.h"
#include "formats/wav_reader.h"
#include "gui/main_window.h"
#include "gui/region_list_window.h"
#include "gui_fixture.h"
#include "platform/setting_keys.h"
#include "store/block_table.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;
using testing::WhenDialogUp;
using testing::WriteTone;

// The file's samples as 16 bits, as the device plays them.
std::vector<std::int16_t> FileSamples16(const std::string& path, std::int32_t from,
                                        std::int32_t to) {
  SourceRef reader = OpenWavReader(path);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(reader->Length()) * reader->channels);
  reader->Read(samples.data(), reader->Length());
  std::vector<std::int16_t> out;
  for (std::size_t i = static_cast<std::size_t>(from) * reader->channels;
       i < static_cast<std::size_t>(to) * reader->channels; ++i)
    out.push_back(StoreTo16(samples[i]));
  return out;
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) QTest::qWait(10);
  return done();
}

RegionListWindow* ListOf(MainWindow& window) {
  return window.findChild<RegionListWindow*>("RegionList");
}

TEST(RegionFrame, AddChoosePlayAndJoinThroughTheFrame) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  test.settings.Write(setting::kAutoArrangeWindows, false);
  auto device = std::make_shared<CaptureOutput>();
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  window.engine().SetOutputFactory([device](int) { return device; });
  window.resize(900, 600);
  window.show();
  const std::string first = WriteTone(test.folder, "eins.wav", 1, 22050);
  const std::string second = WriteTone(test.folder, "zwei.wav", 2, 30000);

  ASSERT_TRUE(window.OpenDocument(first));
  AudioDocument* eins = window.ActiveDocument();
  SetSelection(*eins, 2205, 11025, 2205);  // 100 … 500 ms
  ui.QueueChoice("Anfang");
  ASSERT_TRUE(window.Dispatch(command_id::kAddRegion));
  EXPECT_EQ(ui.requests().back(), "prompt Bereich hinzufügen");
  RegionListWindow* list = ListOf(window);
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(window.OpenDocument(second));
  SetSelection(*window.ActiveDocument(), 0, 22050, 0);
  ui.QueueChoice("Zwei: Mitte");
  ASSERT_TRUE(window.Dispatch(command_id::kAddRegion));
  ASSERT_EQ(list->list()->topLevelItemCount(), 2);
  EXPECT_EQ(list->list()->topLevelItem(0)->text(1), "0:00:00.10-0:00:00.50");
  EXPECT_EQ(list->list()->topLevelItem(1)->text(2), "zwei.wav");
  // The list's items are in the bookmark menu while it is open; copying to a CD is greyed.
  ASSERT_NE(window.CommandAction(command_id::kPlayRegion), nullptr);
  EXPECT_TRUE(window.CommandAction(command_id::kExportRegions)->isEnabled());
  EXPECT_FALSE(window.CommandAction(command_id::kCopyRegionsToCd)->isEnabled());
  list->show();
  QTest::qWait(30);
  SaveScreenshot(*list, "region_list");

  // A double click chooses: the source document becomes active with the region selected.
  emit list->list()->itemDoubleClicked(list->list()->topLevelItem(0), 0);
  ASSERT_EQ(window.ActiveDocument(), eins);
  EXPECT_EQ(eins->state.selection_start, 2205);
  EXPECT_EQ(eins->state.selection_end, 11025);
  EXPECT_EQ(eins->state.cursor, 2205);

  // Playing plays the region's own audio: exactly those frames of the file.
  list->list()->topLevelItem(0)->setSelected(true);
  ASSERT_TRUE(window.Dispatch(command_id::kPlayRegion));
  ASSERT_TRUE(WaitUntil([&] { return window.engine().State() == PlaybackEngine::kClosed; }));
  EXPECT_EQ(device->Samples(), FileSamples16(first, 2205, 11025));
  EXPECT_EQ(eins->state.cursor, 2205);

  // Renaming in place keeps the sanitised name; a name another region has is refused.
  list->list()->topLevelItem(1)->setText(0, "Zwei/Ende");
  ASSERT_TRUE(WaitUntil([&] { return list->list()->topLevelItem(1)->text(0) == "ZweiEnde"; }));
  EXPECT_EQ(window.regions().regions()[1].name, "ZweiEnde");
  list->list()->topLevelItem(1)->setText(0, "anfang");
  ASSERT_TRUE(WaitUntil([&] { return list->list()->topLevelItem(1)->text(0) == "ZweiEnde"; }));
  EXPECT_EQ(ui.shown().back().caption, "Bereichsname existiert");

  // Join with the 300 ms gap: the mono result takes the stereo region's left channel.
  ui.QueueJoinAnswer(ScriptedUi::JoinAnswer{{0, 1}, std::nullopt});
  ASSERT_TRUE(window.Dispatch(command_id::kJoinRegions));
  AudioDocument* joined = window.ActiveDocument();
  ASSERT_EQ(window.document_list().documents().size(), 3u);
  EXPECT_EQ(DisplayTitle(*joined), "Unbenannt 1");
  EXPECT_EQ(joined->state.modified, 1);
  EXPECT_EQ(SoundLength(joined->sound), 8820 + 6615 + 22050);

  // Del asks before deleting the selected regions.
  list->list()->clearSelection();
  list->list()->topLevelItem(1)->setSelected(true);
  ui.QueueAnswer(MessageAnswer::kYes);
  QTest::keyClick(list->list(), Qt::Key_Delete);
  EXPECT_EQ(ui.shown().back().text, "Markierte(n) Bereich(e) löschen?");
  ASSERT_EQ(window.regions().regions().size(), 1u);
  EXPECT_EQ(list->list()->topLevelItemCount(), 1);

  // Closing the list takes its items away again.
  list->close();
  QTest::qWait(20);
  EXPECT_EQ(window.CommandAction(command_id::kPlayRegion), nullptr);
  EXPECT_FALSE(window.Dispatch(command_id::kPlayRegion));
  for (const DocumentRef& document : window.document_list().documents())
    document->state.modified = 0;
  window.close();
  SetWorkingFolder("");
}

TEST(RegionFrame, TheJoinAndExportDialogs) {
  TestSettings test;
  SetWorkingFolder(test.folder);
  test.settings.Write(setting::kAutoArrangeWindows, false);
  auto device = std::make_shared<CaptureOutput>();
  MainWindow window(test.settings);
  window.engine().SetOutputFactory([device](int) { return device; });
  window.resize(900, 600);
  window.show();
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "Chor.wav", 2, 44100)));
  AudioDocument& document = *window.ActiveDocument();
  const std::pair<std::int32_t, std::int32_t> spans[] = {{0, 4410}, {11025, 22050}, {30000, 44100}};
  const char* names[] = {"Intro", "Refrain", "Schluss"};
  for (int i = 0; i < 3; ++i) {
    SetSelection(document, spans[i].first, spans[i].second, spans[i].first);
    window.regions().Append(MakeRegion(document, names[i]));
  }

  bool ok_disabled_when_empty = false;
  QString while_playing, after_playing;
  auto ran = WhenDialogUp("JoinRegions", [&](QDialog& dialog) {
    auto* regions = dialog.findChild<QTreeWidget*>("regions");
    auto* joined = dialog.findChild<QTreeWidget*>("joined");
    auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
    auto* play = dialog.findChild<QPushButton*>("play");
    ok_disabled_when_empty = !buttons->button(QDialogButtonBox::Ok)->isEnabled();
    regions->topLevelItem(2)->setSelected(true);
    regions->topLevelItem(0)->setSelected(true);
    dialog.findChild<QPushButton*>("add")->click();
    EXPECT_EQ(joined->topLevelItemCount(), 2);
    EXPECT_EQ(joined->topLevelItem(1)->text(0), "Schluss");
    regions->setCurrentItem(regions->topLevelItem(1));
    play->click();
    while_playing = play->text();
    dialog.resize(760, 340);
    SaveScreenshot(dialog, "join_dialog");
    WaitUntil([&] { return play->text() != "Stop"; });
    after_playing = play->text();
    WhenDialogUp("JoinSettings", [](QDialog& settings) {
      settings.findChild<QCheckBox*>("autoGap")->setChecked(true);
      settings.findChild<QSpinBox*>("gapTime")->setValue(250);
      settings.accept();
    });
    dialog.findChild<QPushButton*>("settings")->click();
    buttons->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(window.Dispatch(command_id::kJoinRegions));
  EXPECT_TRUE(*ran);
  EXPECT_TRUE(ok_disabled_when_empty);
  EXPECT_EQ(while_playing, "Stop");
  EXPECT_EQ(after_playing, "Play");
  // The preview played the chosen region, "Refrain".
  EXPECT_EQ(device->Samples().size(), 2u * 11025);
  EXPECT_EQ(test.settings.Read(setting::kAutoGapTime), 250);
  EXPECT_EQ(SoundLength(window.ActiveDocument()->sound),
            4410 + 5512 + 14100);  // 250 ms at 22.05 kHz

  // The command bar's "Bereiche" opens the list; export the selected regions as AU files.
  QAction* button = nullptr;
  for (QAction* action : window.command_bar()->actions())
    if (action->data().toInt() == 201) button = action;
  ASSERT_NE(button, nullptr);
  button->trigger();
  RegionListWindow* list = ListOf(window);
  ASSERT_NE(list, nullptr);
  list->list()->topLevelItem(0)->setSelected(true);
  list->list()->topLevelItem(1)->setSelected(true);
  const std::string out = JoinPath(test.folder, "export");
  std::filesystem::create_directory(out);
  test.settings.Write(setting::kExportRegionFormat, 99);  // outside the list: nothing chosen
  bool none_chosen = false;
  ran = WhenDialogUp("ExportRegions", [&](QDialog& dialog) {
    auto* format = dialog.findChild<QComboBox*>("format");
    none_chosen = format->currentIndex() == -1;
    EXPECT_EQ(format->count(), 16);
    dialog.findChild<QLineEdit*>("folder")->setText(QString::fromStdString(out));
    format->setCurrentText(".au");
    SaveScreenshot(dialog, "export_dialog");
    dialog.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok)->click();
  });
  ASSERT_TRUE(window.Dispatch(command_id::kExportRegions));
  EXPECT_TRUE(*ran);
  EXPECT_TRUE(none_chosen);
  EXPECT_TRUE(std::filesystem::exists(JoinPath(out, "Intro.au")));
  EXPECT_TRUE(std::filesystem::exists(JoinPath(out, "Refrain.au")));
  EXPECT_FALSE(std::filesystem::exists(JoinPath(out, "Schluss.au")));
  EXPECT_EQ(test.settings.Read(setting::kExportRegionFormat), 2);

  // The frame goes without closing: an untitled document would ask to be saved.
  list->close();
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
