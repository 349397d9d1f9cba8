#include "views/wave_mouse.h"

#include <gtest/gtest.h>

#include <vector>

namespace sonavel {
namespace {

// 128 columns over 1024 frames: eight frames per pixel, exactly, so frame(x) = 8x and
// x(frame) = frame / 8. The height is 100.
WaveMapping TestMapping(std::int32_t first = 0) {
  WaveMapping mapping;
  mapping.SetClientSize(130, 101);
  mapping.SetRange(first, 1024);
  return mapping;
}

std::vector<WaveCode> Codes(const WaveMouseResult& result) {
  std::vector<WaveCode> codes;
  for (const auto& notice : result.notices) codes.push_back(notice.code);
  return codes;
}

class WaveMouseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    markers.set_rate(8000);
    markers.SetEndMarker(mapping, 1024);
  }
  void Select(std::int64_t start, std::int64_t end) {
    markers.SetSelectionStart(mapping, start);
    markers.SetSelectionEnd(mapping, end);
  }

  WaveMapping mapping = TestMapping();
  WaveMarkers markers;
};

using C = WaveCode;

TEST_F(WaveMouseTest, ClickCollapsesTheSelectionAndMovesTheCursor) {
  Select(100, 300);
  EXPECT_TRUE(markers.Move(mapping, 50, 50, false).notices.empty());  // no capture, no bookmarks

  const auto press = markers.Press(mapping, 50, 50, false);
  EXPECT_TRUE(press.notices.empty());
  EXPECT_TRUE(markers.captured());
  EXPECT_EQ(markers.anchor(), 400);
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 400);
  EXPECT_EQ(markers.cursor(), 0);  // the cursor waits for the release
  // The start moved from 100 (column 12) to 400 (column 50), the end from 300 to 400.
  ASSERT_EQ(press.repaint.size(), 2u);
  EXPECT_EQ(press.repaint[0], (PixelStrip{9, 56, 1, 101}));
  EXPECT_EQ(press.repaint[1], (PixelStrip{34, 56, 1, 101}));

  const auto release = markers.Release(mapping, 50, 50, false);
  EXPECT_EQ(Codes(release), std::vector<C>{C::kReleased});
  EXPECT_FALSE(markers.captured());
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 400);
  EXPECT_EQ(markers.cursor(), 400);
  EXPECT_EQ(markers.cursor_width(), 0);
  EXPECT_EQ(release.cursor, WaveCursorShape::kArrow);
}

TEST_F(WaveMouseTest, DragFollowsOnlyTheEdgeOnTheMouseSide) {
  markers.Press(mapping, 50, 50, false);
  auto move = markers.Move(mapping, 60, 50, false);
  EXPECT_EQ(Codes(move), std::vector<C>{C::kSelectionChanged});
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 480);
  EXPECT_EQ(markers.Move(mapping, 70, 50, false).notices.size(), 1u);
  EXPECT_EQ(markers.selection_end(), 560);

  // Back across the anchor: only the start follows, the end stays where it was.
  move = markers.Move(mapping, 40, 50, false);
  EXPECT_EQ(Codes(move), std::vector<C>{C::kSelectionChanged});
  EXPECT_EQ(markers.selection_start(), 320);
  EXPECT_EQ(markers.selection_end(), 560);

  // The release spans anchor … mouse and puts the cursor at the mouse.
  EXPECT_EQ(Codes(markers.Release(mapping, 40, 50, false)), std::vector<C>{C::kReleased});
  EXPECT_EQ(markers.selection_start(), 320);
  EXPECT_EQ(markers.selection_end(), 400);
  EXPECT_EQ(markers.cursor(), 320);
}

TEST_F(WaveMouseTest, ShiftExtendsFromTheAnchor) {
  markers.Press(mapping, 50, 50, false);
  markers.Release(mapping, 50, 50, false);

  markers.Press(mapping, 80, 50, true);
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 640);
  // With Shift held the moves change nothing and send no code 8.
  EXPECT_TRUE(markers.Move(mapping, 90, 50, true).notices.empty());
  EXPECT_EQ(markers.selection_end(), 640);
  EXPECT_EQ(Codes(markers.Release(mapping, 90, 50, true)), std::vector<C>{C::kReleased});
  EXPECT_EQ(markers.selection_end(), 640);
  EXPECT_EQ(markers.cursor(), 400);

  markers.Press(mapping, 20, 50, true);
  EXPECT_EQ(markers.selection_start(), 160);
  EXPECT_EQ(markers.selection_end(), 400);
}

