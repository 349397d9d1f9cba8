// The sources the transport puts between a document and the playback engine: the repeat
// source (looped playback), the cue source (fast forward and rewind), and the output volume
// on the system mixer.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "devices/cue_source.h"
#include "devices/mixer.h"
#include "devices/repeat_source.h"
#include "store/stream.h"

namespace sonavel {
namespace {

// Interleaved samples in memory; past the end and before 0 it reads zeros. Counts reads
// and seeks and notes every read that reaches outside 0 … length.
class VectorSource final : public SampleSource {
 public:
  VectorSource(std::vector<std::int32_t> samples, std::uint8_t channel_count, std::int32_t rate)
      : SampleSource(rate, channel_count, kFullScale), samples_(std::move(samples)) {}

  void Read(std::int32_t* buffer, std::int32_t frames) override {
    ++reads;
    if (position_ < 0 || position_ + frames > Length()) ++reads_outside;
    for (std::int32_t i = 0; i < frames; ++i, ++position_)
      for (int c = 0; c < channels; ++c)
        *buffer++ = position_ >= 0 && position_ < Length()
                        ? samples_[static_cast<std::size_t>(position_) * channels + c]
                        : 0;
  }
  std::int32_t Position() const override { return position_; }
  std::int32_t Length() const override {
    return static_cast<std::int32_t>(samples_.size() / channels);
  }
  void Seek(std::int32_t frame) override {
    ++seeks;
    position_ = frame;
  }
  std::int32_t At(std::int64_t frame, int channel = 0) const {
    return frame >= 0 && frame < Length()
               ? samples_[static_cast<std::size_t>(frame) * channels + channel]
               : 0;
  }

  int reads = 0;
  int seeks = 0;
  int reads_outside = 0;

 private:
  std::vector<std::int32_t> samples_;
  std::int32_t position_ = 0;
};

using VectorRef = CountedRef<VectorSource>;

// Mono frames whose value is base + index.
VectorRef Ramp(std::int32_t frames, std::int32_t rate, std::int32_t base = 1000) {
  std::vector<std::int32_t> samples(static_cast<std::size_t>(frames));
  for (std::int32_t i = 0; i < frames; ++i) samples[static_cast<std::size_t>(i)] = base + i;
  return MakeCounted<VectorSource>(std::move(samples), 1, rate);
}

std::vector<std::int32_t> ReadFrames(SampleSource& source, std::int32_t frames) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * source.channels, -7);
  source.Read(out.data(), frames);
  return out;
}

// Reads `frames` frames in chunks of `chunk`, as the engine's buffers would.
std::vector<std::int32_t> ReadInChunks(SampleSource& source, std::int32_t frames,
                                       std::int32_t chunk) {
  std::vector<std::int32_t> out;
  while (frames > 0) {
    const std::int32_t n = std::min(frames, chunk);
    const std::vector<std::int32_t> part = ReadFrames(source, n);
    out.insert(out.end(), part.begin(), part.end());
    frames -= n;
  }
  return out;
}

// ---- Repeat source -------------------------------------------------------------------

// At 1000 Hz a millisecond is a frame, which keeps the expected frames readable.
TEST(RepeatSourceTest, LoopsExactlyBetweenTheEdgesOverSeveralLaps) {
  VectorRef inner = Ramp(5000, 1000);
  inner->Seek(1000);
  SourceRef repeat = MakeRepeatSource(inner, 1700, 1200);  // either order
  EXPECT_EQ(repeat->Length(), 1700 + 8 * 1000);
  EXPECT_EQ(repeat->rate, 1000);
  EXPECT_EQ(repeat->peak_bound, kFullScale);
  EXPECT_EQ(repeat->status, kStatusOk);

  std::vector<std::int32_t> expected;
  for (std::int32_t f = 1000; f < 1700; ++f) expected.push_back(1000 + f);  // lead into the loop
  for (int lap = 0; lap < 4; ++lap)
    for (std::int32_t f = 1200; f < 1700; ++f) expected.push_back(1000 + f);
  EXPECT_EQ(ReadInChunks(*repeat, static_cast<std::int32_t>(expected.size()), 333), expected);
  // The last lap ended exactly at the loop end; the position is the inner source's.
  EXPECT_EQ(repeat->Position(), 1700);
  EXPECT_EQ(ReadFrames(*repeat, 2), (std::vector<std::int32_t>{2200, 2201}));
  EXPECT_EQ(repeat->Position(), 1202);
  EXPECT_EQ(inner->reads_outside, 0);
}

