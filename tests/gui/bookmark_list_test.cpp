// Bookmarks through the frame: added by command, listed, renamed in place, jumped to with
// playback, deleted; answers from a scripted Ui, playback into the capture device.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/bookmark_commands.h"
#include "devices/capture_output.h"
#include "document/working_folder.h"
#include "gui/bookmark_list_window.h"
#include "gui/document_window.h"
#include "gui/main_window.h"
#include "gui_fixture.h"
#include "store/segment_reader.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;
using testing::WriteTone;
using Texts = std::vector<std::array<std::string, 4>>;

QMdiSubWindow* WindowOf(MainWindow& frame, const AudioDocument* document) {
  for (QMdiSubWindow* window : frame.documents()->subWindowList())
    if (auto* shown = qobject_cast<DocumentWindow*>(window); shown != nullptr && &shown->document() == document)
      return window;
  return nullptr;
}

// The list's rows as shown, once pending work ran (a rename, then the refresh it asks for).
Texts Rows(QTreeWidget* tree) {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  Texts rows;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    std::array<std::string, 4> row;
    for (int c = 0; c < 4; ++c) row[static_cast<std::size_t>(c)] = tree->topLevelItem(i)->text(c).toStdString();
    rows.push_back(row);
  }
  return rows;
}

QTreeWidgetItem* Row(QTreeWidget* tree, const QString& name) {
  const QList<QTreeWidgetItem*> found = tree->findItems(name, Qt::MatchExactly, 0);
  return found.isEmpty() ? nullptr : found.front();
}

