#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "app/recent_files.h"
#include "platform/ui.h"

namespace sonavel {
namespace {

using testing::SettingsTest;

class RecentFilesTest : public SettingsTest {
 protected:
  std::int64_t now_ = 1'700'000'000;
  RecentFiles Files() { return RecentFiles(*settings_, [this] { return now_++; }); }
};

std::vector<std::string> Paths(const RecentMenu& menu) {
  std::vector<std::string> paths;
  for (const RecentMenuItem& item : menu.items) paths.push_back(item.path);
  return paths;
}

TEST_F(RecentFilesTest, ATwelfthFileTakesTheOldestSlotAndReopeningOnlyRefreshes) {
  RecentFiles files = Files();
  for (int i = 1; i <= 11; ++i) files.AddRecentFile("/m/" + std::to_string(i) + ".wav");
  files.AddRecentFile("/m/1.wav");  // reopened: newest now, same slot
  EXPECT_EQ(settings_->ReadUserText("Recent", "RecentFile 1", ""), "/m/1.wav");
  RecentMenu menu = files.AddRecentFile("/m/12.wav");
  // Slot 2 held the oldest stamp.
  EXPECT_EQ(settings_->ReadUserText("Recent", "RecentFile 2", ""), "/m/12.wav");
  EXPECT_EQ(settings_->ReadUserInt("Recent", "RecentFileDate2", 0), 1'700'000'012);
  ASSERT_EQ(menu.items.size(), 11u);
  EXPECT_EQ(Paths(menu).front(), "/m/12.wav");
  EXPECT_EQ(Paths(menu)[1], "/m/1.wav");
  EXPECT_EQ(Paths(menu).back(), "/m/3.wav");
  // Names that differ in case are different files here.
  files.AddRecentFile("/m/3.WAV");
  EXPECT_EQ(settings_->ReadUserText("Recent", "RecentFile 3", ""), "/m/3.WAV");
}

TEST_F(RecentFilesTest, TheMenuModelHasIdsTextsAndTheCloseItem) {
  RecentFiles files = Files();
  RecentMenu empty = files.RebuildRecentMenu();
  EXPECT_TRUE(empty.items.empty());
  EXPECT_FALSE(empty.separator);
  EXPECT_EQ(empty.close_text, "&Schließen");
  files.AddRecentFile("/abcdefghij/klmnopq/r.wav");   // 25 characters: shortened
  files.AddRecentFile("/abcdefghij/klmnopq/r.wa");   // 24 characters: whole
  RecentMenu menu = files.AddRecentFile("/x/Tom & Jerry.wav");
  ASSERT_EQ(menu.items.size(), 3u);
  EXPECT_EQ(menu.items[0].id, 1050);
  EXPECT_EQ(menu.items[0].text, "&1./x/Tom && Jerry.wav");
  EXPECT_EQ(menu.items[1].id, 1051);
  EXPECT_EQ(menu.items[1].text, "&2./abcdefghij/klmnopq/r.wa");
  EXPECT_EQ(menu.items[2].id, 1052);
  EXPECT_EQ(menu.items[2].text, "&3./ab.../r.wav");
  EXPECT_EQ(menu.items[2].path, "/abcdefghij/klmnopq/r.wav");
  EXPECT_TRUE(menu.separator);
  EXPECT_EQ(menu.close_text, "&Schließen\tAlt+F4");
  EXPECT_EQ(ShortenRecentPath("C:\\Audio\\Sammlung\\Lied.wav"), "C:\\.../Lied.wav");
}

TEST_F(RecentFilesTest, ClearingAsksFirstAndEmptiesEverySlot) {
  RecentFiles files = Files();
  files.AddRecentFile("/a.wav");
  settings_->WriteUserValue("Recent", "RecentFile 12", "/stray.wav");
  ScriptedUi ui;
  ui.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(files.ClearRecentFiles(ui));
  EXPECT_EQ(files.RebuildRecentMenu().items.size(), 1u);
  ui.QueueAnswer(MessageAnswer::kYes);
  EXPECT_TRUE(files.ClearRecentFiles(ui));
  ASSERT_EQ(ui.shown().size(), 2u);
  EXPECT_EQ(ui.shown()[0].text, "Sind Sie sicher, daß Sie die neuen Dateien löschen möchten?");
  EXPECT_EQ(ui.shown()[0].caption, "Löschen bestätigt");
  EXPECT_EQ(ui.shown()[0].buttons, MessageButtons::kYesNo);
  EXPECT_TRUE(files.RebuildRecentMenu().items.empty());
  EXPECT_EQ(settings_->ReadUserText("Recent", "RecentFile 12", ""), "");
  EXPECT_EQ(settings_->ReadUserText("Recent", "RecentFileDate1", ""), "");
}

}  // namespace
}  // namespace sonavel