TEST(RepeatSourceTest, StereoLoopKeepsChannelsAndConvertsMillisecondsAtTheRate) {
  // 44 100 Hz: 10 ms is frame 441, 20 ms frame 882.
  std::vector<std::int32_t> samples;
  for (std::int32_t f = 0; f < 2000; ++f) {
    samples.push_back(f);
    samples.push_back(-f);
  }
  VectorRef inner = MakeCounted<VectorSource>(samples, 2, 44100);
  inner->Seek(800);
  CountedRef<RepeatSource> repeat = MakeCounted<RepeatSource>(inner, 20, 10);
  EXPECT_EQ(repeat->loop_start(), 441);
  EXPECT_EQ(repeat->loop_end(), 882);
  EXPECT_EQ(repeat->Length(), 882 + 8 * 44100);
  EXPECT_EQ(repeat->channels, 2);

  const std::vector<std::int32_t> got = ReadFrames(*repeat, 82 + 441 + 441 + 5);
  std::vector<std::int32_t> expected;
  auto add = [&](std::int32_t from, std::int32_t to) {
    for (std::int32_t f = from; f < to; ++f) {
      expected.push_back(f);
      expected.push_back(-f);
    }
  };
  add(800, 882);
  add(441, 882);
  add(441, 882);
  add(441, 446);
  EXPECT_EQ(got, expected);
}

TEST(RepeatSourceTest, SeekBeyondTheLoopEndFoldsIntoTheLoop) {
  VectorRef inner = Ramp(5000, 1000);
  SourceRef repeat = MakeRepeatSource(inner, 1200, 1700);
  repeat->Seek(1699);
  EXPECT_EQ(repeat->Position(), 1699);
  repeat->Seek(100);  // before the loop: played from there into it
  EXPECT_EQ(repeat->Position(), 100);
  repeat->Seek(1700);
  EXPECT_EQ(repeat->Position(), 1200);
  repeat->Seek(1700 + 3 * 500 + 37);
  EXPECT_EQ(repeat->Position(), 1237);
  EXPECT_EQ(ReadFrames(*repeat, 1), std::vector<std::int32_t>{2237});
  // A position beyond the loop when the source is made wraps on the first read.
  inner->Seek(4000);
  EXPECT_EQ(ReadFrames(*repeat, 2), (std::vector<std::int32_t>{2200, 2201}));
}

TEST(RepeatSourceTest, ShortLoopPlaysLapsOf256Frames) {
  VectorRef inner = Ramp(5000, 1000);
  inner->Seek(1000);
  CountedRef<RepeatSource> repeat = MakeCounted<RepeatSource>(inner, 1000, 1010);
  EXPECT_EQ(repeat->lap_end(), 1256);
  EXPECT_EQ(repeat->Length(), 1010 + 8000);
  std::vector<std::int32_t> expected;
  for (int lap = 0; lap < 2; ++lap)
    for (std::int32_t f = 1000; f < 1256; ++f) expected.push_back(1000 + f);
  for (std::int32_t f = 1000; f < 1088; ++f) expected.push_back(1000 + f);
  EXPECT_EQ(ReadInChunks(*repeat, 600, 100), expected);
  // Seeks still fold by the loop's own length.
  repeat->Seek(1015);
  EXPECT_EQ(repeat->Position(), 1005);
  repeat->Seek(1200);  // inside the lap but past the loop end
  EXPECT_EQ(repeat->Position(), 1000);
}