TEST(BookmarkList, AddRenameGoToAndDeleteThroughTheFrame) {
  TestSettings test;
  test.settings.WriteUserValue("Settings", "PlayBookMark", 1);
  SetWorkingFolder(test.folder);
  ScriptedUi ui;
  MainWindow window(test.settings, &ui);
  auto capture = std::make_shared<CaptureOutput>();
  window.engine().SetOutputFactory([capture](int) { return capture; });
  window.resize(900, 600);
  window.show();
  EXPECT_FALSE(window.CommandAction(8001)->isEnabled());  // no document yet
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "eins.wav", 1, 44100)));  // 2 s at 22050 Hz
  ASSERT_TRUE(window.OpenDocument(WriteTone(test.folder, "zwei.wav", 2, 22050)));
  AudioDocument* eins = window.document_list().documents()[0].get();
  AudioDocument* zwei = window.document_list().documents()[1].get();
  ASSERT_EQ(window.ActiveDocument(), zwei);
  using Prompt = std::pair<std::string, std::string>;

  // Ctrl+B offers "title@cursor" and adds what is typed at the cursor.
  SetSelection(*zwei, 11025, 11025, 11025);
  const std::uint32_t before = BookmarkClock();
  ui.QueueChoice("Intro");
  ASSERT_TRUE(window.CommandAction(8001)->isEnabled());
  window.CommandAction(8001)->trigger();  // the menu's "Lesezeichen setzen\tCtrl+B"
  EXPECT_EQ(ui.prompts().back(), (Prompt{"Name für Lesezeichen eingeben", "zwei.wav@0:00:00.50"}));
  ASSERT_EQ(zwei->bookmarks.size(), 1u);
  EXPECT_EQ(zwei->bookmarks.bookmarks()[0].position, 500);
  EXPECT_EQ(zwei->bookmarks.bookmarks()[0].source_title, "zwei.wav");
  EXPECT_GE(zwei->bookmarks.bookmarks()[0].last_used, before);
  EXPECT_TRUE(WindowOf(window, zwei)->isWindowModified());

  // The same name in another document: No asks again, Yes replaces the one asked about.
  window.documents()->setActiveSubWindow(WindowOf(window, eins));
  SetSelection(*eins, 40000, 40000, 40000);
  ui.QueueChoice("INTRO");
  ui.QueueAnswer(MessageAnswer::kNo);
  ui.QueueChoice("intro");
  ui.QueueAnswer(MessageAnswer::kYes);
  ASSERT_TRUE(window.Dispatch(8001));
  ASSERT_EQ(ui.shown().size(), 2u);
  for (const Message& question : ui.shown()) {
    EXPECT_EQ(question.text, "Ein Lesezeichen mit diesem Namen existiert bereits. Möchten sie dieses ersetzen?");
    EXPECT_EQ(question.caption, "BookMark Exist");
    EXPECT_EQ(question.buttons, MessageButtons::kYesNoCancel);
  }
  const std::vector<Prompt> prompts(ui.prompts().end() - 2, ui.prompts().end());
  EXPECT_EQ(prompts, (std::vector<Prompt>{{"Name für Lesezeichen eingeben", "eins.wav@0:00:01.81"},
                                          {"Name für Lesezeichen eingeben", "INTRO"}}));
  EXPECT_EQ(zwei->bookmarks.size(), 0u);
  ASSERT_EQ(eins->bookmarks.size(), 1u);
  EXPECT_EQ(eins->bookmarks.bookmarks()[0].position, 1814);  // 40000 frames at 22050 Hz

  SetSelection(*eins, 4410, 4410, 4410);
  ui.QueueChoice("Strophe");
  ASSERT_TRUE(window.Dispatch(8001));
  window.documents()->setActiveSubWindow(WindowOf(window, zwei));
  SetSelection(*zwei, 0, 0, 0);
  ui.QueueChoice("Refrain");
  ASSERT_TRUE(window.Dispatch(8001));

  // The list: every document's bookmarks in window order; its items join the menu.
  EXPECT_EQ(window.CommandAction(8006), nullptr);
  ASSERT_TRUE(window.Dispatch(8003));
  BookmarkListWindow* list = window.bookmarks().list();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->objectName(), "BookmarkList");
  QTreeWidget* tree = list->tree();
  const auto& marks = eins->bookmarks.bookmarks();
  const std::string used = LastUsedText(marks[0].last_used);
  EXPECT_EQ(Rows(tree), (Texts{{"Strophe", "0:00:00.20", "1", used},
                               {"intro", "0:00:01.81", "1", LastUsedText(marks[1].last_used)},
                               {"Refrain", "0:00:00.00", "1", LastUsedText(zwei->bookmarks.bookmarks()[0].last_used)}}));
  for (int id : {8006, 8007, 8008, 8009}) {
    ASSERT_NE(window.CommandAction(id), nullptr) << id;
    EXPECT_TRUE(window.CommandAction(id)->isEnabled()) << id;
  }
  window.documents()->tileSubWindows();
  QTest::qWait(50);
  SaveScreenshot(*list, "bookmark_list");

  // Renamed in place: a colon between letters goes; nothing valid, or a name taken in
  // another document, is refused and the row shows the old name again.
  eins->state.modified = 0;
  tree->setCurrentItem(Row(tree, "Strophe"));
  ASSERT_TRUE(window.Dispatch(8007));  // "Lesezeichen umbenennen" opens the name for editing
  ASSERT_TRUE(QTest::qWaitForWindowActive(list));
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Vers:eins");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(Rows(tree)[0][0], "Verseins");
  EXPECT_EQ(marks[0].name, "Verseins");
  EXPECT_EQ(eins->state.modified, 1);
  ui.Clear();
  Row(tree, "Verseins")->setText(0, "...");
  EXPECT_EQ(Rows(tree)[0][0], "Verseins");
  Row(tree, "Verseins")->setText(0, "refrain");
  EXPECT_EQ(Rows(tree)[0][0], "Verseins");
  ASSERT_EQ(ui.shown().size(), 2u);
  EXPECT_EQ(ui.shown()[0].text, "The name must contain text.");
  EXPECT_EQ(ui.shown()[0].caption, "Name Invalid");
  EXPECT_EQ(ui.shown()[1].text,
            "The bookmark cannot be renamed because another bookmark with the same name already exists. "
            "Please try another name.");
  EXPECT_EQ(ui.shown()[1].caption, "Bookmark Name Exists");
  EXPECT_EQ(Rows(tree)[0][0], "Verseins");
  EXPECT_EQ(marks[0].name, "Verseins");

  // Go to from the other document's window: that window comes up, the cursor sits on the
  // bookmark, and with "PlayBookMark" playback runs from there although it is in the last
  // second.
  ASSERT_EQ(window.ActiveDocument(), zwei);
  tree->setCurrentItem(Row(tree, "intro"));
  const std::uint32_t jumped = BookmarkClock();
  ASSERT_TRUE(window.Dispatch(8006));
  EXPECT_EQ(window.ActiveDocument(), eins);
  constexpr std::int32_t kFrame = 39998;  // 1814 ms at 22050 Hz
  EXPECT_EQ(eins->state.cursor, kFrame);
  EXPECT_EQ(marks[1].use_count, 2);
  EXPECT_GE(marks[1].last_used, jumped);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.engine().State() == 0; }, 5000));
  const std::int32_t left = 44100 - kFrame;
  std::vector<std::int32_t> expected(static_cast<std::size_t>(left));
  SourceRef reader = OpenSoundReader(eins->sound);
  reader->Seek(kFrame);
  reader->Read(expected.data(), left);
  std::vector<std::int16_t> expected16;
  for (std::int32_t sample : expected) expected16.push_back(StoreTo16(sample));
  EXPECT_EQ(capture->Samples(), expected16);
  EXPECT_EQ(Rows(tree)[1][2], "2");

  // Delete the selected rows by the Delete key, then everything; each asks first.
  ui.Clear();
  tree->clearSelection();
  Row(tree, "Verseins")->setSelected(true);
  ui.QueueAnswer(MessageAnswer::kYes);
  list->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(list));
  QTest::keyClick(tree, Qt::Key_Delete);  // as 8008
  ASSERT_FALSE(ui.shown().empty());
  EXPECT_EQ(ui.shown().back().text, "Markierte(s) Leszeichen löschen?");
  EXPECT_EQ(ui.shown().back().caption, "Löschen bestätigen");
  ASSERT_EQ(eins->bookmarks.size(), 1u);
  EXPECT_EQ(Rows(tree).size(), 2u);
  eins->state.modified = 0;
  zwei->state.modified = 0;
  ui.QueueAnswer(MessageAnswer::kNo);
  EXPECT_FALSE(window.Dispatch(8009));
  EXPECT_EQ(Rows(tree).size(), 2u);
  ui.QueueAnswer(MessageAnswer::kYes);
  ASSERT_TRUE(window.Dispatch(8009));
  EXPECT_EQ(ui.shown().back().text, "Alle markierten Lesezeichen löschen?");
  EXPECT_EQ(ui.shown().back().caption, "Alles löschen bestätigen");
  EXPECT_EQ(eins->bookmarks.size() + zwei->bookmarks.size(), 0u);
  EXPECT_EQ(eins->state.modified, 1);
  EXPECT_EQ(zwei->state.modified, 1);
  EXPECT_TRUE(WindowOf(window, zwei)->isWindowModified());
  EXPECT_TRUE(Rows(tree).empty());

  // A bookmark made anywhere shows at once; a closed document takes its rows along.
  ASSERT_FALSE(AddBookmark(*zwei, "Coda", 0));
  EXPECT_EQ(Rows(tree), (Texts{{"Coda", "0:00:00.00", "1", " "}}));
  zwei->state.modified = 0;
  WindowOf(window, zwei)->close();
  EXPECT_TRUE(Rows(tree).empty());

  // Closed, the list takes its items out of the menu again.
  list->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window.bookmarks().list(), nullptr);
  EXPECT_EQ(window.CommandAction(8006), nullptr);
  eins->state.modified = 0;
  window.close();
  SetWorkingFolder("");
}

}  // namespace
}  // namespace sonavel
