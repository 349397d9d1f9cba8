#pragma once
// Finding the quiet parts of a sound. Automatic trimming cuts quiet audio from both ends of
// the whole sound, judged from the blocks' peak files alone; automatic splitting finds the
// loud stretches between silences of a minimum length, which the editor opens as
// documents of their own.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "effects/effect.h"
#include "platform/progress.h"
#include "store/sound.h"
#include "store/stream.h"

namespace sonavel {

inline constexpr int kAutoTrimCommand = 2013;
inline constexpr int kAutoSplitCommand = 2034;
inline constexpr int kLowestTrimThreshold = -127;
inline constexpr int kHighestTrimThreshold = 127;

// The peak map of the whole sound: (length / 256 + 1) entries per channel, entry
// (block × channels + channel) holding the positive and the negative peak byte of frames
// [256 × block, 256 × block + 256), scaled by the segment's gain and zero for silence. The
// entries come from the blocks' peak files; a block whose peak file cannot be read is
// measured from its samples instead, so that real audio is never taken for silence. Where
// two segments meet inside one entry it keeps the larger bytes.
std::vector<std::uint8_t> BuildPeakMap(const Sound& sound);

struct LoudRange {
  std::int32_t start = 0;
  std::int32_t end = 0;
  bool operator==(const LoudRange&) const = default;
};

// What automatic trimming keeps of a sound of `length` frames, from its peak map and a
// threshold in dB (limited to -127 … 127): from one block before the first loud entry
// (looking from block 1 on) to one block after the last (looking from the last whole
// block back). Without any loud entry the whole sound is kept.
LoudRange TrimRange(const std::vector<std::uint8_t>& peak_map, std::uint8_t channels, std::int32_t length,
                     int threshold_db);

// The loud stretches of `reader` (positioned at frame 0, `length` frames), in order: a
// stretch begins half a block before the first block whose peak exceeds the threshold and
// ends two blocks after the last loud block once at least `duration_ms` of quiet blocks
// followed it. nullopt when the user cancelled.
std::optional<std::vector<LoudRange>> FindLoudRanges(SampleSource& reader, std::int32_t length, int threshold_db,
                                                      std::int32_t duration_ms, Progress& progress);

// The block automatic splitting measures: rate / 20 frames, limited to 20 … 8192.
std::int32_t SplitBlockFrames(std::int32_t rate);
// The peak a block must exceed to be loud: 10^(dB / 20) × 2^17, truncated.
std::int64_t SplitThreshold(int threshold_db);

// Automatic splitting's stored values (key "AutoSplit": "Threshold" in dB, "Duration" in
// ms) with their dialog, and its checks. Not a catalogue entry: it changes no sound.
const EffectDefinition& AutoSplitDefinition();
inline constexpr char kAutoSplitTitle[] = "Auto Split Komplett";
inline constexpr char kInvalidSilenceCaption[] = "Ungültige Länge (Stille)";

// The name of region `index` of the document at `path`: "%s (%d)%s" from the path without
// its extension, the index and the extension ("/a/song.wav", 2 → "/a/song (2).wav").
std::string RegionDocumentPath(const std::string& path, int index);

}  // namespace sonavel