TEST(RepeatSourceTest, ZeroLengthLoopsGoToTheirStart) {
  {
    VectorRef inner = Ramp(300, 1000);
    SourceRef repeat = MakeRepeatSource(inner, 0, 0);
    EXPECT_EQ(repeat->Length(), 8000);
    repeat->Seek(4321);
    EXPECT_EQ(repeat->Position(), 0);
    // Laps of 256 frames from frame 0.
    const std::vector<std::int32_t> got = ReadFrames(*repeat, 600);
    for (std::int32_t i = 0; i < 600; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], 1000 + i % 256) << i;
  }
  {
    // A loop shorter than a millisecond's frames at frame 1500.
    VectorRef inner = Ramp(5000, 1000);
    SourceRef repeat = MakeRepeatSource(inner, 1500, 1500);
    EXPECT_EQ(repeat->Length(), 1500 + 8000);
    repeat->Seek(1499);
    EXPECT_EQ(repeat->Position(), 1499);
    repeat->Seek(1500);
    EXPECT_EQ(repeat->Position(), 1500);
    repeat->Seek(4000);
    EXPECT_EQ(repeat->Position(), 1500);
    const std::vector<std::int32_t> got = ReadInChunks(*repeat, 1000, 97);
    for (std::int32_t i = 0; i < 1000; ++i)
      ASSERT_EQ(got[static_cast<std::size_t>(i)], 2500 + i % 256) << i;
    EXPECT_LT(repeat->Position(), repeat->Length());
  }
}

TEST(RepeatSourceTest, NegativeTimesCountAsZeroAndANullInnerIsAPlaceholder) {
  CountedRef<RepeatSource> repeat = MakeCounted<RepeatSource>(Ramp(100, 1000), -50, 30);
  EXPECT_EQ(repeat->loop_start(), 0);
  EXPECT_EQ(repeat->loop_end(), 30);
  SourceRef empty = MakeRepeatSource(SourceRef(), 0, 1000);
  EXPECT_EQ(empty->status, kStatusUpstreamFailed);
  EXPECT_EQ(ReadFrames(*empty, 3), (std::vector<std::int32_t>{0, 0, 0}));
}

// ---- Cue source ----------------------------------------------------------------------

// What a window starting at `start` sounds like when the next one starts at `next`, taken
// straight from the inner samples: the window faded out, the frames before `next` faded in.
std::vector<std::int32_t> ReferenceWindow(const VectorSource& inner, std::int64_t start,
                                          std::int64_t next) {
  static const std::vector<std::int32_t> fade = CueFadeTable(490);
  std::vector<std::int32_t> out;
  for (std::int64_t i = 0; i < 490; ++i) {
    const std::int64_t f = fade[static_cast<std::size_t>(i)];
    out.push_back(static_cast<std::int32_t>(
        (inner.At(start + i) * f + inner.At(next - 490 + i) * (16777216 - f) + 8388608) >> 24));
  }
  return out;
}

TEST(CueSourceTest, WindowLengthAndFadeTable) {
  EXPECT_EQ(CueWindowFrames(44100), 490);
  EXPECT_EQ(CueWindowFrames(96000), 1066);
  EXPECT_EQ(CueWindowFrames(1000), 20);
  EXPECT_EQ(CueWindowFrames(400000), 2730);

  const std::vector<std::int32_t> table = CueFadeTable(490);
  ASSERT_EQ(table.size(), 490u);
  for (int i = 0; i <= 245; ++i) ASSERT_EQ(table[static_cast<std::size_t>(i)], 16777216) << i;
  EXPECT_EQ(table[246], 16776526);
  EXPECT_EQ(table[300], 14776080);
  EXPECT_EQ(table[367], 8442390);
  EXPECT_EQ(table[489], 690);

  const std::vector<std::int32_t> odd = CueFadeTable(21);  // 10 held, 11 fading
  EXPECT_EQ(odd[9], 16777216);
  EXPECT_EQ(odd[10], 16777216);
  EXPECT_EQ(odd[20], 339798);  // round((0.5 cos(10π/11) + 0.5) × 2^24)
}

