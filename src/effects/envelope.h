#pragma once
// The drawn volume envelope: its point list, kept in "envelope.dat" in the per-user data
// folder, and the renderer that applies a point list as a gain curve over a range (the
// envelope effect and the fades).
//
// A point (x, y) lies at x / 255 of the range (0 the first frame) with the gain y / 128.
// File: one byte N, then N byte pairs (x, y).

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "effects/effect.h"
#include "platform/progress.h"
#include "store/sound.h"
#include "platform/result.h"

namespace sonavel {

using EnvelopePoints = std::vector<std::pair<std::uint8_t, std::uint8_t>>;

inline constexpr std::size_t kMaxEnvelopePoints = 64;

// Where the point list lives: "envelope.dat" in UserDataFolder().
std::string EnvelopeFilePath();

// A point list file at `path` (one byte N, then N byte pairs): at most 64 points, each x
// raised to at least the previous one. A missing, empty or unreadable file gives the flat
// list {(0, 128), (255, 128)}, which is then written back.
EnvelopePoints LoadPointList(const std::string& path);
// Writes at most 64 points to a temporary file beside `path` and renames it over the old
// one, creating the folder if need be. False (and the old file kept) on failure.
bool SavePointList(const std::string& path, const EnvelopePoints& points);

// The envelope's stored list and its writer (LoadPointList, SavePointList).
EnvelopePoints LoadEnvelopePoints();
bool SaveEnvelopePoints(const EnvelopePoints& points);

// The gain curve of a point list over `length` frames in Q24. The first point counts as
// x = 0; point k lies at frame x × (length / 255) + x × (length mod 255) / 255. Between
// points the gain moves in equal integer steps per frame; reaching a point sets the gain
// to exactly its value, and after the last point it holds.
class EnvelopeRamp {
 public:
  // Needs at least two points.
  EnvelopeRamp(const EnvelopePoints& points, std::int32_t length);

  // Frames until the next point (or the end): a chunk must not be longer.
  std::int32_t Span() const { return target_frame_ - frame_; }
  // Multiplies `frames` frames (at most Span()) of `channels` interleaved samples by the
  // curve: every sample of a frame with the same gain, then the gain takes its step.
  void Apply(std::int32_t* buffer, std::int32_t frames, int channels);

  std::int32_t gain() const { return gain_; }
  std::int32_t frame() const { return frame_; }

  // The frame at which a point with this x lies.
  static std::int32_t PointFrame(std::uint8_t x, std::int32_t length);

 private:
  // Takes the following points once the current one is reached.
  void Advance();

  EnvelopePoints points_;
  std::int32_t length_;
  std::size_t next_ = 1;        // the point being approached
  std::int32_t frame_ = 0;      // the next frame to apply
  std::int32_t target_frame_;   // where the point being approached lies
  std::int32_t gain_;           // applied to the next frame
  std::int32_t target_;         // the gain at target_frame_
};

// Renders `points` as a gain curve over [start, end) of `sound` (progress texts "Envelope",
// "Bitte warten..."). kFailed for fewer than two points, kCancelled with the
// sound untouched, else kDone. With `input` and `output` it streams (RangeStream).
Result RenderEnvelope(Sound& sound, std::int32_t start, std::int32_t end, const EnvelopePoints& points,
                   Progress& progress, SourceRef input = {}, SinkRef output = {});

inline const EnvelopePoints kFadeInPoints{{0, 0}, {255, 128}};
inline const EnvelopePoints kFadeOutPoints{{0, 128}, {255, 0}};

}  // namespace sonavel
