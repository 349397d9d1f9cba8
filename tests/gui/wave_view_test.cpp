#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "gui/document_window.h"
#include "gui/main_window.h"
#include "gui/wave_view.h"
#include "gui_fixture.h"
#include "store/block_table.h"
#include "store/time.h"

namespace sonavel {
namespace {

using testing::SaveScreenshot;
using testing::TestSettings;
using testing::WriteTone;

using testing::Mouse;

class WaveWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetWorkingFolder(test_.folder);
    window_ = std::make_unique<MainWindow>(test_.settings, &ui_);
    window_->resize(1100, 760);
    window_->show();
    ASSERT_TRUE(window_->OpenDocument(WriteTone(test_.folder, "stereo.wav", 2, 88200)));
    document_window_ = qobject_cast<DocumentWindow*>(window_->documents()->activeSubWindow());
    ASSERT_NE(document_window_, nullptr);
    document_window_->showMaximized();
    QTest::qWait(30);
    ASSERT_TRUE(document_window_->main_view()->WaitUntilDrawn(5000));
    QTest::qWait(30);
  }
  void TearDown() override {
    document_window_->document().state.modified = 0;
    window_.reset();
    SetWorkingFolder("");
  }
  AudioDocument& Document() { return document_window_->document(); }
  WaveView* View() { return document_window_->main_view(); }
  std::int32_t FrameAt(int x) { return View()->mapping().Frame(x); }

  TestSettings test_;
  ScriptedUi ui_;
  std::unique_ptr<MainWindow> window_;
  DocumentWindow* document_window_ = nullptr;
};

TEST_F(WaveWindowTest, ClickDragAndShiftExtendSetTheDocumentsSelection) {
  Mouse(View(), QEvent::MouseButtonPress, 200);
  Mouse(View(), QEvent::MouseButtonRelease, 200);
  EXPECT_EQ(Document().state.cursor, FrameAt(200));
  EXPECT_EQ(Document().state.selection_start, FrameAt(200));
  EXPECT_EQ(Document().state.selection_end, FrameAt(200));

  Mouse(View(), QEvent::MouseButtonPress, 100);
  Mouse(View(), QEvent::MouseMove, 250);
  Mouse(View(), QEvent::MouseMove, 300);
  Mouse(View(), QEvent::MouseButtonRelease, 300);
  EXPECT_EQ(Document().state.selection_start, FrameAt(100));
  EXPECT_EQ(Document().state.selection_end, FrameAt(300));
  EXPECT_EQ(Document().state.cursor, FrameAt(300));
  EXPECT_EQ(window_->TimeDisplay(106), QString::fromStdString(FormatTimeMs(FramesToMs(FrameAt(100), 22050))));

  // Shift extends from the anchor, the start of the last drag.
  Mouse(View(), QEvent::MouseButtonPress, 450, Qt::ShiftModifier);
  Mouse(View(), QEvent::MouseButtonRelease, 450, Qt::ShiftModifier);
  EXPECT_EQ(Document().state.selection_start, FrameAt(100));
  EXPECT_EQ(Document().state.selection_end, FrameAt(450));

  // Dragging leftwards past the anchor turns the selection round.
  Mouse(View(), QEvent::MouseButtonPress, 500);
  Mouse(View(), QEvent::MouseMove, 350);
  Mouse(View(), QEvent::MouseButtonRelease, 350);
  EXPECT_EQ(Document().state.selection_start, FrameAt(350));
  EXPECT_EQ(Document().state.selection_end, FrameAt(500));
}