TEST_F(WaveMouseTest, EdgesShowTheResizeArrowWithinSixFrames) {
  Select(406, 640);
  EXPECT_EQ(markers.Move(mapping, 50, 50, false).cursor, WaveCursorShape::kResize);  // 400: 6 away
  EXPECT_TRUE(markers.near_start_edge());
  EXPECT_FALSE(markers.near_end_edge());
  Select(407, 640);
  EXPECT_EQ(markers.Move(mapping, 50, 50, false).cursor, WaveCursorShape::kArrow);  // 7 away
  EXPECT_FALSE(markers.near_start_edge());
  EXPECT_EQ(markers.Move(mapping, 80, 50, false).cursor, WaveCursorShape::kResize);
  EXPECT_TRUE(markers.near_end_edge());
}

TEST_F(WaveMouseTest, DraggingTheStartEdge) {
  Select(400, 640);
  markers.Move(mapping, 50, 50, false);
  const auto press = markers.Press(mapping, 50, 50, false);
  EXPECT_EQ(press.cursor, WaveCursorShape::kResize);
  EXPECT_EQ(markers.anchor(), 640);
  EXPECT_EQ(markers.cursor(), 400);

  EXPECT_EQ(Codes(markers.Move(mapping, 30, 50, false)), std::vector<C>{C::kSelectionChanged});
  EXPECT_EQ(markers.selection_start(), 240);
  EXPECT_EQ(markers.selection_end(), 640);
  // Past the anchor the selection turns round.
  markers.Move(mapping, 90, 50, false);
  EXPECT_EQ(markers.selection_start(), 640);
  EXPECT_EQ(markers.selection_end(), 720);

  markers.Release(mapping, 90, 50, false);
  EXPECT_EQ(markers.selection_start(), 640);
  EXPECT_EQ(markers.selection_end(), 720);
  EXPECT_EQ(markers.cursor(), 720);
}

TEST_F(WaveMouseTest, DraggingTheEndEdge) {
  Select(400, 640);
  markers.Move(mapping, 80, 50, false);
  markers.Press(mapping, 80, 50, false);
  EXPECT_EQ(markers.anchor(), 400);
  EXPECT_EQ(markers.cursor(), 640);
  markers.Move(mapping, 100, 50, false);
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 800);
  markers.Move(mapping, 55, 50, false);
  EXPECT_EQ(markers.selection_start(), 400);
  EXPECT_EQ(markers.selection_end(), 440);
  markers.Release(mapping, 55, 50, false);
  EXPECT_EQ(markers.selection_end(), 440);
  EXPECT_EQ(markers.cursor(), 440);
}

TEST_F(WaveMouseTest, EdgeTrackingCodes) {
  markers.Press(mapping, 50, 50, false);
  EXPECT_EQ(Codes(markers.Move(mapping, 128, 50, false)), (std::vector<C>{C::kBeyondRight, C::kSelectionChanged}));
  EXPECT_EQ(markers.edge_state(), 4);
  EXPECT_EQ(Codes(markers.Move(mapping, 140, 50, false)), std::vector<C>{C::kSelectionChanged});
  EXPECT_EQ(Codes(markers.Move(mapping, 64, 50, false)), (std::vector<C>{C::kBackFromRight, C::kSelectionChanged}));
  EXPECT_EQ(markers.edge_state(), 0);

  // Left of the window counts as x = 0.
  EXPECT_EQ(Codes(markers.Move(mapping, -5, 50, false)), (std::vector<C>{C::kAtLeft, C::kSelectionChanged}));
  EXPECT_EQ(markers.edge_state(), 6);
  EXPECT_EQ(markers.selection_start(), 0);
  EXPECT_EQ(Codes(markers.Move(mapping, 10, 50, false)), (std::vector<C>{C::kBackFromLeft, C::kSelectionChanged}));

  markers.Move(mapping, 0, 50, false);
  EXPECT_EQ(Codes(markers.Release(mapping, 0, 50, false)), (std::vector<C>{C::kBackFromLeft, C::kReleased}));
  EXPECT_EQ(markers.edge_state(), 0);

  // Without the capture there is no edge tracking.
  EXPECT_TRUE(markers.Move(mapping, 128, 50, false).notices.empty());
  EXPECT_EQ(markers.edge_state(), 0);
}

