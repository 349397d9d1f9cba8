#pragma once
// The markers of a waveform view (cursor, end marker, selection, bookmarks), what the
// mouse does to them, the paint model of a view, and the document window's side of the
// view's notifications. Toolkit-free: the widget feeds mouse events in and draws the
// paint operations out 1:1.
//
// Pixel conventions (see wave_mapping.h): column t is drawn at pixel x = t + 1; pixel 0
// and pixel width + 1 are the left and right border, y = 0 and y = height the top and
// bottom border. Rows and columns of rectangles are half-open: [left, right) × [top, bottom).

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "views/wave_mapping.h"

namespace sonavel {

// Notifications to the owner window: codes 2 … 8 travel as command codes with the view's
// control id, 9 … 11 as messages of their own.
enum class WaveCode : int {
  kReleased = 2,          // mouse released (click or end of drag)
  kBeyondRight = 4,       // mouse dragged beyond the right edge
  kBackFromRight = 5,
  kAtLeft = 6,            // mouse dragged to the left edge
  kBackFromLeft = 7,
  kSelectionChanged = 8,  // during a drag
  kOverBookmark = 9,      // bookmark index, mouse position
  kNoBookmark = 10,
  kBookmarkMoved = 11,    // old frame, new frame
};

struct WaveNotice {
  WaveCode code = WaveCode::kReleased;
  int bookmark = -1;            // 9: index of the bookmark under the mouse
  int x = 0;                    // 9: mouse position
  int y = 0;
  std::int64_t old_frame = 0;   // 11
  std::int64_t new_frame = 0;   // 11
};

enum class WaveCursorShape { kArrow, kResize, kHand };

// A strip of the client area to repaint, half-open.
struct PixelStrip {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
  bool operator==(const PixelStrip&) const = default;
};

struct WaveMouseResult {
  std::vector<WaveNotice> notices;
  WaveCursorShape cursor = WaveCursorShape::kArrow;
  std::vector<PixelStrip> repaint;
};

// A bookmark as the view holds it: the document's name and millisecond position, and the
// position in frames at the sound's rate.
struct WaveBookmark {
  std::string name;
  std::int32_t position_ms = 0;
  std::int64_t frame = 0;
};

inline constexpr int kStripMargin = 4;         // a marker strip is this much wider on both sides
inline constexpr int kBookmarkHitPixels = 4;   // horizontal reach of a bookmark's handle
inline constexpr int kBookmarkHandleHeight = 6;
inline constexpr std::int64_t kEdgeFrames = 6;  // reach of a selection edge

class WaveMarkers {
 public:
  void set_rate(std::int32_t rate) { rate_ = rate; }
  std::int32_t rate() const { return rate_; }

  // Each setter stores the marker and returns the strips to invalidate (old and new
  // place; for the end marker and the selection the whole stretch between them, since
  // every column there changes colour). A strip runs from y = 1 to height inclusive.
  std::vector<PixelStrip> SetCursor(const WaveMapping& mapping, std::int64_t frame, std::int64_t width);
  std::vector<PixelStrip> SetEndMarker(const WaveMapping& mapping, std::int64_t frame);
  std::vector<PixelStrip> SetSelectionStart(const WaveMapping& mapping, std::int64_t frame);
  std::vector<PixelStrip> SetSelectionEnd(const WaveMapping& mapping, std::int64_t frame);
  // Takes the names, millisecond positions and frames as the document places them (a
  // bookmark beyond the sound's end is drawn at the end).
  void SetBookmarks(std::vector<WaveBookmark> bookmarks);

  WaveMouseResult Press(const WaveMapping& mapping, int x, int y, bool shift);
  WaveMouseResult Move(const WaveMapping& mapping, int x, int y, bool shift);
  WaveMouseResult Release(const WaveMapping& mapping, int x, int y, bool shift);
  // After a pure scroll while the mouse is held at an edge: the selection start follows
  // the left edge (state 6), the selection end the right edge (state 4).
  std::vector<PixelStrip> FollowEdge(const WaveMapping& mapping);

  std::int64_t cursor() const { return cursor_; }
  std::int64_t cursor_width() const { return cursor_width_; }
  std::int64_t end_marker() const { return end_marker_; }
  std::int64_t selection_start() const { return selection_start_; }
  std::int64_t selection_end() const { return selection_end_; }
  std::int64_t anchor() const { return anchor_; }
  const std::vector<WaveBookmark>& bookmarks() const { return bookmarks_; }
  int dragged_bookmark() const { return dragged_bookmark_; }
  bool over_bookmark() const { return over_bookmark_; }
  bool near_start_edge() const { return near_start_edge_; }
  bool near_end_edge() const { return near_end_edge_; }
  int edge_state() const { return edge_state_; }
  bool captured() const { return captured_; }

 private:
  enum class Drag { kFree, kStartEdge, kEndEdge };

  int HitBookmark(const WaveMapping& mapping, int x, int y) const;
  void SetSelection(const WaveMapping& mapping, std::int64_t start, std::int64_t end,
                    std::vector<PixelStrip>& strips);