TEST(CueSourceTest, ForwardHopRampsFromHalfToSevenTimesOverTheSpan) {
  VectorRef inner = Ramp(1400000, 44100);
  CountedRef<CueSource> cue = MakeCounted<CueSource>(inner, 0.5, 7.0, 8000);
  EXPECT_EQ(cue->window_frames(), 490);
  EXPECT_EQ(cue->hop(), 245);
  EXPECT_EQ(cue->final_hop(), 3430);
  EXPECT_EQ(cue->remaining_span(), 352800);
  EXPECT_EQ(cue->Length(), 1400000);

  std::vector<std::int32_t> positions{cue->Position()};
  std::vector<std::vector<std::int32_t>> windows;
  for (int window = 0; window < 722; ++window) {
    windows.push_back(ReadFrames(*cue, 490));
    positions.push_back(cue->Position());
  }
  for (std::size_t k = 0; k < windows.size(); ++k)
    ASSERT_EQ(windows[k], ReferenceWindow(*inner, positions[k], positions[k + 1])) << k;
  EXPECT_EQ(positions[1], 245);
  EXPECT_EQ(positions[2], 494);
  EXPECT_EQ(positions[3], 747);
  EXPECT_EQ(positions[4], 1004);
  EXPECT_EQ(positions[361] - positions[360], 1685);
  EXPECT_EQ(positions[720] - positions[719], 3425);
  EXPECT_EQ(positions[720], 1258120);
  EXPECT_EQ(positions[721] - positions[720], 3430);
  EXPECT_EQ(positions[722] - positions[721], 3430);
  EXPECT_EQ(cue->hop(), 3430);
  EXPECT_EQ(cue->remaining_span(), 0);
  EXPECT_EQ(inner->reads_outside, 0);
}

TEST(CueSourceTest, PositionIsTheWindowStartAlsoInsideAWindow) {
  VectorRef inner = Ramp(100000, 44100);
  inner->Seek(5000);
  SourceRef cue = MakeCueSource(inner, 0.5, 7.0, 8000);
  EXPECT_EQ(cue->Position(), 5000);
  ReadFrames(*cue, 489);
  EXPECT_EQ(cue->Position(), 5000);
  ReadFrames(*cue, 1);
  EXPECT_EQ(cue->Position(), 5245);
  // Nine windows in one read of 4410 frames, a 44 100 Hz playback buffer.
  ReadFrames(*cue, 4410);
  EXPECT_EQ(cue->Position(), 5000 + 245 + 249 + 253 + 257 + 261 + 265 + 269 + 273 + 277 + 281);
  cue->Seek(700);
  EXPECT_EQ(cue->Position(), 700);
  EXPECT_EQ(ReadFrames(*cue, 1), std::vector<std::int32_t>{1700});
}

TEST(CueSourceTest, NormalSpeedHopPlaysTheInnerSourceUnchanged) {
  // A hop of one window per window: each lead-in is exactly what follows the window.
  VectorRef inner = Ramp(20000, 44100, -3000);
  inner->Seek(123);
  SourceRef cue = MakeCueSource(inner, 1.0, 1.0, 8000);
  const std::vector<std::int32_t> got = ReadInChunks(*cue, 490 * 30, 4410);
  for (std::int32_t i = 0; i < 490 * 30; ++i)
    ASSERT_EQ(got[static_cast<std::size_t>(i)], -3000 + 123 + i) << i;
}