TEST_F(WaveMouseTest, HeldEdgeFollowsAScroll) {
  markers.Press(mapping, 50, 50, false);
  markers.Move(mapping, 0, 50, false);
  const WaveMapping scrolled = TestMapping(80);  // offset 10 pixels
  markers.FollowEdge(scrolled);
  EXPECT_EQ(markers.selection_start(), 80);

  markers.Move(scrolled, 64, 50, false);  // back inside first: code 7
  markers.Move(scrolled, 128, 50, false);
  ASSERT_EQ(markers.edge_state(), 4);
  const WaveMapping further = TestMapping(160);
  markers.FollowEdge(further);
  EXPECT_EQ(markers.selection_end(), 160 + 1024);
}

TEST_F(WaveMouseTest, HoveringABookmark) {
  markers.SetBookmarks({{"Intro", 50, 400}, {"Refrain", 52, 416}});
  ASSERT_EQ(markers.bookmarks()[0].frame, 400);  // column 50, drawn at pixel 51
  ASSERT_EQ(markers.bookmarks()[1].frame, 416);  // column 52, pixel 53

  auto move = markers.Move(mapping, 47, 97, false);
  ASSERT_EQ(Codes(move), std::vector<C>{C::kOverBookmark});
  EXPECT_EQ(move.notices[0].bookmark, 0);
  EXPECT_EQ(move.notices[0].x, 47);
  EXPECT_EQ(move.notices[0].y, 97);
  EXPECT_EQ(move.cursor, WaveCursorShape::kHand);
  EXPECT_TRUE(markers.over_bookmark());

  EXPECT_EQ(markers.Move(mapping, 57, 94, false).notices[0].bookmark, 1);
  EXPECT_EQ(markers.Move(mapping, 51, 100, false).notices[0].bookmark, 0);

  for (auto [x, y] : {std::pair{46, 97}, std::pair{58, 97}, std::pair{51, 93}, std::pair{51, 101}}) {
    move = markers.Move(mapping, x, y, false);
    EXPECT_EQ(Codes(move), std::vector<C>{C::kNoBookmark}) << x << "," << y;
    EXPECT_FALSE(markers.over_bookmark());
  }
  EXPECT_EQ(markers.Move(mapping, 10, 50, false).cursor, WaveCursorShape::kArrow);
}

TEST_F(WaveMouseTest, DraggingABookmark) {
  markers.set_rate(11025);
  markers.SetBookmarks({{"Intro", 50, 551}});
  ASSERT_EQ(markers.bookmarks()[0].frame, 551);  // column 68, pixel 69
  Select(100, 200);

  markers.Move(mapping, 69, 97, false);
  const auto press = markers.Press(mapping, 69, 97, false);
  EXPECT_EQ(press.cursor, WaveCursorShape::kResize);
  EXPECT_EQ(markers.dragged_bookmark(), 0);

  const auto move = markers.Move(mapping, 70, 60, false);
  ASSERT_EQ(Codes(move), (std::vector<C>{C::kBookmarkMoved, C::kOverBookmark}));
  EXPECT_EQ(move.notices[0].old_frame, 551);
  EXPECT_EQ(move.notices[0].new_frame, 560);
  EXPECT_EQ(move.notices[1].bookmark, 0);
  EXPECT_EQ(move.notices[1].x, 70);
  // Stored in whole milliseconds: 560 frames are 50 ms, which are 551 frames again.
  EXPECT_EQ(markers.bookmarks()[0].position_ms, 50);
  EXPECT_EQ(markers.bookmarks()[0].frame, 551);
  ASSERT_EQ(move.repaint.size(), 2u);
  EXPECT_EQ(move.repaint[0], (PixelStrip{65, 74, 1, 101}));

  markers.Move(mapping, 100, 60, false);
  EXPECT_EQ(markers.bookmarks()[0].position_ms, 72);  // 800 frames
  EXPECT_EQ(markers.bookmarks()[0].frame, 793);

  // The release ends the drag and nothing else.
  EXPECT_TRUE(markers.Release(mapping, 100, 60, false).notices.empty());
  EXPECT_EQ(markers.dragged_bookmark(), -1);
  EXPECT_EQ(markers.selection_start(), 100);
  EXPECT_EQ(markers.selection_end(), 200);
  EXPECT_EQ(markers.cursor(), 0);
}