  std::int32_t rate_ = 0;
  std::int64_t cursor_ = 0;
  std::int64_t cursor_width_ = 0;
  std::int64_t end_marker_ = 0;
  std::int64_t selection_start_ = 0;
  std::int64_t selection_end_ = 0;
  std::int64_t anchor_ = 0;
  std::vector<WaveBookmark> bookmarks_;
  int dragged_bookmark_ = -1;
  int hovered_bookmark_ = -1;
  bool over_bookmark_ = false;
  bool near_start_edge_ = false;
  bool near_end_edge_ = false;
  int edge_state_ = 0;  // 0, 4 (held beyond the right edge) or 6 (held at the left edge)
  bool captured_ = false;
  Drag drag_ = Drag::kFree;
  WaveCursorShape shape_ = WaveCursorShape::kArrow;
};

// ---- Paint model ----

// System colours stay symbolic; the widget maps them to its palette.
enum class SystemColour : std::uint8_t { kNone, kButtonFace, kGrayText };

struct WaveColour {
  SystemColour system = SystemColour::kNone;
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  bool operator==(const WaveColour&) const = default;
};

constexpr WaveColour Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return WaveColour{SystemColour::kNone, red, green, blue};
}
inline constexpr WaveColour kButtonFaceColour{SystemColour::kButtonFace};
inline constexpr WaveColour kGrayTextColour{SystemColour::kGrayText};
inline constexpr WaveColour kCursorColour = Rgb(255, 255, 17);
inline constexpr WaveColour kBookmarkColour = Rgb(0, 191, 255);

struct ColumnColourPair {
  WaveColour background;
  WaveColour wave;
  bool operator==(const ColumnColourPair&) const = default;
};

// The colours of column t, by the first matching row of the colour table.
ColumnColourPair ColumnColours(const WaveMapping& mapping, const WaveMarkers& markers, int column);

// The mode a column is computed and drawn in: modes 1 and 2 only for stereo.
int EffectiveDisplayMode(int display_mode, int channels);

// Vertical stretch [top, bottom).
struct WaveSpan {
  int top = 0;
  int bottom = 0;
  bool operator==(const WaveSpan&) const = default;
};

// The wave parts of one column (one in modes 0 and 1, two lanes in mode 2) for a view of
// the given height; mode is the effective mode.
struct ColumnExtents {
  int count = 0;
  std::array<WaveSpan, 2> waves{};
};
ColumnExtents ColumnWaveExtents(int mode, int height, std::uint8_t upper, std::uint8_t lower);

// The pixel x of the cursor line, or -1 when the cursor lies outside the view. On the
// last column the cursor is drawn one column to the left.
int CursorPixel(const WaveMapping& mapping, const WaveMarkers& markers);
// The pixel x of a frame's line when it lies inside the view, else -1.
int MarkerPixel(const WaveMapping& mapping, std::int64_t frame);
// The rows a column at pixel x may paint: [1, height), or less within 4 pixels of the
// cursor, where the column stops short along the sides of the cursor triangles.
WaveSpan ColumnRows(int height, int pixel_x, int cursor_x);

struct PaintPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PaintPoint&) const = default;
};

struct PaintOp {
  enum class Kind { kFill, kLine, kDottedLine, kTriangle };
  Kind kind = Kind::kFill;
  WaveColour colour;
  // kFill: the rectangle [left, right) × [top, bottom). kLine, kDottedLine: from
  // (left, top) to (right, bottom), both ends drawn.
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  std::array<PaintPoint, 3> points{};  // kTriangle, filled
};

std::vector<PaintOp> CursorShapes(int x, int height);
std::vector<PaintOp> BookmarkShapes(int x, int height);
std::vector<PaintOp> BorderLines(int width, int height);

// Everything a paint pass draws, in order: columns first_column … last_column, the lane
// separator in mode 2, the cursor, the bookmarks inside the view and the border.
// upper and lower hold the column bytes (at least last_column + 1 of each).
std::vector<PaintOp> PaintWave(const WaveMapping& mapping, const WaveMarkers& markers,
                               std::span<const std::uint8_t> upper, std::span<const std::uint8_t> lower,
                               int display_mode, int channels, int first_column, int last_column);

// ---- The document window's side ----

struct FrameRange {
  std::int64_t start = 0;
  std::int64_t end = 0;
  bool operator==(const FrameRange&) const = default;
};

// The view's selection as the document takes it on codes 2 and 8: ordered and clamped
// to 0 … length.
FrameRange DocumentSelection(const WaveMarkers& markers, std::int64_t length);
// Where the cursor display goes on code 2 while nothing plays.
std::int64_t CursorDisplayFrame(std::int64_t cursor, std::int64_t length);
// The visible range after a cursor update: a cursor beyond the end pins it to the right
// edge, one before the start to the left edge; the span stays, each end within 0 … length.
FrameRange KeepCursorVisible(FrameRange view, std::int64_t cursor, std::int64_t length);

inline constexpr int kPositionScrollMax = 200;
enum class PositionScroll { kLineLeft, kLineRight, kPageLeft, kPageRight, kThumb };
// The new cursor for a scroll bar action (position: the thumb's, for kThumb).
std::int64_t PositionScrollTarget(PositionScroll action, int position, std::int64_t cursor,
                                  std::int32_t rate, std::int64_t length);
// The thumb for a cursor.
std::int64_t PositionScrollThumb(std::int64_t cursor, std::int64_t length);

inline constexpr int kBookmarkTooltipRise = 40;  // pixels above the mouse
// "%s\r\n%s": the name, then the position in the long time form.
std::string BookmarkTooltip(const WaveBookmark& bookmark);

}  // namespace sonavel
