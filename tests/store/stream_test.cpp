#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "store_fixture.h"

namespace sonavel {
namespace {

using testing::HeldBlocks;
using testing::RampSound;
using testing::ReadAll;
using testing::ReadFrames;
using testing::Segments;
using testing::SegmentView;
using testing::StoreTest;
using testing::WriteSound;

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StreamTest : public StoreTest {
 protected:
  void TearDown() override {
    ExpectNoLeak();
    StoreTest::TearDown();
  }
};

TEST_F(StreamTest, ReaderSoughtBeforeTheStartGivesLeadingSilence) {
  Sound s = RampSound(20);
  SourceRef reader = OpenSoundReader(s);
  reader->Seek(-4);
  EXPECT_EQ(reader->Position(), -4);
  EXPECT_EQ(ReadFrames(*reader, 10),
            (std::vector<std::int32_t>{0, 0, 0, 0, 1000, 1001, 1002, 1003, 1004, 1005}));
  EXPECT_EQ(reader->Position(), 6);
  EXPECT_EQ(ReadFrames(*reader, 2), (std::vector<std::int32_t>{1006, 1007}));
}

TEST_F(StreamTest, ReadingPastTheEndGivesZerosAndAdvancesFully) {
  Sound s = RampSound(5);
  SourceRef reader = OpenSoundReader(s);
  EXPECT_EQ(reader->Length(), 5);
  EXPECT_EQ(ReadFrames(*reader, 8),
            (std::vector<std::int32_t>{1000, 1001, 1002, 1003, 1004, 0, 0, 0}));
  EXPECT_EQ(reader->Position(), 8);
  EXPECT_EQ(ReadFrames(*reader, 3), (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_EQ(reader->Position(), 11);
  reader->Seek(100);
  EXPECT_EQ(ReadFrames(*reader, 2), (std::vector<std::int32_t>{0, 0}));
  EXPECT_EQ(reader->Position(), 102);
}

TEST_F(StreamTest, SeekLandsInsideTheRightSegmentAtTheRightOffset) {
  Sound s = RampSound(50);
  Sound other = RampSound(10, 7000);
  DeleteRange(s, 10, 20);  // two pieces of one block: [0,10) and [20,50)
  InsertSound(s, 10, other);
  InsertSilence(s, 3, 40);
  SourceRef reader = OpenSoundReader(s);
  std::vector<std::int32_t> all = ReadAll(s);
  for (std::int32_t f = 0; f < SoundLength(s) + 2; ++f) {
    reader->Seek(f);
    std::vector<std::int32_t> got = ReadFrames(*reader, 5);
    for (std::int32_t i = 0; i < 5; ++i)
      EXPECT_EQ(got[i], f + i < static_cast<std::int32_t>(all.size()) ? all[f + i] : 0)
          << "seek " << f << " frame " << i;
  }
}

TEST_F(StreamTest, SegmentGainScalesEverySampleExceptAtUnity) {
  Sound s = WriteSound({100, -100, 0x7FFF0, -0x7FFF0, 3, -3});
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{100, -100, 0x7FFF0, -0x7FFF0, 3, -3}));
  s.head->gain = 0x800000;  // factor 256: halves, rounding towards minus infinity
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{50, -50, 0x3FFF8, -0x3FFF8, 1, -2}));
  s.head->gain = kUnityGain + (1 << 15) - 1;  // below the next step of 1/512: still unity
  EXPECT_EQ(ReadAll(s)[4], 3);
  s.head->gain = kMaxGain;  // factor 65535
  EXPECT_EQ(ReadAll(s)[0], (100 * 65535) >> 9);
}

TEST_F(StreamTest, GainBeyondThirtyTwoBitsSaturates) {
  Sound s = WriteSound({0x7FFFFFFF, -0x7FFFFFFF - 1, 0x100000});
  s.head->gain = kMaxGain;
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{0x7FFFFFFF, -0x7FFFFFFF - 1,
                                                   static_cast<std::int32_t>((std::int64_t{0x100000} * 65535) >> 9)}));
}

