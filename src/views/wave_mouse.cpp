#include "views/wave_mouse.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "store/time.h"

namespace sonavel {
namespace {

// The column of a frame without the clamping of WaveMapping::X; nothing while the view
// shows nothing.
std::optional<std::int64_t> RawColumn(const WaveMapping& mapping, std::int64_t frame) {
  if (mapping.visible_frames <= 0) return std::nullopt;
  return static_cast<std::int64_t>(static_cast<double>(frame) * mapping.scale) - mapping.offset_pixels;
}

// The strip covering the frames a … b (either order), 4 pixels wider on both sides, from
// y = 1 to the height; nothing when the stretch lies wholly outside the view.
void AddStrip(const WaveMapping& mapping, std::int64_t a, std::int64_t b, std::vector<PixelStrip>& strips) {
  const auto low = RawColumn(mapping, std::min(a, b));
  const auto high = RawColumn(mapping, std::max(a, b));
  if (!low || !high || *high < 0 || *low > mapping.width) return;
  // A marker on the column past the last is drawn one column to the left.
  const std::int64_t first = std::clamp<std::int64_t>(*low, 0, std::max(mapping.width - 1, 0));
  const std::int64_t last = std::clamp<std::int64_t>(*high, 0, mapping.width);
  PixelStrip strip;
  strip.left = std::max(static_cast<int>(first) + 1 - kStripMargin, 0);
  strip.right = std::min(static_cast<int>(last) + 1 + kStripMargin + 1, mapping.width + 2);
  strip.top = 1;
  strip.bottom = mapping.height + 1;
  if (strip.left < strip.right && strip.top < strip.bottom) strips.push_back(strip);
}

// Whether column t lies in the columns of the frames start … end: from the start's column
// up to the end's, at least one column for a stretch that is not empty.
bool ColumnWithin(const WaveMapping& mapping, int column, std::int64_t start, std::int64_t end) {
  if (start > end) std::swap(start, end);
  if (start == end) return false;
  const int first = mapping.X(start);
  const int last = std::max(mapping.X(end), first + 1);
  return column >= first && column < last;
}

int CeilDiv(int numerator, int denominator) { return (numerator + denominator - 1) / denominator; }

PaintOp Fill(int left, int top, int right, int bottom, WaveColour colour) {
  PaintOp op;
  op.kind = PaintOp::Kind::kFill;
  op.colour = colour;
  op.left = left;
  op.top = top;
  op.right = right;
  op.bottom = bottom;
  return op;
}

PaintOp Line(PaintOp::Kind kind, int x0, int y0, int x1, int y1, WaveColour colour) {
  PaintOp op;
  op.kind = kind;
  op.colour = colour;
  op.left = x0;
  op.top = y0;
  op.right = x1;
  op.bottom = y1;
  return op;
}

PaintOp Triangle(PaintPoint a, PaintPoint b, PaintPoint c, WaveColour colour) {
  PaintOp op;
  op.kind = PaintOp::Kind::kTriangle;
  op.colour = colour;
  op.points = {a, b, c};
  return op;
}

}  // namespace

// ---- Markers ----

std::vector<PixelStrip> WaveMarkers::SetCursor(const WaveMapping& mapping, std::int64_t frame, std::int64_t width) {
  std::vector<PixelStrip> strips;
  AddStrip(mapping, cursor_, cursor_ + cursor_width_, strips);
  cursor_ = frame;
  cursor_width_ = width;
  AddStrip(mapping, cursor_, cursor_ + cursor_width_, strips);
  return strips;
}

std::vector<PixelStrip> WaveMarkers::SetEndMarker(const WaveMapping& mapping, std::int64_t frame) {
  std::vector<PixelStrip> strips;
  AddStrip(mapping, end_marker_, frame, strips);
  end_marker_ = frame;
  return strips;
}

std::vector<PixelStrip> WaveMarkers::SetSelectionStart(const WaveMapping& mapping, std::int64_t frame) {
  std::vector<PixelStrip> strips;
  AddStrip(mapping, selection_start_, frame, strips);
  selection_start_ = frame;
  return strips;
}

std::vector<PixelStrip> WaveMarkers::SetSelectionEnd(const WaveMapping& mapping, std::int64_t frame) {
  std::vector<PixelStrip> strips;
  AddStrip(mapping, selection_end_, frame, strips);
  selection_end_ = frame;
  return strips;
}

void WaveMarkers::SetSelection(const WaveMapping& mapping, std::int64_t start, std::int64_t end,
                               std::vector<PixelStrip>& strips) {
  for (auto& strip : SetSelectionStart(mapping, start)) strips.push_back(strip);
  for (auto& strip : SetSelectionEnd(mapping, end)) strips.push_back(strip);
}

void WaveMarkers::SetBookmarks(std::vector<WaveBookmark> bookmarks) {
  bookmarks_ = std::move(bookmarks);
  if (dragged_bookmark_ >= static_cast<int>(bookmarks_.size())) dragged_bookmark_ = -1;
  if (hovered_bookmark_ >= static_cast<int>(bookmarks_.size())) {
    hovered_bookmark_ = -1;
    over_bookmark_ = false;
  }
}

int WaveMarkers::HitBookmark(const WaveMapping& mapping, int x, int y) const {
  if (y < mapping.height - kBookmarkHandleHeight || y > mapping.height) return -1;
  for (std::size_t i = 0; i < bookmarks_.size(); ++i) {
    const int line = MarkerPixel(mapping, bookmarks_[i].frame);
    if (line >= 0 && std::abs(x - line) <= kBookmarkHitPixels) return static_cast<int>(i);
  }
  return -1;
}

WaveMouseResult WaveMarkers::Press(const WaveMapping& mapping, int x, int y, bool shift) {
  (void)y;
  WaveMouseResult result;
  captured_ = true;
  drag_ = Drag::kFree;
  const std::int64_t f = mapping.Frame(x);
  if (!shift) {
    if (near_start_edge_) {
      shape_ = WaveCursorShape::kResize;
      anchor_ = selection_end_;
      drag_ = Drag::kStartEdge;
      result.repaint = SetCursor(mapping, selection_start_, cursor_width_);
    } else if (near_end_edge_) {
      shape_ = WaveCursorShape::kResize;
      anchor_ = selection_start_;
      drag_ = Drag::kEndEdge;
      result.repaint = SetCursor(mapping, selection_end_, cursor_width_);
    } else if (over_bookmark_ && hovered_bookmark_ >= 0) {
      shape_ = WaveCursorShape::kResize;
      dragged_bookmark_ = hovered_bookmark_;
    } else {
      anchor_ = f;
      SetSelection(mapping, f, f, result.repaint);
    }
  } else {
    SetSelection(mapping, std::min(anchor_, f), std::max(anchor_, f), result.repaint);
  }
  result.cursor = shape_;
  return result;
}

WaveMouseResult WaveMarkers::Move(const WaveMapping& mapping, int x, int y, bool shift) {
  WaveMouseResult result;
  x = std::max(x, 0);
  // Without the capture the window's own arrow comes back on every move.
  if (!captured_) shape_ = WaveCursorShape::kArrow;

  if (!bookmarks_.empty()) {
    if (dragged_bookmark_ >= 0) {
      WaveBookmark& bookmark = bookmarks_[static_cast<std::size_t>(dragged_bookmark_)];
      const std::int64_t old_frame = bookmark.frame;
      const std::int64_t new_frame = mapping.Frame(x);
      bookmark.position_ms = static_cast<std::int32_t>(FramesToMs(new_frame, rate_));
      bookmark.frame = MsToFrames(bookmark.position_ms, rate_);
      AddStrip(mapping, old_frame, old_frame, result.repaint);
      AddStrip(mapping, bookmark.frame, bookmark.frame, result.repaint);
      WaveNotice moved;
      moved.code = WaveCode::kBookmarkMoved;
      moved.old_frame = old_frame;
      moved.new_frame = new_frame;
      result.notices.push_back(moved);
      WaveNotice over;
      over.code = WaveCode::kOverBookmark;
      over.bookmark = dragged_bookmark_;
      over.x = x;
      over.y = y;
      result.notices.push_back(over);
      result.cursor = shape_;
      return result;
    }
    const int hit = HitBookmark(mapping, x, y);
    if (hit >= 0) {
      shape_ = WaveCursorShape::kHand;
      over_bookmark_ = true;
      hovered_bookmark_ = hit;
      WaveNotice over;
      over.code = WaveCode::kOverBookmark;
      over.bookmark = hit;
      over.x = x;
      over.y = y;
      result.notices.push_back(over);
      result.cursor = shape_;
      return result;
    }
    over_bookmark_ = false;
    hovered_bookmark_ = -1;
    result.notices.push_back(WaveNotice{WaveCode::kNoBookmark});
  }

  const std::int64_t mouse_frame = mapping.Frame(x);
  near_start_edge_ = std::abs(mouse_frame - selection_start_) <= kEdgeFrames;
  near_end_edge_ = std::abs(mouse_frame - selection_end_) <= kEdgeFrames;
  if (near_start_edge_ || near_end_edge_) shape_ = WaveCursorShape::kResize;

  if (captured_) {
    if (x >= mapping.width) {
      if (edge_state_ == 0) {
        result.notices.push_back(WaveNotice{WaveCode::kBeyondRight});
        edge_state_ = 4;
      }
    } else if (x == 0) {
      if (edge_state_ == 0) {
        result.notices.push_back(WaveNotice{WaveCode::kAtLeft});
        edge_state_ = 6;
      }
    } else if (edge_state_ != 0) {
      result.notices.push_back(WaveNotice{edge_state_ == 4 ? WaveCode::kBackFromRight : WaveCode::kBackFromLeft});
      edge_state_ = 0;
    }

    if (!shift) {
      const std::int64_t f = std::max<std::int64_t>(mouse_frame, 0);
      if (drag_ != Drag::kFree) {
        // An edge dragged past the anchor turns the selection round.
        SetSelection(mapping, std::min(anchor_, f), std::max(anchor_, f), result.repaint);
      } else if (anchor_ < f) {
        for (auto& strip : SetSelectionEnd(mapping, f)) result.repaint.push_back(strip);
      } else {
        for (auto& strip : SetSelectionStart(mapping, f)) result.repaint.push_back(strip);
      }
      result.notices.push_back(WaveNotice{WaveCode::kSelectionChanged});
    }
  }
  result.cursor = shape_;
  return result;
}

WaveMouseResult WaveMarkers::Release(const WaveMapping& mapping, int x, int y, bool shift) {
  (void)y;
  WaveMouseResult result;
  captured_ = false;
  shape_ = WaveCursorShape::kArrow;
  result.cursor = shape_;
  if (edge_state_ == 4) result.notices.push_back(WaveNotice{WaveCode::kBackFromRight});
  if (edge_state_ == 6) result.notices.push_back(WaveNotice{WaveCode::kBackFromLeft});
  edge_state_ = 0;
  drag_ = Drag::kFree;
  if (dragged_bookmark_ >= 0) {
    dragged_bookmark_ = -1;
    return result;
  }
  if (!shift) {
    // The mouse may be released outside the window; a frame before 0 is 0.
    const std::int64_t f = mapping.Frame(std::max(x, 0));
    SetSelection(mapping, std::min(anchor_, f), std::max(anchor_, f), result.repaint);
    for (auto& strip : SetCursor(mapping, f, 0)) result.repaint.push_back(strip);
  }
  result.notices.push_back(WaveNotice{WaveCode::kReleased});
  return result;
}

std::vector<PixelStrip> WaveMarkers::FollowEdge(const WaveMapping& mapping) {
  if (edge_state_ == 6) return SetSelectionStart(mapping, mapping.Frame(0));
  if (edge_state_ == 4) return SetSelectionEnd(mapping, mapping.Frame(mapping.width));
  return {};
}

// ---- Paint model ----

ColumnColourPair ColumnColours(const WaveMapping& mapping, const WaveMarkers& markers, int column) {
  const std::int64_t first_frame = mapping.Frame(column);
  // A column that starts at or past the end marker holds no sound.
  if (first_frame < 0 || first_frame >= markers.end_marker()) return {kButtonFaceColour, kGrayTextColour};
  const bool selected = ColumnWithin(mapping, column, markers.selection_start(), markers.selection_end());
  const bool at_cursor = markers.cursor_width() != 0 &&
                         ColumnWithin(mapping, column, markers.cursor(), markers.cursor() + markers.cursor_width());
  if (!at_cursor && !selected) return {Rgb(0, 0, 0), Rgb(102, 255, 102)};
  if (!at_cursor) return {Rgb(5, 95, 167), Rgb(255, 255, 255)};
  if (!selected) return {Rgb(255, 255, 189), Rgb(0, 128, 0)};
  return {Rgb(0, 128, 0), Rgb(255, 255, 189)};
}

int EffectiveDisplayMode(int display_mode, int channels) {
  if (channels != 2) return 0;
  return display_mode >= 0 && display_mode <= 2 ? display_mode : 0;
}

ColumnExtents ColumnWaveExtents(int mode, int height, std::uint8_t upper, std::uint8_t lower) {
  ColumnExtents extents;
  if (mode == 2) {
    const int lane = height >> 1;
    const int first_centre = lane - (height >> 2);
    const int second_centre = lane + (height >> 2);
    const int first_extent = (upper * lane) >> 9;
    const int second_extent = (lower * lane) >> 9;
    extents.count = 2;
    extents.waves[0] = {first_centre - first_extent, first_centre + first_extent + 1};
    extents.waves[1] = {second_centre - second_extent, second_centre + second_extent + 1};
    return extents;
  }
  const int centre = height >> 1;
  const int up = (upper * height) >> 9;
  const int down = (lower * height) >> 9;
  extents.count = 1;
  extents.waves[0] = {centre - up, centre + down + 1};
  return extents;
}

int MarkerPixel(const WaveMapping& mapping, std::int64_t frame) {
  const auto column = RawColumn(mapping, frame);
  if (!column || *column < 0 || *column > mapping.width) return -1;
  return static_cast<int>(*column) + 1;
}

int CursorPixel(const WaveMapping& mapping, const WaveMarkers& markers) {
  const int x = MarkerPixel(mapping, markers.cursor());
  if (x < 0) return -1;
  return x == mapping.width + 1 ? std::max(mapping.width, 1) : x;
}

WaveSpan ColumnRows(int height, int pixel_x, int cursor_x) {
  WaveSpan rows{1, height};
  if (cursor_x < 0) return rows;
  const int distance = std::abs(pixel_x - cursor_x);
  if (distance > 4) return rows;
  // The top triangle's sides fall 5 pixels over 4, the bottom one's rise 6 over 4.
  rows.top = std::max(rows.top, 7 - CeilDiv(5 * distance, 4));
  rows.bottom = std::min(rows.bottom, height - 6 + CeilDiv(3 * distance, 2));
  return rows;
}

std::vector<PaintOp> CursorShapes(int x, int height) {
  return {
      Line(PaintOp::Kind::kLine, x, 6, x, height - 6, kCursorColour),
      Triangle({x, 6}, {x - 4, 1}, {x + 4, 1}, kCursorColour),
      Triangle({x, height - 6}, {x - 4, height}, {x + 4, height}, kCursorColour),
  };
}

std::vector<PaintOp> BookmarkShapes(int x, int height) {
  return {
      Line(PaintOp::Kind::kDottedLine, x, 6, x, height - 6, kBookmarkColour),
      Triangle({x, height - 6}, {x - 4, height}, {x + 4, height}, kBookmarkColour),
      Triangle({x, 6}, {x - 4, 0}, {x + 4, 0}, kBookmarkColour),
  };
}

std::vector<PaintOp> BorderLines(int width, int height) {
  const WaveColour white = Rgb(255, 255, 255);
  const WaveColour black = Rgb(0, 0, 0);
  return {
      Line(PaintOp::Kind::kLine, 0, height, width + 1, height, white),
      Line(PaintOp::Kind::kLine, width + 1, 0, width + 1, height, white),
      Line(PaintOp::Kind::kLine, 0, 0, width + 1, 0, black),
      Line(PaintOp::Kind::kLine, 0, 0, 0, height, black),
  };
}

std::vector<PaintOp> PaintWave(const WaveMapping& mapping, const WaveMarkers& markers,
                               std::span<const std::uint8_t> upper, std::span<const std::uint8_t> lower,
                               int display_mode, int channels, int first_column, int last_column) {
  std::vector<PaintOp> ops;
  const int height = mapping.height;
  const int mode = EffectiveDisplayMode(display_mode, channels);
  const int cursor_x = CursorPixel(mapping, markers);
  const int available = static_cast<int>(std::min(upper.size(), lower.size()));
  const int first = std::max(first_column, 0);
  const int last = std::min({last_column, mapping.width, available - 1});

  for (int t = first; t <= last; ++t) {
    const int x = t + 1;
    const WaveSpan rows = ColumnRows(height, x, cursor_x);
    const ColumnColourPair colours = ColumnColours(mapping, markers, t);
    const ColumnExtents extents =
        ColumnWaveExtents(mode, height, upper[static_cast<std::size_t>(t)], lower[static_cast<std::size_t>(t)]);
    // Background and wave alternate down the column; each part is clipped to the rows.
    int y = rows.top;
    auto paint_to = [&](int bottom, WaveColour colour) {
      const int end = std::min(bottom, rows.bottom);
      if (end > y) ops.push_back(Fill(x, y, x + 1, end, colour));
      y = std::max(y, end);
    };
    for (int i = 0; i < extents.count; ++i) {
      paint_to(extents.waves[static_cast<std::size_t>(i)].top, colours.background);
      paint_to(extents.waves[static_cast<std::size_t>(i)].bottom, colours.wave);
    }
    paint_to(rows.bottom, colours.background);
  }
  if (mode == 2 && first <= last) {
    ops.push_back(Line(PaintOp::Kind::kLine, first + 1, height >> 1, last + 1, height >> 1, kGrayTextColour));
  }
  if (cursor_x >= 0) {
    for (auto& op : CursorShapes(cursor_x, height)) ops.push_back(op);
  }
  for (const auto& bookmark : markers.bookmarks()) {
    const int x = MarkerPixel(mapping, bookmark.frame);
    if (x < 0) continue;
    for (auto& op : BookmarkShapes(x, height)) ops.push_back(op);
  }
  for (auto& op : BorderLines(mapping.width, height)) ops.push_back(op);
  return ops;
}

// ---- The document window's side ----

FrameRange DocumentSelection(const WaveMarkers& markers, std::int64_t length) {
  const std::int64_t limit = std::max<std::int64_t>(length, 0);
  std::int64_t start = std::clamp<std::int64_t>(markers.selection_start(), 0, limit);
  std::int64_t end = std::clamp<std::int64_t>(markers.selection_end(), 0, limit);
  if (start > end) std::swap(start, end);
  return {start, end};
}

std::int64_t CursorDisplayFrame(std::int64_t cursor, std::int64_t length) { return std::min(length, cursor); }

FrameRange KeepCursorVisible(FrameRange view, std::int64_t cursor, std::int64_t length) {
  const std::int64_t span = view.end - view.start;
  const std::int64_t limit = std::max<std::int64_t>(length, 0);
  if (cursor > view.end) {
    view = {cursor - span, cursor};
  } else if (cursor < view.start) {
    view = {cursor, cursor + span};
  } else {
    return view;
  }
  view.start = std::clamp<std::int64_t>(view.start, 0, limit);
  view.end = std::clamp<std::int64_t>(view.end, 0, limit);
  return view;
}

std::int64_t PositionScrollTarget(PositionScroll action, int position, std::int64_t cursor, std::int32_t rate,
                                  std::int64_t length) {
  const std::int64_t step = 2 * static_cast<std::int64_t>(rate);
  std::int64_t target = cursor;
  switch (action) {
    case PositionScroll::kLineLeft:
    case PositionScroll::kPageLeft:
      target = cursor - step;
      break;
    case PositionScroll::kLineRight:
    case PositionScroll::kPageRight:
      target = cursor + step;
      break;
    case PositionScroll::kThumb:
      target = static_cast<std::int64_t>(static_cast<double>(length * position) * 0.005);
      break;
  }
  return std::clamp<std::int64_t>(target, 0, std::max<std::int64_t>(length, 0));
}

std::int64_t PositionScrollThumb(std::int64_t cursor, std::int64_t length) {
  return length > 0 ? cursor * 201 / length : 0;
}

std::string BookmarkTooltip(const WaveBookmark& bookmark) {
  return bookmark.name + "\r\n" + FormatTimeHundredths(bookmark.position_ms);
}

}  // namespace sonavel
