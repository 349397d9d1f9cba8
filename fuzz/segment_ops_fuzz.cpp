// Range edits on segment lists, driven by the input bytes. Two mutable sounds start as
// copies of two tiny base sounds whose blocks are written with a block writer; after each
// edit the lists must be sane, the lengths must be what the edit documents, and every
// block counter must equal the number of segments on that block across all live sounds.
// At the end of an input everything is freed: no counter may stay raised and no block
// file may remain.
//
// Each operation takes four bytes, a code byte and three parameter bytes p1 p2 p3 (used
// or not):
//   code bits 0-3  operation, modulo 12: DeleteRange, CopyRange, CutRange, InsertSound,
//                  ReplaceRange, InsertSilence, CropRange, TrimStart, TrimEnd,
//                  RepeatRange, ScaleGain, ChangeRangeVolume
//   code bit 4     the edited sound: s or t
//   code bits 5-6  the other sound: s, t, base a or base b (the bases are never edited)
// A parameter byte b gives the value b % 64 - 16, so positions run from before the start
// to well past the end; counts of RepeatRange are p1 % 4 and percentages come from a
// table. SEGMENT_OPS_TRACE=1 prints the operations as they run.

#include <stdlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/sound.h"

namespace {

using namespace sonavel;

constexpr std::int32_t kBaseFrames[2] = {24, 7};
constexpr std::int64_t kMaxSegments = 2000;  // beyond this an input stops: edits stay cheap
constexpr std::int32_t kPercents[16] = {
    0, 1, 33, 50, 99, 100, 101, 150, 200, 400, 1000, -50, -100, 0x7FFFFFFF, -0x7FFFFFFF - 1, 3};
bool trace = false;

// Prints one operation when SEGMENT_OPS_TRACE is set.
__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
  if (!trace) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

void RemoveWorkingFolder() {
  CleanWorkingFolder();
  std::error_code ignored;
  std::filesystem::remove_all(WorkingFolder(), ignored);
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "segment_ops_fuzz: %s\n", what);
  RemoveWorkingFolder();  // the crash ends the process without running exit handlers
  __builtin_trap();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::int32_t Parameter() { return Byte() % 64 - 16; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

Sound WriteBase(std::int32_t frames, std::int32_t first_sample) {
  std::vector<std::int32_t> samples(frames);
  std::iota(samples.begin(), samples.end(), first_sample);
  Sound sound(44100, 1);
  {
    SinkRef writer = CreateBlockWriter(sound, 44100, 1);
    writer->Write(samples.data(), frames);
  }
  return sound;
}

std::vector<std::string> BlockFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(WorkingFolder())) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".aud" || extension == ".grf") names.push_back(entry.path().filename());
  }
  return names;
}

struct World {
  Sound base[2];
  BlockId block[2];
  Sound s;
  Sound t;

  // Checks every live list and the block counters; returns the number of segments.
  std::int64_t CheckInvariants() const {
    std::int64_t on_block[2] = {0, 0};
    std::int64_t segments = 0;
    for (const Sound* sound : {&base[0], &base[1], &s, &t}) {
      std::int64_t sum = 0;
      std::int64_t count = 0;
      for (const Segment* g = sound->head; g != nullptr; g = g->next) {
        Check(++count <= 100 * kMaxSegments, "segment list does not end");
        Check(g->length >= 0, "segment with a negative length");
        sum += g->length;
        if (g->block == kNoBlock) continue;
        const int which = g->block == block[0] ? 0 : g->block == block[1] ? 1 : -1;
        Check(which >= 0, "segment on a block that is not a base block");
        Check(g->offset >= 0 && std::int64_t{g->offset} + g->length <= kBaseFrames[which],
              "segment reaches outside its block");
        ++on_block[which];
      }
      Check(SoundLength(*sound) == sum, "SoundLength is not the sum of the segment lengths");
      Check(SegmentCount(*sound) == count, "SegmentCount is not the number of segments");
      segments += count;
    }
    for (int i = 0; i < 2; ++i)
      Check(SegmentCount(base[i]) == 1 && SoundLength(base[i]) == kBaseFrames[i],
            "a base sound changed");
    for (int i = 0; i < 2; ++i)
      Check(BlockRefCount(block[i]) == on_block[i],
            "block counter differs from the segments on the block");
    return segments;
  }
};

// Lengths the documented semantics give; kOpen where they leave the length open.
constexpr std::int64_t kOpen = -1;

std::int64_t AfterDelete(std::int64_t length, std::int64_t start, std::int64_t end) {
  if (start > end || end < 0) return length;
  start = std::clamp<std::int64_t>(start, 0, length);
  return length - std::max<std::int64_t>(0, std::min(end, length) - start);
}

std::int64_t AfterInsert(std::int64_t length, std::int64_t at, std::int64_t inserted) {
  return at < 0 ? length + inserted - at : std::max(length, at) + inserted;
}