TEST(CueSourceTest, OutputCrossFadesTheWindowIntoTheNextOnesLeadIn) {
  VectorRef inner = Ramp(100000, 44100, 0);
  inner->Seek(10000);
  SourceRef cue = MakeCueSource(inner, 0.5, 7.0, 8000);
  const std::vector<std::int32_t> got = ReadFrames(*cue, 490);
  // First half and the middle frame: the window itself.
  for (std::int32_t i = 0; i <= 245; ++i) ASSERT_EQ(got[static_cast<std::size_t>(i)], 10000 + i) << i;
  // Then frame 10000 + i fades into frame 10245 - 490 + i:
  // (10000 + i) × f + (9755 + i) × (2^24 - f), rounded.
  EXPECT_EQ(got[246], 10246);  // f = 16776526: 245 × 690 / 2^24 is far below a half
  EXPECT_EQ(got[367], 10122 + 123);  // f = 8442390: 10122 + 245 × f / 2^24 = 10122 + 123.28
  EXPECT_EQ(got[489], 9755 + 489);  // f = 690: 245 × 690 / 2^24 rounds to 0
  // Monotonic at the window boundary: the next window begins where the lead-in ended.
  EXPECT_EQ(ReadFrames(*cue, 1), std::vector<std::int32_t>{10245});
}

TEST(CueSourceTest, ConstantInputStaysConstant) {
  for (const double direction : {1.0, -1.0}) {
    std::vector<std::int32_t> samples(200000, -123457);
    VectorRef inner = MakeCounted<VectorSource>(samples, 1, 44100);
    inner->Seek(100000);
    SourceRef cue = MakeCueSource(inner, direction * 0.5, direction * 7.0, 8000);
    const std::vector<std::int32_t> got = ReadInChunks(*cue, 490 * 40, 4410);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], -123457) << direction << " " << i;
  }
}

TEST(CueSourceTest, StereoHopsInSamplesAndKeepsTheChannels) {
  std::vector<std::int32_t> samples;
  for (std::int32_t f = 0; f < 50000; ++f) {
    samples.push_back(f);
    samples.push_back(-2 * f);
  }
  VectorRef inner = MakeCounted<VectorSource>(samples, 2, 44100);
  inner->Seek(20000);
  CountedRef<CueSource> cue = MakeCounted<CueSource>(inner, -0.1, -3.0, 8000);
  EXPECT_EQ(cue->channels, 2);
  EXPECT_EQ(cue->hop(), -98);  // truncate(-0.1 × 490 × 2)
  EXPECT_EQ(cue->final_hop(), -2940);
  EXPECT_EQ(cue->remaining_span(), 705600);
  const std::vector<std::int32_t> got = ReadFrames(*cue, 490);
  for (std::int32_t i = 0; i <= 245; ++i) {
    ASSERT_EQ(got[2 * static_cast<std::size_t>(i)], 20000 + i) << i;
    ASSERT_EQ(got[2 * static_cast<std::size_t>(i) + 1], -2 * (20000 + i)) << i;
  }
  EXPECT_EQ(cue->Position(), 20000 - 49);
  // Next hop: -98 + (-2842 × 980) / 705600 = -98 - 3 (truncated) = -101 samples, which is
  // -50.5 frames, rounded down to -51.
  EXPECT_EQ(cue->hop(), -101);
  ReadFrames(*cue, 490);
  EXPECT_EQ(cue->Position(), 20000 - 49 - 51);
}

