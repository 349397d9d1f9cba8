#include "effects/silence.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "effects/dsp/fixed_point.h"
#include "effects/effect_groups.h"
#include "platform/file.h"
#include "platform/settings.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"

namespace sonavel {
namespace {

// A sample's peak byte: its magnitude >> 11, limited to 255 (the peak files' scale).
std::uint8_t PeakByte(std::int64_t magnitude) {
  return static_cast<std::uint8_t>(std::min<std::int64_t>(255, magnitude >> 11));
}

// Reads `count` entries of the segment's peak file from the entry that holds its first
// frame. False when the file cannot be opened or lacks an entry of the segment's frames.
bool ReadSegmentPeaks(const Segment& segment, std::uint8_t channels, std::int64_t count,
                      std::vector<std::uint8_t>& bytes) {
  File file;
  if (!file.Open(BlockPeakPath(segment.block), File::Mode::kRead)) return false;
  const std::int64_t entry_bytes = std::int64_t{channels} * 2;
  const std::int64_t first = segment.offset / kPeakRunFrames;
  const std::int64_t needed = (std::int64_t{segment.offset} + segment.length - 1) / kPeakRunFrames - first + 1;
  if (!file.Seek(first * entry_bytes)) return false;
  bytes.assign(static_cast<std::size_t>(count * entry_bytes), 0);
  const std::size_t got = file.Read(bytes.data(), bytes.size());
  return static_cast<std::int64_t>(got) >= std::min(count, needed) * entry_bytes;
}

// The peaks of one segment measured from its samples (with its gain), folded into the map
// entries of frames [position, position + length).
void MeasureSegment(const Sound& sound, const Segment& segment, std::int64_t position,
                    std::vector<std::uint8_t>& map) {
  Sound alone(sound.rate, sound.channels);
  AppendSegment(alone, CopySegment(segment));
  SourceRef reader = OpenSoundReader(alone);
  const std::size_t channels = sound.channels;
  std::vector<std::int32_t> buffer(static_cast<std::size_t>(kChunkFrames) * channels);
  for (std::int32_t done = 0; done < segment.length;) {
    const std::int32_t n = std::min(kChunkFrames, segment.length - done);
    reader->Read(buffer.data(), n);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::size_t entry = static_cast<std::size_t>((position + done + i) / kPeakRunFrames) * channels * 2;
      for (std::size_t c = 0; c < channels; ++c) {
        const std::int64_t sample = buffer[static_cast<std::size_t>(i) * channels + c];
        std::uint8_t& high = map[entry + 2 * c];
        std::uint8_t& low = map[entry + 2 * c + 1];
        high = std::max(high, PeakByte(std::max<std::int64_t>(sample, 0)));
        low = std::max(low, PeakByte(std::max<std::int64_t>(-sample, 0)));
      }
    }
    done += n;
  }
}

}  // namespace

std::vector<std::uint8_t> BuildPeakMap(const Sound& sound) {
  const std::int64_t entries = SoundLength(sound) / kPeakRunFrames + 1;
  const std::int64_t entry_bytes = std::int64_t{sound.channels} * 2;
  std::vector<std::uint8_t> map(static_cast<std::size_t>(entries * entry_bytes), 0);
  std::vector<std::uint8_t> bytes;
  std::int64_t position = 0;
  for (const Segment* segment = sound.head; segment != nullptr; position += segment->length, segment = segment->next) {
    if (segment->block == kNoBlock || segment->length <= 0) continue;
    const std::int64_t first = position / kPeakRunFrames;
    const std::int64_t count = std::min<std::int64_t>((position + segment->length + 255) / kPeakRunFrames, entries) - first;
    if (count <= 0) continue;
    if (!ReadSegmentPeaks(*segment, sound.channels, count, bytes)) {
      MeasureSegment(sound, *segment, position, map);
      continue;
    }
    // The gain in 1/256 units.
    const std::int64_t factor = segment->gain >> 16;
    std::uint8_t* target = map.data() + first * entry_bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
      target[i] = std::max(target[i], static_cast<std::uint8_t>(std::min<std::int64_t>(255, (bytes[i] * factor) >> 8)));
  }
  return map;
}

LoudRange TrimRange(const std::vector<std::uint8_t>& peak_map, std::uint8_t channels, std::int32_t length,
                     int threshold_db) {
  const LoudRange whole{0, length};
  if (channels == 0 || peak_map.empty()) return whole;
  const std::int64_t loudest = *std::max_element(peak_map.begin(), peak_map.end());
  // Wide: the loudest byte times a gain of up to 2^31.
  const std::int64_t floor =
      loudest * DecibelToQ24(std::clamp(threshold_db, kLowestTrimThreshold, kHighestTrimThreshold)) / kQ24Unity;
  // Entries count one per channel and block.
  const std::int64_t entries = static_cast<std::int64_t>(peak_map.size() / 2);
  auto loud = [&](std::int64_t i) { return peak_map[2 * i] > floor || peak_map[2 * i + 1] > floor; };
  LoudRange kept = whole;
  for (std::int64_t i = channels; i < entries; ++i) {
    if (loud(i)) {
      kept.start = static_cast<std::int32_t>((i / channels - 1) * kPeakRunFrames);
      break;
    }
  }
  for (std::int64_t i = entries - 2 * std::int64_t{channels}; i >= 1; --i) {
    if (loud(i)) {
      kept.end = static_cast<std::int32_t>(std::min<std::int64_t>((i / channels + 1) * kPeakRunFrames, length));
      break;
    }
  }
  // Loud entries only where one scan cannot see them (the second channel of block 0 and
  // the last partial block) would cross the two bounds and delete everything: keep all.
  if (kept.start >= kept.end) return whole;
  return kept;
}