TEST_F(WaveMouseTest, SettersInvalidateStripsAroundTheMarkers) {
  auto strips = markers.SetCursor(mapping, 400, 0);
  ASSERT_EQ(strips.size(), 2u);
  EXPECT_EQ(strips[0], (PixelStrip{0, 6, 1, 101}));
  EXPECT_EQ(strips[1], (PixelStrip{47, 56, 1, 101}));
  // On the last column: drawn one to the left, the strip ends at the client's edge.
  strips = markers.SetCursor(mapping, 1024, 0);
  EXPECT_EQ(strips[1], (PixelStrip{124, 130, 1, 101}));
  // A cursor range covers its columns.
  strips = markers.SetCursor(mapping, 400, 80);
  EXPECT_EQ(strips[1], (PixelStrip{47, 66, 1, 101}));
  // Outside the view there is nothing to repaint.
  strips = markers.SetCursor(mapping, 2000, 0);
  EXPECT_EQ(strips.size(), 1u);
  EXPECT_TRUE(markers.SetCursor(mapping, 3000, 0).empty());

  strips = markers.SetEndMarker(mapping, 800);
  ASSERT_EQ(strips.size(), 1u);
  EXPECT_EQ(strips[0], (PixelStrip{97, 130, 1, 101}));
}

TEST_F(WaveMouseTest, ColourTable) {
  markers.SetEndMarker(mapping, 800);  // columns from 100 on hold no sound
  Select(400, 560);                    // columns 50 … 69
  markers.SetCursor(mapping, 480, 120);  // columns 60 … 74
  const ColumnColourPair outside{kButtonFaceColour, kGrayTextColour};
  const ColumnColourPair plain{Rgb(0, 0, 0), Rgb(102, 255, 102)};
  const ColumnColourPair selected{Rgb(5, 95, 167), Rgb(255, 255, 255)};
  const ColumnColourPair at_cursor{Rgb(255, 255, 189), Rgb(0, 128, 0)};
  const ColumnColourPair both{Rgb(0, 128, 0), Rgb(255, 255, 189)};

  EXPECT_EQ(ColumnColours(mapping, markers, 100), outside);
  EXPECT_EQ(ColumnColours(mapping, markers, 127), outside);
  EXPECT_EQ(ColumnColours(mapping, markers, 99), plain);
  EXPECT_EQ(ColumnColours(mapping, markers, 49), plain);
  EXPECT_EQ(ColumnColours(mapping, markers, 50), selected);
  EXPECT_EQ(ColumnColours(mapping, markers, 59), selected);
  EXPECT_EQ(ColumnColours(mapping, markers, 60), both);
  EXPECT_EQ(ColumnColours(mapping, markers, 69), both);
  EXPECT_EQ(ColumnColours(mapping, markers, 70), at_cursor);
  EXPECT_EQ(ColumnColours(mapping, markers, 74), at_cursor);
  EXPECT_EQ(ColumnColours(mapping, markers, 75), plain);

  // Without a width the cursor is a line, not a range.
  markers.SetCursor(mapping, 480, 0);
  EXPECT_EQ(ColumnColours(mapping, markers, 60), selected);
  EXPECT_EQ(ColumnColours(mapping, markers, 70), plain);
  // A selection narrower than a column still shows in one.
  Select(401, 403);
  EXPECT_EQ(ColumnColours(mapping, markers, 50), selected);
  EXPECT_EQ(ColumnColours(mapping, markers, 51), plain);
  // An empty sound shows nothing but button face.
  markers.SetEndMarker(mapping, 0);
  EXPECT_EQ(ColumnColours(mapping, markers, 0), outside);
}

TEST(WavePaint, ExtentsInTheThreeModes) {
  ColumnExtents one = ColumnWaveExtents(0, 100, 128, 255);  // 25 up, 49 down from 50
  ASSERT_EQ(one.count, 1);
  EXPECT_EQ(one.waves[0], (WaveSpan{25, 100}));
  one = ColumnWaveExtents(1, 101, 100, 0);  // 19 up from 50
  EXPECT_EQ(one.waves[0], (WaveSpan{31, 51}));

  const ColumnExtents two = ColumnWaveExtents(2, 100, 255, 64);
  ASSERT_EQ(two.count, 2);
  EXPECT_EQ(two.waves[0], (WaveSpan{1, 50}));   // centre 25, extent 24
  EXPECT_EQ(two.waves[1], (WaveSpan{69, 82}));  // centre 75, extent 6

  EXPECT_EQ(EffectiveDisplayMode(2, 2), 2);
  EXPECT_EQ(EffectiveDisplayMode(1, 2), 1);
  EXPECT_EQ(EffectiveDisplayMode(2, 1), 0);
  EXPECT_EQ(EffectiveDisplayMode(1, 6), 0);
}