TEST_F(StreamTest, AReaderKeepsItsBlocksAfterTheSoundIsFreed) {
  SourceRef reader;
  {
    Sound s = RampSound(4);
    reader = OpenSoundReader(s);
    EXPECT_EQ(BlockRefCount(s.head->block), 2);
  }
  EXPECT_EQ(ReadFrames(*reader, 4), (std::vector<std::int32_t>{1000, 1001, 1002, 1003}));
  reader.Reset();
  EXPECT_EQ(testing::BlockFilesIn(folder_), 0);
}

TEST_F(StreamTest, MissingOrShortBlockFilesReadAsSilence) {
  Sound s = RampSound(10);
  std::filesystem::resize_file(BlockAudioPath(s.head->block), 6 * 4);  // a write lost
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{1000, 1001, 1002, 1003, 1004, 1005, 0, 0, 0, 0}));
  std::filesystem::remove(BlockAudioPath(s.head->block));
  SourceRef reader = OpenSoundReader(s);
  EXPECT_EQ(ReadFrames(*reader, 12), std::vector<std::int32_t>(12, 0));
  EXPECT_EQ(reader->Position(), 12);
}

TEST_F(StreamTest, WriterProducesAudioBytesAndOneOrTwoPeakRecordsPerRun) {
  std::vector<std::int32_t> samples(600);
  for (int i = 0; i < 300; ++i) {
    samples[2 * i] = i == 10 ? 0x7FFF0 : 100;
    samples[2 * i + 1] = i == 280 ? -0x7FFF0 : -1;
  }
  Sound s(8000, 1);
  {
    SinkRef writer = CreateBlockWriter(s, 22050, 2);
    writer->Write(samples.data(), 100);
    writer->Write(samples.data() + 200, 200);
    EXPECT_EQ(writer->position, 300);
    EXPECT_EQ(SoundLength(s), 0);  // the target changes only when the writer finishes
  }
  ASSERT_EQ(Segments(s).size(), 1u);
  BlockId id = s.head->block;
  EXPECT_EQ(s.rate, 22050);
  EXPECT_EQ(s.channels, 2);
  EXPECT_EQ(Segments(s)[0], (SegmentView{id, 300, kUnityGain, 0}));
  EXPECT_EQ(BlockRefCount(id), 1);
  EXPECT_EQ(FileBytes(BlockAudioPath(id)).size(), 2400u);
  // Run 0: left peaks at full scale, right only -1; run 1 (44 frames): right at -full scale.
  EXPECT_EQ(FileBytes(BlockPeakPath(id)), (std::vector<std::uint8_t>{255, 0, 0, 0, 0, 0, 0, 255}));
  EXPECT_EQ(ReadAll(s), samples);
}

TEST_F(StreamTest, PeakBytesClampAndHandleTheMostNegativeSample) {
  Sound s;
  {
    SinkRef writer = CreateBlockWriter(s, 44100, 1);
    std::int32_t run1[256];
    std::fill(std::begin(run1), std::end(run1), 0);
    run1[3] = 2047;       // below one step
    run1[4] = -2048;      // exactly one step
    std::int32_t run2[2] = {0x7FFFFFFF, -0x7FFFFFFF - 1};
    std::int32_t run3[1] = {4096 * 3 + 5};
    writer->Write(run1, 256);
    writer->Write(run2, 2);
    writer->Write(run3, 1);
  }
  // Run 2 holds both extreme samples plus the one after them.
  EXPECT_EQ(FileBytes(BlockPeakPath(s.head->block)), (std::vector<std::uint8_t>{0, 1, 255, 255}));
}

