#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <string>

#include "formats/tag_list.h"
#include "gui/qt_ui.h"
#include "gui_fixture.h"

namespace sonavel {
namespace {

// The tag editor opens with the texts and the genre given, is photographed, and OK hands
// back what was typed and chosen.
TEST(TagDialog, ShowsTheTagsAndOkReturnsTheEdits) {
  TagDialog dialog;
  for (const std::string_view name : kTagNames) dialog.fields.emplace_back(name, "");
  dialog.fields[0].second = "Mädchen";
  dialog.fields[1].second = "Bob";
  dialog.fields[3].second = "Pop";
  dialog.fields[4].second = "7";
  dialog.genres.assign(GenreNames().begin(), GenreNames().end());
  const std::shared_ptr<bool> ran = testing::WhenDialogUp("LAudioTagDataEditor", [](QDialog& window) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), "ID3 Tags bearbeiten");
    auto* genre = window.findChild<QComboBox*>("GENRE");
    ASSERT_NE(genre, nullptr);
    EXPECT_EQ(genre->count(), 148);
    EXPECT_EQ(genre->currentText(), "Pop");
    EXPECT_EQ(window.findChild<QLineEdit*>("TITLE")->text(), "Mädchen");
    testing::SaveScreenshot(window, "tag_editor");
    QLineEdit* album = window.findChild<QLineEdit*>("ALBUM");
    QTest::keyClicks(album, "Platte");
    genre->setCurrentIndex(147);
    QTest::mouseClick(window.findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Ok), Qt::LeftButton);
  });
  QtUi ui;
  ASSERT_TRUE(ui.AskTags(dialog));
  EXPECT_TRUE(*ran);
  EXPECT_EQ(dialog.fields[2].second, "Platte");
  EXPECT_EQ(dialog.fields[3].second, "Synthpop");
  EXPECT_EQ(dialog.fields[0].second, "Mädchen");
}

}  // namespace
}  // namespace sonavel
