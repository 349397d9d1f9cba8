#include <gtest/gtest.h>

#include <numeric>

#include "store_fixture.h"

namespace sonavel {
namespace {

using testing::HeldBlocks;
using testing::RampSound;
using testing::ReadAll;
using testing::Segments;
using testing::SegmentView;
using testing::StoreTest;

class SoundTest : public StoreTest {
 protected:
  void TearDown() override {
    ExpectNoLeak();
    StoreTest::TearDown();
  }
};

std::vector<std::int32_t> Ramp(std::int32_t from, std::int32_t to, std::int32_t base = 1000) {
  std::vector<std::int32_t> out;
  for (std::int32_t i = from; i < to; ++i) out.push_back(base + i);
  return out;
}

std::vector<std::int32_t> Concat(std::initializer_list<std::vector<std::int32_t>> parts) {
  std::vector<std::int32_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<std::int32_t> Zeros(std::int32_t n) { return std::vector<std::int32_t>(n, 0); }

TEST_F(SoundTest, DeleteInsideOneSegmentSplitsItOnTheSameBlock) {
  {
    Sound s = RampSound(100);
    BlockId id = s.head->block;
    EXPECT_EQ(BlockRefCount(id), 1);
    DeleteRange(s, 10, 20);
    EXPECT_EQ(Segments(s), (std::vector<SegmentView>{{id, 10, kUnityGain, 0},
                                                     {id, 80, kUnityGain, 20}}));
    EXPECT_EQ(BlockRefCount(id), 2);
    EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(20, 100)}));
  }
}

TEST_F(SoundTest, DeleteRangeEdges) {
  Sound s = RampSound(100);
  DeleteRange(s, 30, 30);  // empty range
  EXPECT_EQ(Segments(s).size(), 1u);
  DeleteRange(s, 40, 30);  // reversed
  DeleteRange(s, -10, -1);  // wholly before the start
  EXPECT_EQ(ReadAll(s), Ramp(0, 100));
  DeleteRange(s, -10, 5);  // start clamps to 0
  EXPECT_EQ(ReadAll(s), Ramp(5, 100));
  DeleteRange(s, 90, 1000);  // past the end: the tail from start
  EXPECT_EQ(ReadAll(s), Ramp(5, 95));
  DeleteRange(s, 0, 5);  // the head of a segment
  EXPECT_EQ(Segments(s), (std::vector<SegmentView>{{s.head->block, 85, kUnityGain, 10}}));
  DeleteRange(s, 0, 85);  // everything
  EXPECT_EQ(s.head, nullptr);
  EXPECT_EQ(SoundLength(s), 0);
}

TEST_F(SoundTest, DeleteAcrossSegmentsRemovesWholeOnesAndShortensTheEnds) {
  Sound s = RampSound(30);
  Sound b = RampSound(30, 5000);
  Sound c = RampSound(30, 9000);
  InsertSound(s, 30, b);
  InsertSound(s, 60, c);
  ASSERT_EQ(Segments(s).size(), 3u);
  DeleteRange(s, 25, 65);
  EXPECT_EQ(Segments(s).size(), 2u);  // the middle segment went away whole
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 25), Ramp(5, 30, 9000)}));
  EXPECT_EQ(BlockRefCount(b.head->block), 1);
  // Ending exactly at a segment boundary.
  DeleteRange(s, 0, 25);
  EXPECT_EQ(ReadAll(s), Ramp(5, 30, 9000));
}

TEST_F(SoundTest, CopyRangePadsWithSilenceOnBothSides) {
  Sound s = RampSound(3);
  Sound to(8000, 2);
  CopyRange(s, to, -5, 5);
  EXPECT_EQ(to.rate, 44100);
  EXPECT_EQ(to.channels, 1);
  EXPECT_EQ(SoundLength(to), 10);
  EXPECT_EQ(ReadAll(to), Concat({Zeros(5), Ramp(0, 3), Zeros(2)}));
  Sound kept = RampSound(4);
  CopyRange(s, kept, 3, 1);  // reversed: `to` stays as it was
  EXPECT_EQ(ReadAll(kept), Ramp(0, 4));
  CopyRange(s, kept, 1, 2);
  EXPECT_EQ(ReadAll(kept), Ramp(1, 2));
}