TEST_F(StreamTest, WriterSeekShortensTheSegmentAndRewritesThePeakRun) {
  std::vector<std::int32_t> loud(1000, 0x7FFF0);
  std::vector<std::int32_t> quiet(100, 4096);
  Sound s;
  {
    SinkRef writer = CreateBlockWriter(s, 44100, 1);
    writer->Write(loud.data(), 1000);
    writer->Seek(500);
    EXPECT_EQ(writer->position, 500);
    writer->Write(quiet.data(), 100);
  }
  EXPECT_EQ(SoundLength(s), 600);
  std::vector<std::int32_t> expected(loud.begin(), loud.begin() + 500);
  expected.insert(expected.end(), quiet.begin(), quiet.end());
  EXPECT_EQ(ReadAll(s), expected);
  // Run 1 (frames 256..511) is emitted again when it fills at frame 512, from the loud
  // frames 256..499 in the file and the quiet ones after; the partial run 2 follows; the
  // unfinished run 3 of the first pass was never emitted.
  EXPECT_EQ(FileBytes(BlockPeakPath(s.head->block)),
            (std::vector<std::uint8_t>{255, 0, 255, 0, 2, 0}));
}

TEST_F(StreamTest, WriterSeekIntoAFreshRunRefoldsOnlyWhatTheFileHolds) {
  Sound s;
  {
    SinkRef writer = CreateBlockWriter(s, 44100, 2);
    std::vector<std::int32_t> first(2 * 300);
    for (int i = 0; i < 300; ++i) first[2 * i] = first[2 * i + 1] = i == 270 ? -0x7FFF0 : 4096;
    writer->Write(first.data(), 300);
    writer->Seek(280);  // run 1 holds frames 256..279 in the file, the loud one among them
    std::int32_t quiet[4] = {2048, 2048, 2048, 2048};
    writer->Write(quiet, 2);
  }
  EXPECT_EQ(SoundLength(s), 282);
  EXPECT_EQ(FileBytes(BlockPeakPath(s.head->block)),
            (std::vector<std::uint8_t>{2, 0, 2, 0, 2, 255, 2, 255}));
  // Back into run 0, already emitted: it is emitted again, its earlier frames included;
  // the unfinished run 1 is dropped with the frames past the end.
  Sound t;
  {
    SinkRef writer = CreateBlockWriter(t, 44100, 1);
    std::vector<std::int32_t> first(300, 0);
    first[5] = 0x7FFF0;
    writer->Write(first.data(), 300);
    writer->Seek(100);
    std::int32_t dip = -4096;
    writer->Write(&dip, 1);
  }
  EXPECT_EQ(SoundLength(t), 101);
  EXPECT_EQ(FileBytes(BlockPeakPath(t.head->block)), (std::vector<std::uint8_t>{255, 2}));
}

TEST_F(StreamTest, UnwrittenWriterStillReplacesTheTargetWithAnEmptySegment) {
  Sound s = RampSound(50);
  BlockId old = s.head->block;
  { SinkRef writer = CreateBlockWriter(s, 48000, 2); }
  EXPECT_EQ(SoundLength(s), 0);
  EXPECT_EQ(Segments(s).size(), 1u);
  EXPECT_EQ(s.rate, 48000);
  EXPECT_EQ(s.channels, 2);
  EXPECT_EQ(BlockRefCount(old), 0);  // the old block was freed with the old list
}

TEST_F(StreamTest, WriterWithoutAFreeIdGivesSilenceOfTheWrittenLength) {
  std::vector<BlockId> taken;
  for (BlockId id = AllocateBlock(); id != kNoBlock; id = AllocateBlock()) taken.push_back(id);
  Sound s;
  {
    SinkRef writer = CreateBlockWriter(s, 44100, 1);
    std::int32_t frames[4] = {1, 2, 3, 4};
    writer->Write(frames, 4);
    EXPECT_NE(writer->status & kSinkWriteFailed, 0);  // the loss is visible to the caller
  }
  for (BlockId id : taken) ReleaseBlock(id);
  EXPECT_EQ(Segments(s), (std::vector<SegmentView>{{kNoBlock, 4, kUnityGain, 0}}));
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{0, 0, 0, 0}));
}

