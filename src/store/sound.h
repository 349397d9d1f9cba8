#pragma once
// Sounds as segment lists. A Sound is a rate, a channel count and a singly linked list
// of segments, each naming a stretch of one block file (or silence) with a gain. Edits
// split, copy and relink segments; they never touch sample data, so they cost time in
// proportion to the number of segments, not frames.

#include <cstdint>
#include <utility>
#include <vector>

#include "store/block_table.h"

namespace sonavel {

inline constexpr std::int32_t kUnityGain = 0x1000000;  // 2^24
inline constexpr std::int32_t kMaxGain = 0x7FFFFFFF;

struct Segment {
  Segment* next = nullptr;
  BlockId block = kNoBlock;  // kNoBlock: silence
  std::int32_t length = 0;   // frames
  std::int32_t gain = kUnityGain;
  std::int32_t offset = 0;   // first frame within the block file
};

// Owns its segments; every segment on a block holds one reference of that block.
// Sounds are moved, never copied implicitly: CopySound shares the blocks explicitly.
class Sound {
 public:
  Sound() = default;
  Sound(std::int32_t sample_rate, std::uint8_t channel_count)
      : rate(sample_rate), channels(channel_count) {}
  ~Sound();
  Sound(Sound&& other) noexcept;
  Sound& operator=(Sound&& other) noexcept;
  Sound(const Sound&) = delete;
  Sound& operator=(const Sound&) = delete;

  std::int32_t rate = 44100;
  std::uint8_t channels = 1;
  Segment* head = nullptr;
};

// A new segment record; adds a block reference unless it is silence.
Segment* NewSegment(BlockId block, std::int32_t length, std::int32_t gain, std::int32_t offset);
// A copy of one record (not linked); adds a block reference.
Segment* CopySegment(const Segment& from);
// Appends `segment` at the tail (its next is cleared first).
void AppendSegment(Sound& s, Segment* segment);
// Links `segment` before `before`; at the head when `before` is the head or null.
void InsertSegmentBefore(Sound& s, Segment* before, Segment* segment);
std::int32_t SegmentCount(const Sound& s);

// Sum of the segment lengths (at most 2^31 - 1).
std::int32_t SoundLength(const Sound& s);
// Frees every segment, releasing its block; s becomes empty.
void FreeSegments(Sound& s);
// `to` becomes a copy of `from`: its format and every segment (sharing the blocks).
void CopySound(const Sound& from, Sound& to);

// Removes frames [start, end). start > end or end < 0 does nothing; start < 0 counts as 0;
// a range past the end removes the tail.
void DeleteRange(Sound& s, std::int32_t start, std::int32_t end);
// `to` becomes frames [start, end) of `from`, with silence where the range lies outside it.
void CopyRange(const Sound& from, Sound& to, std::int32_t start, std::int32_t end);
void CutRange(Sound& from, Sound& to, std::int32_t start, std::int32_t end);
// Inserts copies of other's segments so that they begin at frame `at`; past the end a
// silence gap fills the distance. A negative `at` inserts other, then -at frames of
// silence, at the start.
void InsertSound(Sound& s, std::int32_t at, const Sound& other);
void ReplaceRange(Sound& s, std::int32_t start, std::int32_t end, const Sound& other);
// Replaces many short ranges at once in one pass over both lists: `ranges` are ascending,
// non-overlapping [start, end) pairs within `s`, and `pieces` holds their new frames one
// range after another. Ranges out of order or outside the sound are skipped.
void ReplaceRanges(Sound& s, const std::vector<std::pair<std::int32_t, std::int32_t>>& ranges, const Sound& pieces);
// Inserts `count` frames of silence at `at` (past the end: the gap is silence too).
void InsertSilence(Sound& s, std::int32_t count, std::int32_t at);
void CropRange(Sound& s, std::int32_t start, std::int32_t end);
void TrimStart(Sound& s, std::int32_t frames);
void TrimEnd(Sound& s, std::int32_t frame);
// Inserts `times` further copies of [start, end) at start; a reversed range does nothing.
void RepeatRange(Sound& s, std::int32_t times, std::int32_t start, std::int32_t end);
// Multiplies every gain by percent / 100, saturating at kMaxGain.
void ScaleGain(Sound& s, std::int32_t percent);
// ScaleGain on [start, end) only; the range is limited to the sound.
void ChangeRangeVolume(Sound& s, std::int32_t percent, std::int32_t start, std::int32_t end);

}  // namespace sonavel