TEST_F(SoundTest, CutRangeMovesTheFrames) {
  Sound s = RampSound(50);
  Sound clip;
  CutRange(s, clip, 10, 20);
  EXPECT_EQ(ReadAll(clip), Ramp(10, 20));
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(20, 50)}));
}

TEST_F(SoundTest, InsertSilenceInsideAtTheStartAndPastTheEnd) {
  Sound s = RampSound(30);
  InsertSilence(s, 10, 50);  // 20 frames of gap + 10
  EXPECT_EQ(Segments(s).back(), (SegmentView{kNoBlock, 30, kUnityGain, 0}));
  EXPECT_EQ(SoundLength(s), 60);

  Sound t = RampSound(30);
  InsertSilence(t, 10, -4);  // only the 6 frames from 0 on
  EXPECT_EQ(ReadAll(t), Concat({Zeros(6), Ramp(0, 30)}));
  InsertSilence(t, 3, -4);  // wholly before frame 0
  EXPECT_EQ(SoundLength(t), 36);
  InsertSilence(t, -3, 10);  // a negative count inserts nothing
  EXPECT_EQ(SoundLength(t), 36);
  InsertSilence(t, 2, 16);
  EXPECT_EQ(ReadAll(t), Concat({Zeros(6), Ramp(0, 10), Zeros(2), Ramp(10, 30)}));

  Sound empty;
  InsertSilence(empty, 5, 3);
  EXPECT_EQ(SoundLength(empty), 8);

  Sound z = RampSound(30);
  InsertSilence(z, 0, 10);  // nothing to insert: not even an empty segment
  InsertSilence(z, 0, 30);
  EXPECT_EQ(Segments(z).size(), 1u);
  InsertSilence(z, 0, 40);  // but the gap to a point past the end is filled
  EXPECT_EQ(Segments(z).back(), (SegmentView{kNoBlock, 10, kUnityGain, 0}));
}

TEST_F(SoundTest, InsertSoundAtTheEndAppendsAndPastItLeavesASilenceGap) {
  Sound other = RampSound(5, 7000);
  Sound s = RampSound(10);
  InsertSound(s, 10, other);
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(0, 5, 7000)}));
  EXPECT_EQ(Segments(s).size(), 2u);

  Sound t = RampSound(10);
  InsertSound(t, 13, other);
  EXPECT_EQ(ReadAll(t), Concat({Ramp(0, 10), Zeros(3), Ramp(0, 5, 7000)}));

  Sound u = RampSound(10);
  InsertSound(u, 4, other);
  EXPECT_EQ(ReadAll(u), Concat({Ramp(0, 4), Ramp(0, 5, 7000), Ramp(4, 10)}));

  Sound v = RampSound(10);
  InsertSound(v, -3, other);  // the material, then 3 frames of silence, at the start
  EXPECT_EQ(ReadAll(v), Concat({Ramp(0, 5, 7000), Zeros(3), Ramp(0, 10)}));

  Sound empty;
  InsertSound(empty, 2, other);
  EXPECT_EQ(ReadAll(empty), Concat({Zeros(2), Ramp(0, 5, 7000)}));
  Sound none;
  InsertSound(none, -2, other);  // the same before frame 0 as on a sound with frames
  EXPECT_EQ(ReadAll(none), Concat({Ramp(0, 5, 7000), Zeros(2)}));
  EXPECT_EQ(BlockRefCount(other.head->block), 7);
}

TEST_F(SoundTest, InsertingASoundIntoItselfCopiesItAsItWas) {
  Sound s = RampSound(6);
  InsertSound(s, 3, s);
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 3), Ramp(0, 6), Ramp(3, 6)}));
}

TEST_F(SoundTest, ReplaceCropAndTrim) {
  Sound s = RampSound(40);
  Sound other = RampSound(3, 7000);
  ReplaceRange(s, 10, 30, other);
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(0, 3, 7000), Ramp(30, 40)}));

  Sound c = RampSound(40);
  CropRange(c, 5, 15);
  EXPECT_EQ(ReadAll(c), Ramp(5, 15));
  CropRange(c, -3, 4);
  EXPECT_EQ(ReadAll(c), Ramp(5, 9));

  Sound t = RampSound(40);
  TrimStart(t, 0);
  TrimStart(t, -5);
  EXPECT_EQ(SoundLength(t), 40);
  TrimStart(t, 5);
  TrimEnd(t, 30);
  EXPECT_EQ(ReadAll(t), Ramp(5, 35));
  TrimEnd(t, 100);
  EXPECT_EQ(SoundLength(t), 30);
}