TEST(CueSourceTest, RewindStopsAtTheStartWithSilence) {
  VectorRef inner = Ramp(10000, 44100, 500);
  inner->Seek(1000);
  SourceRef cue = MakeCueSource(inner, -0.5, -7.0, 8000);
  std::vector<std::int32_t> positions;
  std::vector<std::int32_t> last;
  for (int window = 0; window < 6; ++window) {
    last = ReadFrames(*cue, 490);
    positions.push_back(cue->Position());
  }
  // 1000 - 245 - 249 - 253 = 253, then 253 - 257 goes below 0 and stops at 0.
  EXPECT_EQ(positions, (std::vector<std::int32_t>{755, 506, 253, 0, 0, 0}));
  for (const std::int32_t x : last) ASSERT_EQ(x, 0);
  EXPECT_EQ(inner->reads_outside, 0);
  // The window that reached 0 faded out into the silence before it.
  cue->Seek(253);
  const std::vector<std::int32_t> fading = ReadFrames(*cue, 490);
  EXPECT_EQ(fading[0], 753);
  EXPECT_EQ(fading[489], 0);  // (742 × 690 + 2^23) >> 24 = 0
  EXPECT_EQ(cue->Position(), 0);
  EXPECT_EQ(ReadFrames(*cue, 300), std::vector<std::int32_t>(300, 0));
  EXPECT_EQ(cue->Position(), 0);
}

TEST(CueSourceTest, ForwardStopsAtTheEndWithSilence) {
  VectorRef inner = Ramp(3000, 44100, 500);
  inner->Seek(2000);
  SourceRef cue = MakeCueSource(inner, 0.5, 7.0, 8000);
  std::vector<std::int32_t> positions;
  std::vector<std::int32_t> last;
  for (int window = 0; window < 7; ++window) {
    last = ReadFrames(*cue, 490);
    positions.push_back(cue->Position());
  }
  EXPECT_EQ(positions, (std::vector<std::int32_t>{2245, 2494, 2747, 3000, 3000, 3000, 3000}));
  EXPECT_EQ(cue->Position(), cue->Length());
  for (const std::int32_t x : last) ASSERT_EQ(x, 0);
  EXPECT_EQ(inner->reads_outside, 0);
}

TEST(CueSourceTest, SlowRewindIsServedFromTheCache) {
  VectorRef inner = Ramp(200000, 44100, 7);
  inner->Seek(100000);
  SourceRef cue = MakeCueSource(inner, -0.1, -0.1, 8000);
  std::vector<std::int32_t> expected;
  for (std::int64_t window = 0; window < 100; ++window) {
    const std::vector<std::int32_t> one =
        ReferenceWindow(*inner, 100000 - 49 * window, 100000 - 49 * (window + 1));
    expected.insert(expected.end(), one.begin(), one.end());
  }
  const std::vector<std::int32_t> got = ReadInChunks(*cue, 490 * 100, 4410);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(cue->Position(), 100000 - 49 * 100);
  // Eight windows hold what 65 windows moving back by 49 frames need; 100 take two reads.
  EXPECT_EQ(inner->reads, 2);
  EXPECT_EQ(inner->reads_outside, 0);
}

TEST(CueSourceTest, EmptyOrShortSourcesNeverReadOutside) {
  {
    VectorRef inner = Ramp(0, 44100);
    SourceRef cue = MakeCueSource(inner, 0.5, 7.0, 8000);
    EXPECT_EQ(ReadFrames(*cue, 1000), std::vector<std::int32_t>(1000, 0));
    EXPECT_EQ(cue->Position(), 0);
    EXPECT_EQ(inner->reads, 0);
  }
  {
    VectorRef inner = Ramp(100, 44100, 1);  // shorter than a window
    inner->Seek(50);
    SourceRef cue = MakeCueSource(inner, -0.5, -7.0, 8000);
    const std::vector<std::int32_t> got = ReadFrames(*cue, 2000);
    EXPECT_EQ(got[0], 51);
    EXPECT_EQ(got[49], 100);
    EXPECT_EQ(got[50], 0);  // the source has ended here
    EXPECT_EQ(cue->Position(), 0);
    EXPECT_EQ(inner->reads_outside, 0);
  }
}

// ---- Output volume on the mixer ------------------------------------------------------