TEST_F(WaveWindowTest, SelectionEdgesAndBookmarksCanBeDragged) {
  // Zoomed in to about a frame per pixel, so that edges and handles can be hit.
  SetView(Document(), 2000, 1000);
  ASSERT_TRUE(View()->WaitUntilDrawn(5000));
  QTest::qWait(20);
  SetSelection(Document(), 1200, 1600, 1200);
  const WaveMapping mapping = View()->mapping();
  const int end_x = mapping.X(1600);
  Mouse(View(), QEvent::MouseMove, end_x);
  EXPECT_EQ(View()->cursor().shape(), Qt::SizeHorCursor);
  Mouse(View(), QEvent::MouseButtonPress, end_x);
  Mouse(View(), QEvent::MouseMove, end_x + 100);
  Mouse(View(), QEvent::MouseButtonRelease, end_x + 100);
  EXPECT_EQ(Document().state.selection_start, 1200);
  EXPECT_EQ(Document().state.selection_end, mapping.Frame(end_x + 100));

  // A bookmark at 1800 frames (about 81.6 ms), dragged by its handle at the bottom.
  Document().bookmarks.Add(Bookmark{"Refrain", "stereo.wav", static_cast<std::int32_t>(FramesToMs(1800, 22050))});
  document_window_->Reattach();
  SetView(Document(), 2000, 1000);
  ASSERT_TRUE(View()->WaitUntilDrawn(5000));
  QTest::qWait(20);
  const int mark_x = View()->mapping().X(MsToFrames(Document().bookmarks.bookmarks()[0].position, 22050));
  const int handle_y = View()->height() - 3;
  Mouse(View(), QEvent::MouseMove, mark_x, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseButtonPress, mark_x, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseMove, mark_x - 150, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseButtonRelease, mark_x - 150, Qt::NoModifier, handle_y);
  EXPECT_EQ(Document().bookmarks.bookmarks()[0].position,
            static_cast<std::int32_t>(FramesToMs(View()->mapping().Frame(mark_x - 150), 22050)));
  EXPECT_EQ(Document().state.modified, 1);

  // Dragged past another bookmark, it takes its place in position order once let go.
  const std::int32_t moved_ms = Document().bookmarks.bookmarks()[0].position;
  Document().bookmarks.Add(Bookmark{"Brücke", "stereo.wav", moved_ms + 2});
  Document().Notify(kBookmarksChanged);
  const int from_x = View()->mapping().X(MsToFrames(moved_ms, 22050));
  Mouse(View(), QEvent::MouseMove, from_x, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseButtonPress, from_x, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseMove, from_x + 120, Qt::NoModifier, handle_y);
  Mouse(View(), QEvent::MouseButtonRelease, from_x + 120, Qt::NoModifier, handle_y);
  QApplication::processEvents();
  const auto& marks = Document().bookmarks.bookmarks();
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].name, "Brücke");
  EXPECT_EQ(marks[1].name, "Refrain");
  EXPECT_EQ(marks[1].position, static_cast<std::int32_t>(FramesToMs(View()->mapping().Frame(from_x + 120), 22050)));
  EXPECT_EQ(View()->markers().bookmarks()[0].name, "Brücke");
}

TEST_F(WaveWindowTest, EachDisplayModeIsDrawnAndPhotographed) {
  Document().bookmarks.Add(Bookmark{"Refrain", "stereo.wav", 1500});
  SetSelection(Document(), 22050, 44100, 33075);
  const char* names[] = {"wave_mode_plus_minus", "wave_mode_left_right", "wave_mode_dual"};
  for (int mode = 0; mode < 3; ++mode) {
    ASSERT_TRUE(window_->Dispatch(mode == 0 ? 5007 : mode == 1 ? 5008 : 5013));
    EXPECT_EQ(Document().view_kind, mode);
    ASSERT_TRUE(View()->WaitUntilDrawn(5000));
    QTest::qWait(50);
    EXPECT_EQ(View()->display_mode(), mode);
    SaveScreenshot(*window_, names[mode]);
  }
  ASSERT_TRUE(window_->Dispatch(5005));  // vertical zoom
  EXPECT_EQ(Document().view_option, 1);
  // The scroll bar moves the cursor two seconds at a time.
  Document().state.cursor = 0;
  document_window_->position_bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Document().state.cursor, 44100);
}

TEST_F(WaveWindowTest, PositionBarThumbIsAsLongAsTheVisiblePart) {
  QScrollBar* bar = document_window_->position_bar();
  auto thumb_share = [bar] {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
    return static_cast<double>(thumb.width()) / groove.width();
  };
  // The whole sound in view: the thumb fills the bar.
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_EQ(bar->pageStep(), 200);
  EXPECT_DOUBLE_EQ(thumb_share(), 1.0);
  SaveScreenshot(*bar, "position_bar_whole");

  // A quarter in view: a quarter of the bar, and the thumb's travel still spans the sound.
  SetView(Document(), 44100, 22050);
  EXPECT_EQ(bar->pageStep(), 50);
  EXPECT_EQ(bar->maximum(), 150);
  EXPECT_NEAR(thumb_share(), 0.25, 0.02);
  SaveScreenshot(*bar, "position_bar_quarter");
  SetSelection(Document(), 44100, 44100, 44100);
  EXPECT_EQ(bar->value(), 75);  // 44100 × 201 / 88200 = 100 of 200, on a travel of 150
  bar->setSliderPosition(150);
  EXPECT_EQ(Document().state.cursor, 88200);
  bar->setSliderPosition(75);
  EXPECT_EQ(Document().state.cursor, 44100);
  SetView(Document(), 88200, 0);
  EXPECT_EQ(bar->maximum(), 0);
  EXPECT_DOUBLE_EQ(thumb_share(), 1.0);
  // Its arrows still move the cursor.
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Document().state.cursor, 0);  // two seconds back from 44100
}

}  // namespace
}  // namespace sonavel