// Many ranges replaced in one pass equal the same ranges replaced one by one, across
// segment boundaries, at both ends, with a range out of order skipped.
TEST_F(SoundTest, ReplaceRangesEqualsReplacingEachRangeInTurn) {
  auto three_segments = [] {
    Sound s = RampSound(40);
    InsertSound(s, 15, RampSound(6, 5000));
    InsertSound(s, 30, RampSound(4, 6000));
    return s;
  };
  Sound pieces = RampSound(6, 7000);
  InsertSound(pieces, 6, RampSound(5, 9000));  // 11 frames on two blocks
  const std::vector<std::pair<std::int32_t, std::int32_t>> ranges = {{0, 2}, {13, 17}, {18, 19}, {17, 30},
                                                                     {18, 25}, {46, 50}};
  Sound many = three_segments();
  ReplaceRanges(many, ranges, pieces);

  Sound one_by_one = three_segments();
  std::int32_t offset = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i == 3 || i == 4) continue;  // overlapping an earlier one: skipped
    const auto [start, end] = ranges[i];
    Sound piece;
    CopyRange(pieces, piece, offset, offset + end - start);
    ReplaceRange(one_by_one, start, end, piece);
    offset += end - start;
  }
  EXPECT_EQ(offset, 11);
  EXPECT_EQ(SoundLength(many), 50);
  EXPECT_EQ(ReadAll(many), ReadAll(one_by_one));
  EXPECT_EQ(ReadAll(many)[0], 7000);
  EXPECT_EQ(ReadAll(many)[49], 9004);
}

TEST_F(SoundTest, RepeatRangeInsertsFurtherCopies) {
  Sound s = RampSound(10);
  RepeatRange(s, 2, 0, 10);
  EXPECT_EQ(SoundLength(s), 30);
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(0, 10), Ramp(0, 10)}));
  Sound t = RampSound(10);
  RepeatRange(t, 1, 2, 4);
  EXPECT_EQ(ReadAll(t), Concat({Ramp(0, 4), Ramp(2, 10)}));
  RepeatRange(t, 0, 2, 4);
  RepeatRange(t, 2, 4, 2);  // reversed
  EXPECT_EQ(ReadAll(t), Concat({Ramp(0, 4), Ramp(2, 10)}));
  EXPECT_EQ(Segments(t).size(), 3u);
  // Before frame 0 the padded range is repeated, with the padding once per copy.
  Sound u = RampSound(4);
  RepeatRange(u, 2, -2, 1);
  EXPECT_EQ(ReadAll(u), Concat({Zeros(2), Ramp(0, 1), Zeros(2), Ramp(0, 1), Zeros(2), Ramp(0, 4)}));
}

TEST_F(SoundTest, ScaleGainTruncatesAndSaturates) {
  Sound s;
  AppendSegment(s, NewSegment(kNoBlock, 1, kUnityGain, 0));
  AppendSegment(s, NewSegment(kNoBlock, 1, kMaxGain, 0));
  AppendSegment(s, NewSegment(kNoBlock, 1, 12345, 0));
  ScaleGain(s, 100);
  EXPECT_EQ(s.head->gain, kUnityGain);
  ScaleGain(s, 50);
  EXPECT_EQ(s.head->gain, 0x800000);
  EXPECT_EQ(s.head->next->gain, kMaxGain / 2);
  EXPECT_EQ(s.head->next->next->gain, 6172);  // 12345 × 50 / 100, truncated
  Sound t;
  AppendSegment(t, NewSegment(kNoBlock, 1, kMaxGain, 0));
  AppendSegment(t, NewSegment(kNoBlock, 1, (kMaxGain / 300) * 100, 0));      // at the limit
  AppendSegment(t, NewSegment(kNoBlock, 1, (kMaxGain / 300) * 100 - 1, 0));  // just below
  ScaleGain(t, 300);
  EXPECT_EQ(t.head->gain, kMaxGain);
  EXPECT_EQ(t.head->next->gain, kMaxGain);
  EXPECT_EQ(t.head->next->next->gain, (std::int64_t{(kMaxGain / 300) * 100 - 1} * 300) / 100);
  ScaleGain(t, 0);  // shrinking reaches the largest gain too
  EXPECT_EQ(t.head->gain, 0);
}