std::int32_t SplitBlockFrames(std::int32_t rate) { return std::clamp(rate / 20, 20, 8192); }

std::int64_t SplitThreshold(int threshold_db) {
  return static_cast<std::int64_t>(std::pow(10.0, threshold_db / 20.0) * 131072.0);
}

std::optional<std::vector<LoudRange>> FindLoudRanges(SampleSource& reader, std::int32_t length, int threshold_db,
                                                      std::int32_t duration_ms, Progress& progress) {
  const std::int64_t block = SplitBlockFrames(reader.rate);
  const std::int64_t threshold = SplitThreshold(threshold_db);
  // Milliseconds to frames as the effects convert them, kept wide for any duration.
  const std::int64_t rate = reader.rate;
  const std::int64_t minimum_quiet = rate * (duration_ms / 1000) + rate * (duration_ms % 1000) / 1000;
  const std::size_t samples = static_cast<std::size_t>(block) * reader.channels;
  std::vector<std::int32_t> buffer(samples);
  std::vector<LoudRange> ranges;
  bool inside = false;
  std::int64_t start = 0;
  std::int64_t last = 0;
  auto close = [&] {
    const std::int64_t end = std::min<std::int64_t>(last + 2 * block, length);
    if (start < end) ranges.push_back({static_cast<std::int32_t>(start), static_cast<std::int32_t>(end)});
    inside = false;
  };
  // The window is pumped about once per 8192 frames.
  const std::int64_t blocks_per_pump = std::max<std::int64_t>(1, kChunkFrames / block);
  std::int64_t blocks = 0;
  for (std::int64_t position = 0; position < length; position += block) {
    if (blocks++ % blocks_per_pump == 0) {
      if (progress.Pump()) return std::nullopt;
      progress.SetFraction(static_cast<double>(position) / length);
    }
    reader.Read(buffer.data(), static_cast<std::int32_t>(block));
    std::int32_t high = 0;
    std::int32_t low = 0;
    for (std::size_t i = 0; i < samples; ++i) {
      high = std::max(high, buffer[i]);
      low = std::min(low, buffer[i]);
    }
    const std::int64_t peak = std::max<std::int64_t>(high, -std::int64_t{low});
    if (!inside) {
      if (peak > threshold) {
        inside = true;
        start = std::max<std::int64_t>(0, position - block / 2);
        last = position;
      }
    } else if (peak > threshold) {
      last = position;
    } else if (position - last >= minimum_quiet) {
      close();
    }
  }
  if (inside) close();
  progress.SetFraction(1.0);
  return ranges;
}

const EffectDefinition& AutoSplitDefinition() {
  static const EffectDefinition definition = [] {
    EffectDefinition effect;
    effect.command_id = kAutoSplitCommand;
    effect.undo_name = "Auto Split";
    effect.progress_title = kAutoSplitTitle;
    EffectParameter threshold{.name = "Threshold", .key = "AutoSplit", .fallback = "-36", .label = "Schwellenwert",
                              .id = 101, .lowest = -127, .highest = 12, .clamps_stored = true,
                              .kind = EffectFieldKind::kDecibels, .control_lowest = -96, .control_highest = 12};
    EffectParameter duration{.name = "Duration", .key = "AutoSplit", .fallback = "0",
                             .label = "Minimale Länge der Stille (ms)", .id = 102, .lowest = 0,
                             .too_low = "Die gewählte Stille (Länge) ist nicht gültig. Bitte versuchen Sie es erneut."};
    effect.parameters = {threshold, duration};
    effect.has_dialog = true;
    return effect;
  }();
  return definition;
}

std::string RegionDocumentPath(const std::string& path, int index) {
  const std::size_t folder_end = path.find_last_of("/\\");
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (folder_end != std::string::npos && dot < folder_end)) dot = path.size();
  return path.substr(0, dot) + " (" + std::to_string(index) + ")" + path.substr(dot);
}

namespace {

// Cuts the quiet ends of the whole sound, whatever is selected; afterwards the cursor is at
// frame 0 and the whole sound is shown.
Result AutoTrim(EffectRun& run) {
  run.progress.SetTexts("AutoTrim", "Bitte warten...");
  const std::int32_t length = SoundLength(run.sound);
  const LoudRange kept = TrimRange(BuildPeakMap(run.sound), run.sound.channels, length,
                                    ValueInt(run.values, std::string(setting::kAutoTrimThreshold.name)));
  DeleteRange(run.sound, kept.end, length);
  DeleteRange(run.sound, 0, kept.start);
  run.cursor = 0;
  run.selection_start = 0;
  run.selection_end = 0;
  run.show_all = true;
  return kDone;
}

}  // namespace

void AddSilenceEffects(std::vector<EffectDefinition>& effects) {
  EffectDefinition effect;
  effect.command_id = kAutoTrimCommand;
  effect.undo_name = "Automatisches Trimmen";
  effect.progress_title = "AutoTrim";
  // The threshold is the options' setting: read (limited to a decibel byte), never written.
  EffectParameter threshold{.name = std::string(setting::kAutoTrimThreshold.name),
                            .key = std::string(setting::kAutoTrimThreshold.group),
                            .fallback = std::to_string(setting::kAutoTrimThreshold.fallback),
                            .label = "Schwellenwert", .lowest = kLowestTrimThreshold,
                            .highest = kHighestTrimThreshold, .clamps_stored = true};
  effect.parameters = {threshold};
  effect.remembers = false;
  effect.lead_in_ms = -1;  // no lead-in: the cursor stays at frame 0
  effect.run = AutoTrim;
  effects.push_back(std::move(effect));
}

}  // namespace sonavel