TEST_F(StreamTest, WriterIntoAMissingFolderReportsTheLossAndReadsAsSilence) {
  SetWorkingFolder(JoinPath(folder_, "gone"));
  Sound s;
  {
    SinkRef writer = CreateBlockWriter(s, 44100, 1);
    std::int32_t frames[2] = {5, 6};
    writer->Write(frames, 2);
    EXPECT_NE(writer->status & kSinkWriteFailed, 0);
  }
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{0, 0}));
  SetWorkingFolder(folder_);
}

TEST_F(StreamTest, HeadersRepairBadFormatsAndMarkThem) {
  Sound s;
  SinkRef sink = CreateBlockWriter(s, 44100, 0);
  EXPECT_EQ(sink->channels, 1);
  EXPECT_EQ(sink->status & kSinkUnusable, kSinkUnusable);
  std::int32_t frame = 9;
  sink->Write(&frame, 1);  // ignored
  EXPECT_EQ(sink->position, 0);
  sink.Reset();
  Sound bad(0, 0);
  SourceRef reader = OpenSoundReader(bad);
  EXPECT_EQ(reader->rate, 44100);
  EXPECT_EQ(reader->channels, 1);
  EXPECT_EQ(reader->status, kStatusCorrupt);
  EXPECT_EQ(reader->peak_bound, 0x200000);
  Sound good = RampSound(1);
  EXPECT_EQ(OpenSoundReader(good)->status, kStatusOk);
}

TEST_F(StreamTest, NullObjectsHaveTheirFixedFormats) {
  SourceRef source = MakeNullSource();
  EXPECT_EQ(source->rate, 11025);
  EXPECT_EQ(source->channels, 1);
  EXPECT_EQ(source->peak_bound, 0x200000);
  EXPECT_EQ(source->status, kStatusPlaceholder);
  EXPECT_EQ(ReadFrames(*source, 3), (std::vector<std::int32_t>{0, 0, 0}));
  source->Seek(50);
  EXPECT_EQ(source->Position(), 0);
  EXPECT_EQ(source->Length(), 0);
  EXPECT_EQ(MakeNullSource(kStatusCannotOpen)->status, kStatusCannotOpen);
  SinkRef sink = MakeNullSink();
  EXPECT_EQ(sink->rate, 44100);
  EXPECT_EQ(sink->status, kSinkUnusable);
}

// Counts its own destruction so the reference rules can be observed.
class Probe final : public SampleSource {
 public:
  explicit Probe(int* destroyed) : SampleSource(8000, 1, 1), destroyed_(destroyed) {}
  ~Probe() override { ++*destroyed_; }
  void Read(std::int32_t*, std::int32_t) override {}

 private:
  int* destroyed_;
};

TEST(CountedRef, FactoriesGiveOneAndTheLastReleaseDestroys) {
  int destroyed = 0;
  SourceRef a = MakeCounted<Probe>(&destroyed);
  EXPECT_EQ(a->reference_count(), 1u);
  SourceRef b = a;
  EXPECT_EQ(a->reference_count(), 2u);
  b = b;  // self-assignment keeps the object
  EXPECT_EQ(a->reference_count(), 2u);
  a.Reset();
  EXPECT_EQ(destroyed, 0);
  b = a;  // b held the last reference: the probe goes
  EXPECT_EQ(destroyed, 1);
  SourceRef c = MakeCounted<Probe>(&destroyed);
  SourceRef d = std::move(c);
  EXPECT_FALSE(c);
  EXPECT_EQ(d->reference_count(), 1u);
  d = MakeNullSource();  // replacing the last holder destroys the old object
  EXPECT_EQ(destroyed, 2);
}

TEST_F(StreamTest, ResettingASinkReferenceToTheNullSinkFinishesTheWriter) {
  Sound s;
  SinkRef writer = CreateBlockWriter(s, 44100, 1);
  std::int32_t frames[3] = {7, 8, 9};
  writer->Write(frames, 3);
  writer = MakeNullSink();
  EXPECT_EQ(ReadAll(s), (std::vector<std::int32_t>{7, 8, 9}));
}

}  // namespace
}  // namespace sonavel