TEST(WavePaint, CursorTrianglesAndTheColumnsBesideThem) {
  const auto shapes = CursorShapes(40, 100);
  ASSERT_EQ(shapes.size(), 3u);
  EXPECT_EQ(shapes[0].kind, PaintOp::Kind::kLine);
  EXPECT_EQ(shapes[0].colour, Rgb(255, 255, 17));
  EXPECT_EQ((std::array{shapes[0].left, shapes[0].top, shapes[0].right, shapes[0].bottom}),
            (std::array{40, 6, 40, 94}));
  EXPECT_EQ(shapes[1].points, (std::array<PaintPoint, 3>{{{40, 6}, {36, 1}, {44, 1}}}));
  EXPECT_EQ(shapes[2].points, (std::array<PaintPoint, 3>{{{40, 94}, {36, 100}, {44, 100}}}));

  const auto bookmark = BookmarkShapes(40, 100);
  EXPECT_EQ(bookmark[0].kind, PaintOp::Kind::kDottedLine);
  EXPECT_EQ(bookmark[0].colour, Rgb(0, 191, 255));
  EXPECT_EQ(bookmark[1].points, (std::array<PaintPoint, 3>{{{40, 94}, {36, 100}, {44, 100}}}));
  EXPECT_EQ(bookmark[2].points, (std::array<PaintPoint, 3>{{{40, 6}, {36, 0}, {44, 0}}}));

  EXPECT_EQ(ColumnRows(100, 40, 40), (WaveSpan{7, 94}));
  EXPECT_EQ(ColumnRows(100, 41, 40), (WaveSpan{5, 96}));
  EXPECT_EQ(ColumnRows(100, 38, 40), (WaveSpan{4, 97}));
  EXPECT_EQ(ColumnRows(100, 43, 40), (WaveSpan{3, 99}));
  EXPECT_EQ(ColumnRows(100, 36, 40), (WaveSpan{2, 100}));
  EXPECT_EQ(ColumnRows(100, 45, 40), (WaveSpan{1, 100}));
  EXPECT_EQ(ColumnRows(100, 40, -1), (WaveSpan{1, 100}));

  const auto border = BorderLines(128, 100);
  ASSERT_EQ(border.size(), 4u);
  EXPECT_EQ(border[0].colour, Rgb(255, 255, 255));
  EXPECT_EQ((std::array{border[1].left, border[1].top, border[1].right, border[1].bottom}),
            (std::array{129, 0, 129, 100}));
  EXPECT_EQ(border[3].colour, Rgb(0, 0, 0));
}

TEST_F(WaveMouseTest, CursorPlacement) {
  markers.SetCursor(mapping, 400, 0);
  EXPECT_EQ(CursorPixel(mapping, markers), 51);
  markers.SetCursor(mapping, 1024, 0);
  EXPECT_EQ(CursorPixel(mapping, markers), 128);  // last column: one to the left
  markers.SetCursor(mapping, 1100, 0);
  EXPECT_EQ(CursorPixel(mapping, markers), -1);
  markers.SetCursor(mapping, 40, 0);
  EXPECT_EQ(CursorPixel(TestMapping(80), markers), -1);
  EXPECT_EQ(MarkerPixel(TestMapping(80), 80), 1);
  EXPECT_EQ(MarkerPixel(WaveMapping{}, 0), -1);
}