TEST(MixerTest, LevelsStretchOverTheControlsRange) {
  // A control of 0 … 65535 takes the 16-bit values as they are.
  EXPECT_EQ(MixerVolumeForLevel(-36, 0, 65535), 0);
  EXPECT_EQ(MixerVolumeForLevel(-127, 0, 65535), 0);
  EXPECT_EQ(MixerVolumeForLevel(-35, 0, 65535), 1424);
  EXPECT_EQ(MixerVolumeForLevel(0, 0, 65535), 51264);
  EXPECT_EQ(MixerVolumeForLevel(10, 0, 65535), 65504);
  EXPECT_EQ(MixerVolumeForLevel(11, 0, 65535), 65535);
  // A typical 0 … 87 control: 51264 × 87 / 65535 = 68.05.
  EXPECT_EQ(MixerVolumeForLevel(0, 0, 87), 68);
  EXPECT_EQ(MixerVolumeForLevel(10, 0, 87), 87);  // 86.96
  EXPECT_EQ(MixerVolumeForLevel(-35, 0, 87), 2);  // 1.89
  EXPECT_EQ(MixerVolumeForLevel(-36, 0, 87), 0);
  // Ranges need not start at 0.
  EXPECT_EQ(MixerVolumeForLevel(-36, -100, 100), -100);
  EXPECT_EQ(MixerVolumeForLevel(11, -100, 100), 100);
  EXPECT_EQ(MixerVolumeForLevel(0, -100, 100), 56);  // -100 + 156.45
  // A control without a range stays at its only value.
  EXPECT_EQ(MixerVolumeForLevel(5, 3, 3), 3);
}

TEST(MixerTest, ControlVolumesReadBackAsLevels) {
  // On a full-range control the reading is value / 1424 - 36.
  EXPECT_EQ(LevelOfMixerVolume(51264, 0, 65535), 0);
  EXPECT_EQ(LevelOfMixerVolume(51263, 0, 65535), -1);
  EXPECT_EQ(LevelOfMixerVolume(65535, 0, 65535), 10);
  EXPECT_EQ(LevelOfMixerVolume(1423, 0, 65535), -36);
  EXPECT_EQ(LevelOfMixerVolume(0, 0, 65535), -36);
  // On 0 … 87 level 0 is 68 (68.05) and level 1 is 70 (69.9): 68 and 69 read as 0.
  EXPECT_EQ(LevelOfMixerVolume(68, 0, 87), 0);
  EXPECT_EQ(LevelOfMixerVolume(69, 0, 87), 0);
  EXPECT_EQ(LevelOfMixerVolume(70, 0, 87), 1);
  EXPECT_EQ(LevelOfMixerVolume(87, 0, 87), 10);
  EXPECT_EQ(LevelOfMixerVolume(500, 0, 87), 10);
  EXPECT_EQ(LevelOfMixerVolume(-5, 0, 87), -36);
  // Every level of -36 … 10 reads back as itself on a control with 201 steps.
  for (int level = -36; level <= 10; ++level)
    ASSERT_EQ(LevelOfMixerVolume(MixerVolumeForLevel(level, -100, 100), -100, 100), level);
  EXPECT_EQ(LevelOfMixerVolume(3, 3, 3), 0x8000 / 1424 - 36);
}

TEST(MixerTest, MissingCardFailsQuietly) {
  ::testing::internal::CaptureStderr();
  const bool set = SetOutputVolumeLevel(0, "hw:97");
  const std::optional<int> level = OutputVolumeLevel("hw:97");
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(set);
  EXPECT_FALSE(level.has_value());
  EXPECT_EQ(printed, "");
}

TEST(MixerTest, DefaultCardAnswersConsistently) {
  // Without a sound card both calls fail; with one, a level that was set reads back.
  ::testing::internal::CaptureStderr();
  const std::optional<int> before = OutputVolumeLevel();
  const bool set = before.has_value() && SetOutputVolumeLevel(*before);
  const std::optional<int> after = OutputVolumeLevel();
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "");
  EXPECT_EQ(before.has_value(), after.has_value());
  if (before.has_value()) {
    EXPECT_TRUE(set);
    EXPECT_EQ(*after, *before);
  }
}

}  // namespace
}  // namespace sonavel