// Runs one operation and checks the lengths it leaves; returns false when the input has
// no operation left.
bool RunOperation(Input& in, World& w) {
  if (in.empty()) return false;
  const std::uint8_t code = in.Byte();
  const int operation = (code & 0x0F) % 12;
  Sound& target = (code & 0x10) != 0 ? w.t : w.s;
  Sound& sibling = &target == &w.s ? w.t : w.s;
  const int other_index = (code >> 5) & 3;
  const Sound* others[4] = {&w.s, &w.t, &w.base[0], &w.base[1]};
  const Sound& other = *others[other_index];
  // What a cut moves to: the other sound when it is s or t, else the sibling.
  Sound& destination = other_index == 0 ? w.s : other_index == 1 ? w.t : sibling;
  const std::int32_t p1 = in.Parameter();
  const std::int32_t p2 = in.Parameter();
  const std::int32_t p3 = in.Parameter();
  const std::int32_t percent = kPercents[(p1 + 16) & 15];
  const std::int32_t times = p1 % 4;

  const char* names[4] = {"s", "t", "base a", "base b"};
  const char* t = names[&target == &w.s ? 0 : 1];
  const char* o = names[other_index];
  const char* d = names[&destination == &w.s ? 0 : 1];

  const std::int64_t length = SoundLength(target);
  const std::int64_t other_length = SoundLength(other);
  std::int64_t expected = kOpen;
  std::int64_t expected_sibling = SoundLength(sibling);  // untouched unless it is edited too
  switch (operation) {
    case 0:
      Trace("DeleteRange(%s, %d, %d)", t, p1, p2);
      DeleteRange(target, p1, p2);
      expected = AfterDelete(length, p1, p2);
      break;
    case 1:
      Trace("CopyRange(from %s, to %s, %d, %d)", o, t, p1, p2);
      CopyRange(other, target, p1, p2);
      if (&other != &target && p1 <= p2) expected = p2 - p1;
      break;
    case 2:
      Trace("CutRange(from %s, to %s, %d, %d)", t, d, p1, p2);
      CutRange(target, destination, p1, p2);
      if (&destination != &target) {
        expected = AfterDelete(length, p1, p2);
        expected_sibling = p1 <= p2 ? p2 - p1 : kOpen;
      }
      break;
    case 3:
      Trace("InsertSound(%s, at %d, %s)", t, p1, o);
      InsertSound(target, p1, other);
      expected = AfterInsert(length, p1, other_length);
      break;
    case 4: {
      Trace("ReplaceRange(%s, %d, %d, %s)", t, p1, p2, o);
      ReplaceRange(target, p1, p2, other);
      const std::int64_t kept = AfterDelete(length, p1, p2);
      expected = AfterInsert(kept, p1, &other == &target ? kept : other_length);
      break;
    }
    case 5:
      Trace("InsertSilence(%s, count %d, at %d)", t, p1, p2);
      InsertSilence(target, p1, p2);
      if (p1 >= 0 && p2 >= 0) expected = std::max<std::int64_t>(length, p2) + p1;
      break;
    case 6:
      Trace("CropRange(%s, %d, %d)", t, p1, p2);
      CropRange(target, p1, p2);
      break;
    case 7:
      Trace("TrimStart(%s, %d)", t, p1);
      TrimStart(target, p1);
      if (p1 >= 0) expected = AfterDelete(length, 0, p1);
      break;
    case 8:
      Trace("TrimEnd(%s, %d)", t, p1);
      TrimEnd(target, p1);
      if (p1 >= 0) expected = std::min<std::int64_t>(length, p1);
      break;
    case 9:
      Trace("RepeatRange(%s, times %d, %d, %d)", t, times, p2, p3);
      RepeatRange(target, times, p2, p3);
      // The copies go in together: a negative start puts its silence in front once.
      expected =
          times <= 0 || p2 > p3 ? length : AfterInsert(length, p2, std::int64_t{times} * (p3 - p2));
      break;
    case 10:
      Trace("ScaleGain(%s, %d%%)", t, percent);
      ScaleGain(target, percent);
      expected = length;
      break;
    case 11:
      Trace("ChangeRangeVolume(%s, %d%%, %d, %d)", t, percent, p2, p3);
      ChangeRangeVolume(target, percent, p2, p3);
      expected = length;
      break;
  }
  Check(expected == kOpen || SoundLength(target) == expected, "wrong length after the edit");
  Check(expected_sibling == kOpen || SoundLength(sibling) == expected_sibling,
        "wrong length of the second sound after the edit");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  trace = std::getenv("SEGMENT_OPS_TRACE") != nullptr;
  std::string folder = JoinPath(TempFolder(), "sonavel-fuzz-XXXXXX");
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("segment_ops_fuzz: cannot create a working folder");
    std::exit(1);
  }
  SetWorkingFolder(folder);
  std::atexit(RemoveWorkingFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    World w;
    for (int i = 0; i < 2; ++i) {
      w.base[i] = WriteBase(kBaseFrames[i], (i + 1) * 1000);
      Check(w.base[i].head != nullptr && w.base[i].head->block != kNoBlock &&
                SoundLength(w.base[i]) == kBaseFrames[i],
            "a base block was not written");
      w.block[i] = w.base[i].head->block;
    }
    // Every earlier input freed its blocks, so the bases get the two lowest ids.
    Check(w.block[0] == 0 && w.block[1] == 1, "a block of an earlier input is still held");
    CopySound(w.base[0], w.s);
    CopySound(w.base[1], w.t);

    Input in(data, size);
    while (w.CheckInvariants() <= kMaxSegments && RunOperation(in, w)) {
    }

    FreeSegments(w.s);
    FreeSegments(w.t);
    w.CheckInvariants();
    Check(BlockFiles().size() == 4, "block files other than the bases' remain");
  }
  for (std::uint32_t id = 0; id < 64; ++id)
    Check(BlockRefCount(static_cast<BlockId>(id)) == 0, "a block counter stays raised");
  Check(BlockFiles().empty(), "block files remain after everything was freed");
  return 0;
}