TEST_F(WaveMouseTest, PaintPassInOrder) {
  markers.SetCursor(mapping, 400, 0);  // pixel 51
  markers.SetBookmarks({{"Intro", 100, 800}});  // pixel 101
  std::vector<std::uint8_t> upper(129, 128);
  std::vector<std::uint8_t> lower(129, 255);

  const auto ops = PaintWave(mapping, markers, upper, lower, 0, 2, 49, 50);
  // Column 49 at pixel 50 (beside the cursor): rows 5 … 95; column 50 under it: 7 … 93.
  ASSERT_EQ(ops.size(), 4u + 3 + 3 + 4);
  EXPECT_EQ((std::array{ops[0].left, ops[0].top, ops[0].right, ops[0].bottom}), (std::array{50, 5, 51, 25}));
  EXPECT_EQ(ops[0].colour, Rgb(0, 0, 0));
  EXPECT_EQ((std::array{ops[1].left, ops[1].top, ops[1].right, ops[1].bottom}), (std::array{50, 25, 51, 96}));
  EXPECT_EQ(ops[1].colour, Rgb(102, 255, 102));
  EXPECT_EQ((std::array{ops[2].top, ops[2].bottom, ops[3].top, ops[3].bottom}), (std::array{7, 25, 25, 94}));
  EXPECT_EQ(ops[4].kind, PaintOp::Kind::kLine);  // the cursor
  EXPECT_EQ(ops[4].left, 51);
  EXPECT_EQ(ops[7].kind, PaintOp::Kind::kDottedLine);  // the bookmark
  EXPECT_EQ(ops[7].left, 101);
  EXPECT_EQ(ops[10].top, 100);  // the border

  // Two lanes (the second reaching the bottom), then the separator in gray text.
  const auto lanes = PaintWave(mapping, markers, upper, lower, 2, 2, 10, 11);
  ASSERT_GE(lanes.size(), 9u);
  EXPECT_EQ((std::array{lanes[0].bottom, lanes[1].bottom, lanes[2].bottom, lanes[3].bottom}),
            (std::array{13, 38, 51, 100}));
  EXPECT_EQ(lanes[1].colour, Rgb(102, 255, 102));
  EXPECT_EQ(lanes[8].kind, PaintOp::Kind::kLine);
  EXPECT_EQ(lanes[8].colour, kGrayTextColour);
  EXPECT_EQ((std::array{lanes[8].left, lanes[8].top, lanes[8].right, lanes[8].bottom}),
            (std::array{11, 50, 12, 50}));
  // A mono sound draws stereo modes as mode 0.
  EXPECT_EQ(PaintWave(mapping, markers, upper, lower, 2, 1, 10, 10)[1].bottom, 100);
}

TEST_F(WaveMouseTest, DocumentTakesTheSelectionClamped) {
  Select(240, 640);
  EXPECT_EQ(DocumentSelection(markers, 500), (FrameRange{240, 500}));
  Select(700, 100);
  EXPECT_EQ(DocumentSelection(markers, 500), (FrameRange{100, 500}));
  EXPECT_EQ(CursorDisplayFrame(700, 500), 500);
  EXPECT_EQ(CursorDisplayFrame(300, 500), 300);
}

TEST(WaveOwner, KeepingTheCursorVisible) {
  const FrameRange view{1000, 2000};
  EXPECT_EQ(KeepCursorVisible(view, 2500, 10000), (FrameRange{1500, 2500}));
  EXPECT_EQ(KeepCursorVisible(view, 500, 10000), (FrameRange{500, 1500}));
  EXPECT_EQ(KeepCursorVisible(view, 2000, 10000), view);
  EXPECT_EQ(KeepCursorVisible(view, 1000, 10000), view);
  EXPECT_EQ(KeepCursorVisible(view, 12000, 10000), (FrameRange{10000, 10000}));
  EXPECT_EQ(KeepCursorVisible({8000, 9800}, 9900, 9850), (FrameRange{8100, 9850}));
}

TEST(WaveOwner, PositionScrollBar) {
  const std::int32_t rate = 44100;
  const std::int64_t length = 441000;
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kLineRight, 0, 100000, rate, length), 188200);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kPageLeft, 0, 100000, rate, length), 11800);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kLineLeft, 0, 50000, rate, length), 0);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kPageRight, 0, 400000, rate, length), 441000);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kThumb, 100, 0, rate, length), 220500);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kThumb, 1, 0, rate, length), 2205);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kThumb, 200, 0, rate, length), 441000);
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kThumb, 3, 0, rate, 1001), 15);  // 15.015
  EXPECT_EQ(PositionScrollTarget(PositionScroll::kThumb, 200, 0, rate, 2000000000), 2000000000);

  EXPECT_EQ(PositionScrollThumb(220500, length), 100);
  EXPECT_EQ(PositionScrollThumb(441000, length), 201);
  EXPECT_EQ(PositionScrollThumb(2194, length), 0);
  EXPECT_EQ(PositionScrollThumb(2195, length), 1);
  EXPECT_EQ(PositionScrollThumb(5, 0), 0);
}

TEST(WaveOwner, BookmarkTooltipText) {
  EXPECT_EQ(BookmarkTooltip({"Intro", 3723004, 0}), "Intro\r\n1:02:03.00");
  EXPECT_EQ(BookmarkTooltip({"Refrain", 1235, 0}), "Refrain\r\n0:00:01.24");
}

}  // namespace
}  // namespace sonavel