TEST_F(SoundTest, ChangeRangeVolumeScalesOnlyTheRangeAndKeepsTheLength) {
  Sound s = RampSound(20);
  ChangeRangeVolume(s, 50, 5, 10);
  std::vector<std::int32_t> expected = Ramp(0, 20);
  for (int i = 5; i < 10; ++i) expected[i] = (expected[i] * 256) >> 9;
  EXPECT_EQ(ReadAll(s), expected);
  EXPECT_EQ(Segments(s)[1].gain, 0x800000);
  // A range that reaches outside the sound changes only the frames that exist.
  ChangeRangeVolume(s, 200, -5, 3);
  ChangeRangeVolume(s, 200, 18, 30);
  EXPECT_EQ(SoundLength(s), 20);
  for (int i : {0, 1, 2, 18, 19}) expected[i] = (expected[i] * 1024) >> 9;
  EXPECT_EQ(ReadAll(s), expected);
  ChangeRangeVolume(s, 50, 10, 5);  // reversed
  ChangeRangeVolume(s, 100, 0, 20);
  EXPECT_EQ(ReadAll(s), expected);
}

TEST_F(SoundTest, FreeingACopyRestoresEveryCount) {
  Sound s = RampSound(100);
  DeleteRange(s, 10, 20);
  InsertSilence(s, 5, 50);
  BlockId id = s.head->block;
  EXPECT_EQ(BlockRefCount(id), 3);
  {
    Sound copy;
    CopySound(s, copy);
    EXPECT_EQ(BlockRefCount(id), 6);
    DeleteRange(copy, 0, 95);
  }
  EXPECT_EQ(BlockRefCount(id), 3);
  EXPECT_EQ(ReadAll(s), Concat({Ramp(0, 10), Ramp(20, 60), Zeros(5), Ramp(60, 100)}));
  CopySound(s, s);  // onto itself: nothing changes
  EXPECT_EQ(BlockRefCount(id), 3);
  Sound moved = std::move(s);
  EXPECT_EQ(s.head, nullptr);
  EXPECT_EQ(SoundLength(moved), 95);
}

TEST_F(SoundTest, ListHelpersLinkAtTheHeadAndTail) {
  Sound s;
  Segment* a = NewSegment(kNoBlock, 1, kUnityGain, 0);
  Segment* b = NewSegment(kNoBlock, 2, kUnityGain, 0);
  Segment* c = NewSegment(kNoBlock, 3, kUnityGain, 0);
  Segment* d = NewSegment(kNoBlock, 4, kUnityGain, 0);
  b->next = a;  // cleared by the append
  AppendSegment(s, b);
  InsertSegmentBefore(s, nullptr, a);  // null: at the head
  AppendSegment(s, d);
  InsertSegmentBefore(s, d, c);
  std::vector<std::int32_t> lengths;
  for (const Segment* g = s.head; g != nullptr; g = g->next) lengths.push_back(g->length);
  EXPECT_EQ(lengths, (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(SegmentCount(s), 4);
}

TEST_F(SoundTest, LengthsSaturateInsteadOfOverflowing) {
  Sound s;
  AppendSegment(s, NewSegment(kNoBlock, 0x70000000, kUnityGain, 0));
  AppendSegment(s, NewSegment(kNoBlock, 0x70000000, kUnityGain, 0));
  EXPECT_EQ(SoundLength(s), 0x7FFFFFFF);
  DeleteRange(s, 0x60000000, 0x7FFFFFFF);  // positions beyond 2^31 are walked in 64 bits
  EXPECT_EQ(Segments(s), (std::vector<SegmentView>{{kNoBlock, 0x60000000, kUnityGain, 0},
                                                   {kNoBlock, 0x60000001, kUnityGain, 0x0FFFFFFF}}));
}

}  // namespace
}  // namespace sonavel
