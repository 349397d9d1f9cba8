// One edit pair (DeleteRange, then InsertSound of the removed material at the same place)
// on a sound of one minute and of ten hours, each cut into 1,000 segments. Edits relink
// segments and never touch sample data, so both should cost about the same.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "store/block_table.h"
#include "store/sound.h"

namespace sonavel::bench {

namespace {

constexpr std::int32_t kRate = 44100;
constexpr std::int32_t kSegments = 1000;

// `seconds` of stereo in kSegments equal segments lying back to back in one block. The
// block file is never read, so it is never written either.
Sound SegmentedSound(std::int64_t seconds) {
  Sound sound(kRate, 2);
  const BlockId block = AllocateBlock();
  if (block == kNoBlock) return sound;
  const auto length = static_cast<std::int32_t>(seconds * kRate / kSegments);
  for (std::int32_t i = 0; i < kSegments; ++i)
    AppendSegment(sound, NewSegment(block, length, kUnityGain, i * length));
  ReleaseBlock(block);  // the allocation's own reference: the segments hold the block now
  return sound;
}

// Whether frame f of `sound` is frame f of its block throughout, as it was when built.
bool Contiguous(const Sound& sound) {
  std::int64_t position = 0;
  for (const Segment* g = sound.head; g != nullptr; g = g->next) {
    if (g->length <= 0 || g->offset != position || g->block != sound.head->block) return false;
    position += g->length;
  }
  return true;
}

void BM_EditPair(benchmark::State& state) {
  Sound sound = SegmentedSound(state.range(0));
  if (sound.head == nullptr) {
    state.SkipWithError("no free block id");
    return;
  }
  const BlockId block = sound.head->block;
  const std::int32_t segment = sound.head->length;
  const std::int32_t length = SoundLength(sound);
  // Three segments wide from the middle of segment 500: both ends fall inside segments.
  const std::int32_t start = (kSegments / 2) * segment + segment / 2;
  const std::int32_t end = start + 3 * segment;
  Sound material;
  CopyRange(sound, material, start, end);
  // The first pair splits the two end segments; from then on every pair leaves the same list.
  DeleteRange(sound, start, end);
  InsertSound(sound, start, material);
  const std::int32_t count = SegmentCount(sound);

  for (auto _ : state) {
    DeleteRange(sound, start, end);
    InsertSound(sound, start, material);
  }

  if (SoundLength(sound) != length || SegmentCount(sound) != count || !Contiguous(sound) ||
      BlockRefCount(block) != count + SegmentCount(material)) {
    state.SkipWithError("the edit pair did not restore the sound");
  }
  state.counters["segments"] = count;
}

BENCHMARK(BM_EditPair)
    ->ArgName("seconds")
    ->Arg(60)
    ->Arg(36000)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

}  // namespace sonavel::bench
