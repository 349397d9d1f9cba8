#include "views/wave_columns.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/file.h"
#include "store/block_table.h"
#include "store/block_writer.h"
#include "store/segment_reader.h"
#include "store/sound.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::ReadAll;
using testing::WriteSound;

using Columns = std::vector<std::uint8_t>;

// A sound assembled from a few written blocks: the raw samples of each block are kept so
// that the peak records can be derived independently of the block writer.
struct Layout {
  int channels = 1;
  std::vector<std::vector<std::int32_t>> raw;  // per block, interleaved
  std::vector<Sound> blocks;                   // one-segment sounds holding the blocks
  Sound sound;
};

struct Piece {
  int block;  // -1: silence
  std::int32_t length;
  std::int32_t gain;
  std::int32_t offset;
};

void Assemble(Layout& layout, const std::vector<Piece>& pieces) {
  layout.sound = Sound(44100, static_cast<std::uint8_t>(layout.channels));
  for (const Piece& p : pieces) {
    const BlockId id = p.block < 0 ? kNoBlock : layout.blocks[p.block].head->block;
    AppendSegment(layout.sound, NewSegment(id, p.length, p.gain, p.offset));
  }
}

void AddBlock(Layout& layout, std::vector<std::int32_t> samples) {
  layout.blocks.push_back(WriteSound(samples, static_cast<std::uint8_t>(layout.channels)));
  layout.raw.push_back(std::move(samples));
}

std::vector<std::int32_t> RandomSamples(std::mt19937& rng, std::int32_t frames, int channels) {
  std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * channels);
  std::uniform_int_distribution<std::int32_t> amplitude(0, kFullScale);
  std::int32_t level = amplitude(rng);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i % 997 == 0) level = amplitude(rng);  // loud and quiet stretches
    std::uniform_int_distribution<std::int32_t> value(-level, level);
    out[i] = value(rng);
  }
  // A few extremes: full scale and far beyond it.
  if (!out.empty()) {
    out[rng() % out.size()] = kFullScale;
    out[rng() % out.size()] = -0x1000000;
  }
  return out;
}

std::int32_t RandomGain(std::mt19937& rng) {
  switch (rng() % 6) {
    case 0: return kUnityGain;
    case 1: return kUnityGain / 2;
    case 2: return kUnityGain * 2;
    case 3: return kMaxGain;
    case 4: return 0x8000;  // too small to show
    default: return static_cast<std::int32_t>(rng() % (8u * kUnityGain));
  }
}

// Random pieces of the blocks and silences; `align` makes every offset and length a
// multiple of it.
std::vector<Piece> RandomPieces(std::mt19937& rng, const Layout& layout, std::int32_t align, int count) {
  std::vector<Piece> pieces;
  for (int i = 0; i < count; ++i) {
    const int block = static_cast<int>(rng() % (layout.blocks.size() + 1)) - 1;
    if (block < 0) {
      pieces.push_back({-1, static_cast<std::int32_t>((1 + rng() % 20) * align), kUnityGain, 0});
      continue;
    }
    const std::int32_t block_frames =
        static_cast<std::int32_t>(layout.raw[block].size() / layout.channels) / align;
    const std::int32_t offset = static_cast<std::int32_t>(rng() % block_frames);
    const std::int32_t length = 1 + static_cast<std::int32_t>(rng() % (block_frames - offset));
    pieces.push_back({block, length * align, RandomGain(rng), offset * align});
  }
  return pieces;
}

bool Split(ColumnOptions options, int channels) {
  return (options.display_mode == 1 || options.display_mode == 2) && channels == 2;
}

// The columns straight from the samples the reader delivers (gains applied), frame by
// frame over the whole sound.
void DirectColumns(const std::vector<std::int32_t>& samples, int channels, const WaveMapping& m,
                   ColumnOptions options, Columns& upper, Columns& lower) {
  const int shift = options.vertical_zoom ? 8 : 11;
  const std::int64_t frames = static_cast<std::int64_t>(samples.size()) / channels;
  for (int t = 0; t < m.width; ++t) {
    std::int64_t high[2] = {0, 0};
    std::int64_t low[2] = {0, 0};
    for (std::int64_t f = std::max<std::int64_t>(m.Frame(t), 0); f < std::min<std::int64_t>(m.Frame(t + 1), frames); ++f) {
      for (int c = 0; c < channels; ++c) {
        const int lane = Split(options, channels) ? c : 0;
        high[lane] = std::max<std::int64_t>(high[lane], samples[f * channels + c]);
        low[lane] = std::min<std::int64_t>(low[lane], samples[f * channels + c]);
      }
    }
    auto byte = [&](std::int64_t v) { return static_cast<std::uint8_t>(std::min<std::int64_t>(255, v >> shift)); };
    if (Split(options, channels)) {
      upper[t] = byte(std::max(high[0], -low[0]));
      lower[t] = byte(std::max(high[1], -low[1]));
    } else {
      upper[t] = byte(high[0]);
      lower[t] = byte(-low[0]);
    }
  }
}

// One channel's record bytes of run `run` of a block, as its peak file holds them.
std::pair<int, int> PeakRecord(const std::vector<std::int32_t>& raw, int channels, std::int64_t run, int c) {
  const std::int64_t frames = static_cast<std::int64_t>(raw.size()) / channels;
  std::int64_t high = 0;
  std::int64_t low = 0;
  for (std::int64_t f = run * 256; f < std::min(frames, run * 256 + 256); ++f) {
    high = std::max<std::int64_t>(high, raw[f * channels + c]);
    low = std::min<std::int64_t>(low, raw[f * channels + c]);
  }
  return {static_cast<int>(std::min<std::int64_t>(255, high >> 11)),
          static_cast<int>(std::min<std::int64_t>(255, (-low) >> 11))};
}

// The peak columns for a layout whose segments and columns all lie on 256-frame records:
// per column, the segments it overlaps in order; each block segment's bytes are gathered
// under its factor, what came before is rescaled to it, and the last factor scales all.
void ExpectedPeakColumns(const Layout& layout, const std::vector<Piece>& pieces, const WaveMapping& m,
                         ColumnOptions options, Columns& upper, Columns& lower) {
  const int shift = options.vertical_zoom ? 13 : 16;
  const bool split = Split(options, layout.channels);
  std::int32_t g = 256;
  for (int t = 0; t < m.width; ++t) {
    const std::int64_t a = m.Frame(t);
    const std::int64_t b = m.Frame(t + 1);
    std::int32_t hi = 0;
    std::int32_t lo = 0;
    std::int64_t start = 0;
    for (const Piece& p : pieces) {
      const std::int64_t from = std::max<std::int64_t>(a, start);
      const std::int64_t to = std::min<std::int64_t>(b, start + p.length);
      start += p.length;
      if (from >= to || p.block < 0 || (p.gain >> shift) <= 0) continue;
      const std::int32_t factor = p.gain >> shift;
      hi = std::min(255, hi * g / factor);
      lo = std::min(255, lo * g / factor);
      g = factor;
      const std::int64_t base = p.offset - (start - p.length);
      for (std::int64_t run = (base + from) / 256; run < (base + to + 255) / 256; ++run) {
        for (int c = 0; c < layout.channels; ++c) {
          const auto [maximum, minimum] = PeakRecord(layout.raw[p.block], layout.channels, run, c);
          if (split) {
            (c == 0 ? hi : lo) = std::max({c == 0 ? hi : lo, maximum, minimum});
          } else {
            hi = std::max(hi, maximum);
            lo = std::max(lo, minimum);
          }
        }
      }
    }
    auto scaled = [&](std::int32_t v) { return static_cast<std::uint8_t>(v * g >= 0x10000 ? 255 : (v * g) >> 8); };
    upper[t] = scaled(hi);
    lower[t] = scaled(lo);
  }
}

std::vector<ColumnOptions> AllOptions(int channels) {
  std::vector<ColumnOptions> out;
  for (int mode = 0; mode < 3; ++mode)
    for (bool zoom : {false, true}) out.push_back({channels, mode, zoom});
  return out;
}

std::string Describe(const ColumnOptions& o, const WaveMapping& m) {
  return "channels " + std::to_string(o.channels) + " mode " + std::to_string(o.display_mode) +
         " zoom " + std::to_string(o.vertical_zoom) + " width " + std::to_string(m.width) +
         " first " + std::to_string(m.first_frame) + " frames " + std::to_string(m.visible_frames);
}

class WaveColumnsTest : public testing::StoreTest {
 protected:
  Layout RandomLayout(std::mt19937& rng, int channels, std::int32_t align, int pieces,
                      std::vector<Piece>& chosen) {
    Layout layout;
    layout.channels = channels;
    for (int b = 0; b < 3; ++b)
      AddBlock(layout, RandomSamples(rng, static_cast<std::int32_t>(align * (20 + rng() % 60)), channels));
    chosen = RandomPieces(rng, layout, align, pieces);
    Assemble(layout, chosen);
    return layout;
  }
};

TEST_F(WaveColumnsTest, SampleColumnsMatchADirectComputation) {
  std::mt19937 rng(61);
  for (int round = 0; round < 24; ++round) {
    const int channels = 1 + round % 2;
    std::vector<Piece> pieces;
    Layout layout = RandomLayout(rng, channels, 1 + static_cast<std::int32_t>(rng() % 50), 12, pieces);
    const std::vector<std::int32_t> samples = ReadAll(layout.sound);
    const std::int32_t length = SoundLength(layout.sound);
    for (const ColumnOptions& options : AllOptions(channels)) {
      WaveMapping m;
      m.SetClientSize(2 + static_cast<int>(1 + rng() % 300), 100);
      const std::int32_t visible = 1 + static_cast<std::int32_t>(rng() % (m.width * 256));
      const std::int32_t first = static_cast<std::int32_t>(rng() % (length + 1)) - 100;
      m.SetRange(first, visible);
      ASSERT_FALSE(ColumnsFromPeaks(m));
      Columns upper(kMaxColumns, 0xEE), lower(kMaxColumns, 0xEE), want_upper(kMaxColumns, 0xEE),
          want_lower(kMaxColumns, 0xEE);
      SourceRef reader = OpenSoundReader(layout.sound);
      EXPECT_EQ(ComputeColumns(*reader, layout.sound, m, 0, kMaxColumns, options, upper.data(), lower.data(), nullptr),
                m.width);
      DirectColumns(samples, channels, m, options, want_upper, want_lower);
      ASSERT_EQ(upper, want_upper) << Describe(options, m);
      ASSERT_EQ(lower, want_lower) << Describe(options, m);
    }
  }
  ExpectNoLeak();
}

// Segments and columns on whole records: the walk reads exactly the records of each
// column, so the result follows from the records and the gain arithmetic alone.
TEST_F(WaveColumnsTest, PeakColumnsMatchTheRecordsOnAlignedLayouts) {
  std::mt19937 rng(7);
  for (int round = 0; round < 24; ++round) {
    const int channels = 1 + round % 2;
    std::vector<Piece> pieces;
    Layout layout = RandomLayout(rng, channels, 256, 16, pieces);
    const std::int32_t length = SoundLength(layout.sound);
    for (const ColumnOptions& options : AllOptions(channels)) {
      WaveMapping m;
      m.SetClientSize(2 + static_cast<int>(1 + rng() % 120), 100);
      const std::int32_t per_column = 256 << (1 + rng() % 4);  // a power of two: exact frames
      const std::int32_t first = static_cast<std::int32_t>(rng() % (length / per_column + 1)) * per_column;
      m.SetRange(first, std::max(m.width, 8) * per_column);
      ASSERT_TRUE(ColumnsFromPeaks(m));
      Columns upper(kMaxColumns, 0xEE), lower(kMaxColumns, 0xEE), want_upper(kMaxColumns, 0xEE),
          want_lower(kMaxColumns, 0xEE);
      EXPECT_EQ(ComputeColumnsFromPeaks(layout.sound, m, 0, m.width - 1, options, upper.data(), lower.data(), nullptr),
                m.width);
      ExpectedPeakColumns(layout, pieces, m, options, want_upper, want_lower);
      ASSERT_EQ(upper, want_upper) << Describe(options, m);
      ASSERT_EQ(lower, want_lower) << Describe(options, m);
      // Starting in the middle continues the same walk.
      const int middle = m.width / 2;
      Columns part_upper(kMaxColumns, 0xEE), part_lower(kMaxColumns, 0xEE);
      ComputeColumnsFromPeaks(layout.sound, m, middle, m.width - 1, options, part_upper.data(), part_lower.data(),
                              nullptr);
      for (int t = middle; t < m.width; ++t) ASSERT_EQ(part_upper[t], want_upper[t]) << t;
    }
  }
  ExpectNoLeak();
}

// Segments and columns off the record grid: the walk advances by whole records, so the
// records of a column may reach into its neighbours (by up to about three records) and, at
// a segment whose offset or end lies inside a record, into block frames outside the
// segment; a column may also leave out part of a record at its start. The columns
// therefore lie between the sample peaks of the column shrunk by 768 frames (without the
// frames within 256 of a segment boundary) and those of
// the column widened by 768 frames plus its segments' block frames 256 frames either side.
// Gains are unity here: the rescaling arithmetic is checked on the aligned layouts.
TEST_F(WaveColumnsTest, PeakColumnsStayNearTheSamplesOnUnalignedLayouts) {
  std::mt19937 rng(99);
  for (int round = 0; round < 16; ++round) {
    const int channels = 1 + round % 2;
    Layout layout;
    layout.channels = channels;
    for (int b = 0; b < 3; ++b)
      AddBlock(layout, RandomSamples(rng, 20000 + static_cast<std::int32_t>(rng() % 30000), channels));
    std::vector<Piece> pieces = RandomPieces(rng, layout, 1, 10);
    for (Piece& p : pieces) p.gain = kUnityGain;
    Assemble(layout, pieces);
    const std::vector<std::int32_t> samples = ReadAll(layout.sound);
    const std::int32_t length = SoundLength(layout.sound);
    // A segment's records are counted from the record holding its offset, so up to 255
    // frames at each end of a segment may not be read at all.
    std::vector<bool> near_boundary(length, false);
    std::int64_t boundary = 0;
    for (const Piece& p : pieces) {
      for (std::int64_t f = std::max<std::int64_t>(0, boundary - 256); f < std::min<std::int64_t>(length, boundary + 256); ++f)
        near_boundary[f] = true;
      boundary += p.length;
    }
    for (std::int64_t f = std::max<std::int64_t>(0, boundary - 256); f < length; ++f) near_boundary[f] = true;
    for (const ColumnOptions& options : AllOptions(channels)) {
      const bool split = Split(options, channels);
      const int shift = options.vertical_zoom ? 8 : 11;
      WaveMapping m;
      m.SetClientSize(2 + static_cast<int>(1 + rng() % 100), 100);
      m.SetRange(static_cast<std::int32_t>(rng() % (length / 2)),
                 std::max(m.width, 8) * (2000 + static_cast<int>(rng() % 3000)));
      ASSERT_TRUE(ColumnsFromPeaks(m));
      Columns upper(kMaxColumns), lower(kMaxColumns);
      ComputeColumnsFromPeaks(layout.sound, m, 0, m.width - 1, options, upper.data(), lower.data(), nullptr);
      for (int t = 0; t < m.width; ++t) {
        // Per lane the largest magnitude seen, as the byte of that lane.
        auto fold = [&](const std::int32_t* frame, std::int64_t (&up)[2], std::int64_t (&down)[2]) {
          for (int c = 0; c < channels; ++c) {
            const int lane = split ? c : 0;
            up[lane] = std::max<std::int64_t>(up[lane], split ? std::abs(std::int64_t{frame[c]}) : frame[c]);
            down[split ? lane : 0] = std::max<std::int64_t>(down[split ? lane : 0], split ? std::abs(std::int64_t{frame[c]}) : -std::int64_t{frame[c]});
          }
        };
        auto bytes = [&](std::int64_t (&up)[2], std::int64_t (&down)[2]) {
          auto byte = [&](std::int64_t v) { return static_cast<int>(std::min<std::int64_t>(255, v >> shift)); };
          return split ? std::pair{byte(up[0]), byte(up[1])} : std::pair{byte(up[0]), byte(down[0])};
        };
        std::int64_t wide_up[2] = {0, 0}, wide_down[2] = {0, 0}, inner_up[2] = {0, 0}, inner_down[2] = {0, 0};
        const std::int64_t a = m.Frame(t), b = m.Frame(t + 1);
        for (std::int64_t f = std::max<std::int64_t>(0, a - 768); f < std::min<std::int64_t>(length, b + 768); ++f)
          fold(&samples[f * channels], wide_up, wide_down);
        for (std::int64_t f = std::max<std::int64_t>(0, a + 768); f < std::min<std::int64_t>(length, b - 768); ++f)
          if (!near_boundary[f]) fold(&samples[f * channels], inner_up, inner_down);
        std::int64_t start = 0;
        for (const Piece& p : pieces) {
          const std::int64_t from = std::max<std::int64_t>(a - 768, start), to = std::min<std::int64_t>(b + 768, start + p.length);
          start += p.length;
          if (from >= to || p.block < 0) continue;
          const std::vector<std::int32_t>& raw = layout.raw[p.block];
          const std::int64_t base = p.offset - (start - p.length);
          const std::int64_t block_frames = static_cast<std::int64_t>(raw.size()) / channels;
          for (std::int64_t f = std::max<std::int64_t>(0, base + from - 256); f < std::min(block_frames, base + to + 256); ++f)
            fold(&raw[f * channels], wide_up, wide_down);
        }
        const auto [high_u, high_l] = bytes(wide_up, wide_down);
        const auto [low_u, low_l] = bytes(inner_up, inner_down);
        const int tolerance = options.vertical_zoom ? 8 : 1;
        const std::string where = Describe(options, m) + " column " + std::to_string(t);
        EXPECT_LE(upper[t], std::min(255, high_u + tolerance)) << where;
        EXPECT_LE(lower[t], std::min(255, high_l + tolerance)) << where;
        EXPECT_GE(upper[t] + tolerance, low_u) << where;
        EXPECT_GE(lower[t] + tolerance, low_l) << where;
      }
    }
  }
  ExpectNoLeak();
}

TEST_F(WaveColumnsTest, ColumnCountIsBoundedByTheView) {
  Sound sound = testing::RampSound(100000, 0);
  SourceRef reader = OpenSoundReader(sound);
  Columns upper(kMaxColumns), lower(kMaxColumns);
  WaveMapping narrow;
  narrow.SetClientSize(2, 50);  // narrower than 3 pixels
  narrow.SetRange(0, 1000);
  EXPECT_EQ(narrow.width, 1);
  EXPECT_EQ(ComputeColumns(*reader, sound, narrow, -5, 10, {}, upper.data(), lower.data(), nullptr), 1);
  WaveMapping wide;
  wide.SetClientSize(4000, 50);  // wider than 2050 pixels
  wide.SetRange(0, 100000);
  EXPECT_EQ(wide.width, kMaxColumns);
  EXPECT_EQ(ComputeColumns(*reader, sound, wide, 0, 5000, {}, upper.data(), lower.data(), nullptr), kMaxColumns);
  EXPECT_EQ(ComputeColumns(*reader, sound, wide, 10, 5, {}, upper.data(), lower.data(), nullptr), 0);
  EXPECT_EQ(ComputeColumns(*reader, sound, wide, 0, 5, {}, nullptr, lower.data(), nullptr), 0);
  std::atomic<bool> stop{true};
  EXPECT_EQ(ComputeColumns(*reader, sound, wide, 0, 5000, {}, upper.data(), lower.data(), &stop), 0);
  WaveMapping wide_peaks = wide;
  wide_peaks.SetRange(0, 100000 * 6);
  EXPECT_EQ(ComputeColumns(*reader, sound, wide_peaks, 0, 5000, {}, upper.data(), lower.data(), &stop), 0);
}

// The peak file is overwritten with a constant so that the columns tell which source
// was read.
TEST_F(WaveColumnsTest, MoreThan256FramesPerColumnReadPeakFiles) {
  std::vector<std::int32_t> samples(64 * 257, 0x8000);  // bytes 16 in a true peak file
  Sound sound = WriteSound(samples);
  {
    File peaks(BlockPeakPath(sound.head->block), File::Mode::kCreate);
    const std::vector<std::uint8_t> records(samples.size() / 256 * 2 + 2, 100);
    ASSERT_TRUE(peaks.Write(records.data(), records.size()));
  }
  SourceRef reader = OpenSoundReader(sound);
  WaveMapping m;
  m.SetClientSize(66, 50);  // 64 columns
  Columns upper(kMaxColumns), lower(kMaxColumns);
  m.SetRange(0, 64 * 256);
  EXPECT_FALSE(ColumnsFromPeaks(m));
  ComputeColumns(*reader, sound, m, 0, 63, {}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 16);
  EXPECT_EQ(upper[63], 16);
  m.SetRange(0, 64 * 257);
  EXPECT_TRUE(ColumnsFromPeaks(m));
  ComputeColumns(*reader, sound, m, 0, 63, {}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 100);
  EXPECT_EQ(lower[0], 100);
  EXPECT_EQ(upper[63], 100);
}

TEST_F(WaveColumnsTest, ColumnOverSilenceAndBlocksOfDifferentGain) {
  // Block A: peak byte 200 at gain 0.5 (shows as 100); block B: byte 20 at gain 2 (40).
  Layout layout;
  AddBlock(layout, std::vector<std::int32_t>(1024, 200 << 11));
  AddBlock(layout, std::vector<std::int32_t>(1024, 20 << 11));
  const Piece a{0, 1024, kUnityGain / 2, 0};
  const Piece b{1, 1024, kUnityGain * 2, 0};
  const Piece silence{-1, 1024, kUnityGain, 0};
  WaveMapping m;
  m.SetClientSize(10, 50);  // 8 columns of 384 frames … one column of the whole
  m.SetRange(0, 3072);
  for (const auto& order : {std::vector<Piece>{a, silence, b}, std::vector<Piece>{b, silence, a},
                            std::vector<Piece>{silence, a, b}, std::vector<Piece>{silence, b, a}}) {
    Assemble(layout, order);
    WaveMapping whole;
    whole.SetClientSize(3, 50);
    whole.SetRange(0, 3072 * 8);  // the first column spans all three segments
    Columns upper(kMaxColumns), lower(kMaxColumns);
    ComputeColumnsFromPeaks(layout.sound, whole, 0, 0, {}, upper.data(), lower.data(), nullptr);
    EXPECT_EQ(upper[0], 100);
    EXPECT_EQ(lower[0], 0);
    ComputeColumnsFromPeaks(layout.sound, whole, 0, 0, {1, 0, true}, upper.data(), lower.data(), nullptr);
    EXPECT_EQ(upper[0], 255);  // 800 under vertical zoom
    // The samples agree: 200 << 11 at half gain is 100 << 11.
    SourceRef reader = OpenSoundReader(layout.sound);
    ComputeColumnsFromSamples(*reader, whole, 0, 0, {}, upper.data(), lower.data(), nullptr);
    EXPECT_EQ(upper[0], 100);
  }
  layout = Layout();
  ExpectNoLeak();
}

TEST_F(WaveColumnsTest, EmptySoundOverviewSpansOneSecond) {
  Sound empty(22050, 2);
  EXPECT_EQ(OverviewFrames(empty), 22050);
  Sound ramp = testing::RampSound(5000);
  EXPECT_EQ(OverviewFrames(ramp), 5000);

  ColumnWorker worker;
  worker.Resize(402, 100);
  worker.Attach(empty, {2, 0, false});
  worker.SetRange(0, OverviewFrames(empty));
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  worker.Snapshot([](const WaveMapping& m, const std::uint8_t* upper, const std::uint8_t* lower) {
    EXPECT_EQ(m.visible_frames, 22050);
    EXPECT_EQ(m.Frame(400), 22050);
    EXPECT_EQ(std::count(upper, upper + m.width, 0), 400);
    EXPECT_EQ(std::count(lower, lower + m.width, 0), 400);
  });
}

TEST_F(WaveColumnsTest, VerticalZoomReachesTheEdgeAtAQuarterOfFullScale) {
  Sound sound = WriteSound(std::vector<std::int32_t>(4096, kFullScale / 4));
  SourceRef reader = OpenSoundReader(sound);
  Columns upper(kMaxColumns), lower(kMaxColumns);
  WaveMapping m;
  m.SetClientSize(10, 50);
  m.SetRange(0, 2048);  // samples
  ComputeColumns(*reader, sound, m, 0, 7, {1, 0, true}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 255);
  ComputeColumns(*reader, sound, m, 0, 7, {1, 0, false}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 63);
  m.SetRange(0, 4096);  // peak files
  ComputeColumns(*reader, sound, m, 0, 7, {1, 0, true}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 255);
  ComputeColumns(*reader, sound, m, 0, 7, {1, 0, false}, upper.data(), lower.data(), nullptr);
  EXPECT_EQ(upper[0], 63);
}

// ---------------------------------------------------------------------------------------

struct Recorder {
  std::mutex mutex;
  std::vector<std::array<int, 3>> invalidated;
  std::vector<std::pair<bool, std::int32_t>> edges;
};

class ColumnWorkerTest : public WaveColumnsTest {
 protected:
  void Connect(ColumnWorker& worker) {
    worker.SetCallbacks(
        [this](int first, int last, int scroll) {
          std::lock_guard lock(recorder_.mutex);
          recorder_.invalidated.push_back({first, last, scroll});
        },
        [this](bool start, std::int32_t frame) {
          std::lock_guard lock(recorder_.mutex);
          recorder_.edges.push_back({start, frame});
        });
  }
  static void Shown(const ColumnWorker& worker, WaveMapping& mapping, Columns& upper, Columns& lower) {
    worker.Snapshot([&](const WaveMapping& m, const std::uint8_t* u, const std::uint8_t* l) {
      mapping = m;
      upper.assign(u, u + kMaxColumns);
      lower.assign(l, l + kMaxColumns);
    });
  }
  static void Direct(const Sound& sound, const WaveMapping& m, ColumnOptions o, Columns& upper, Columns& lower) {
    upper.assign(kMaxColumns, 0);
    lower.assign(kMaxColumns, 0);
    SourceRef reader = OpenSoundReader(sound);
    ComputeColumns(*reader, sound, m, 0, m.width - 1, o, upper.data(), lower.data(), nullptr);
  }
  Recorder recorder_;
};

TEST_F(ColumnWorkerTest, RequestsMatchTheDirectComputation) {
  std::mt19937 rng(5);
  std::vector<Piece> pieces;
  Layout layout = RandomLayout(rng, 2, 256, 20, pieces);
  const ColumnOptions options{2, 1, false};
  ColumnWorker worker;
  Connect(worker);
  worker.Resize(302, 120);
  worker.Attach(layout.sound, options);
  const std::int32_t length = SoundLength(layout.sound);
  for (const auto& [first, count] : {std::pair{0, length}, std::pair{1000, 300 * 100}, std::pair{500, 300 * 300}}) {
    worker.SetRange(first, count);
    ASSERT_TRUE(worker.WaitUntilIdle(10000));
    WaveMapping shown;
    Columns upper, lower, want_upper, want_lower;
    Shown(worker, shown, upper, lower);
    EXPECT_EQ(shown.width, 300);
    EXPECT_EQ(shown.first_frame, first);
    EXPECT_EQ(shown.visible_frames, count);
    Direct(layout.sound, shown, options, want_upper, want_lower);
    EXPECT_EQ(upper, want_upper);
    EXPECT_EQ(lower, want_lower);
  }
  // A resize recomputes everything at the new width.
  const std::int64_t before = worker.computed_columns();
  worker.Resize(202, 80);
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  EXPECT_EQ(worker.computed_columns() - before, 200);
  {
    std::lock_guard lock(recorder_.mutex);
    ASSERT_FALSE(recorder_.invalidated.empty());
    EXPECT_EQ(recorder_.invalidated.back(), (std::array<int, 3>{1, 200, 0}));
  }
  worker.Detach();
  EXPECT_FALSE(worker.attached());
  layout = Layout();
  ExpectNoLeak();
}

TEST_F(ColumnWorkerTest, PureScrollComputesOnlyTheUncoveredColumns) {
  std::mt19937 rng(11);
  std::vector<Piece> pieces;
  Layout layout = RandomLayout(rng, 2, 256, 40, pieces);
  for (const bool peaks : {false, true}) {
    const ColumnOptions options{2, 0, false};
    ColumnWorker worker;
    Connect(worker);
    worker.Resize(402, 100);  // 400 columns
    worker.Attach(layout.sound, options);
    const std::int32_t per_column = peaks ? 512 : 64;
    std::int32_t first = 50 * per_column;
    const std::int32_t count = 400 * per_column;
    worker.SetRange(first, count);
    ASSERT_TRUE(worker.WaitUntilIdle(10000));
    for (const int shift : {40, -25, 399, -1, 400, -700}) {
      const std::int64_t before = worker.computed_columns();
      first += shift * per_column;
      worker.SetRange(first, count);
      ASSERT_TRUE(worker.WaitUntilIdle(10000));
      EXPECT_EQ(worker.computed_columns() - before, std::min(std::abs(shift), 400)) << shift;
      WaveMapping shown;
      Columns upper, lower, want_upper, want_lower;
      Shown(worker, shown, upper, lower);
      WaveMapping fresh;
      fresh.SetClientSize(402, 100);
      fresh.SetRange(first, count);
      EXPECT_EQ(shown.offset_pixels, fresh.offset_pixels);
      Direct(layout.sound, fresh, options, want_upper, want_lower);
      EXPECT_EQ(upper, want_upper) << "peaks " << peaks << " shift " << shift;
      EXPECT_EQ(lower, want_lower) << "peaks " << peaks << " shift " << shift;
      std::lock_guard lock(recorder_.mutex);
      if (std::abs(shift) < 400) {
        // The scroll first, then the repaint of the uncovered strip.
        ASSERT_GE(recorder_.invalidated.size(), 2u);
        const auto scroll = recorder_.invalidated[recorder_.invalidated.size() - 2];
        const auto paint = recorder_.invalidated.back();
        EXPECT_EQ(scroll[2], shift);
        const std::array<int, 3> strip = shift > 0 ? std::array<int, 3>{401 - shift, 400, 0}
                                                   : std::array<int, 3>{1, -shift, 0};
        EXPECT_EQ(paint, strip);
      }
    }
    // The same range again computes nothing.
    const std::int64_t before = worker.computed_columns();
    worker.SetRange(first, count);
    ASSERT_TRUE(worker.WaitUntilIdle(10000));
    EXPECT_EQ(worker.computed_columns(), before);
  }
  layout = Layout();
  ExpectNoLeak();
}

TEST_F(ColumnWorkerTest, SelectionEdgeFollowsTheScrolledView) {
  Sound sound = testing::RampSound(100000);
  ColumnWorker worker;
  Connect(worker);
  worker.Resize(102, 50);  // 100 columns, 100 frames each
  worker.Attach(sound, {});
  worker.SetRange(10000, 10000);
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  worker.SetEdgeState(4);
  worker.SetRange(11000, 10000);
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  worker.SetEdgeState(6);
  worker.SetRange(10500, 10000);
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  worker.SetEdgeState(0);
  worker.SetRange(10000, 10000);
  ASSERT_TRUE(worker.WaitUntilIdle(10000));
  std::lock_guard lock(recorder_.mutex);
  ASSERT_EQ(recorder_.edges.size(), 2u);
  EXPECT_EQ(recorder_.edges[0], std::make_pair(false, 21000));
  EXPECT_EQ(recorder_.edges[1], std::make_pair(true, 10500));
}

// Thousands of one-frame segments make every column open hundreds of files: a full
// computation takes seconds, and detaching must not wait for it.
TEST_F(ColumnWorkerTest, DetachStopsALongComputation) {
  std::vector<Sound> blocks;
  for (int b = 0; b < 32; ++b) blocks.push_back(testing::RampSound(64, b * 1000));
  Sound sound(44100, 1);
  Segment* tail = nullptr;
  constexpr int kSegments = 2048 * 256;
  for (int i = 0; i < kSegments; ++i) {
    Segment* g = NewSegment(blocks[i % 32].head->block, 1, kUnityGain, i % 64);
    (tail == nullptr ? sound.head : tail->next) = g;
    tail = g;
  }
  ColumnWorker worker;
  worker.Resize(4000, 100);
  worker.Attach(sound, {});
  worker.SetRange(0, kSegments);  // 256 frames per column: samples
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto start = std::chrono::steady_clock::now();
  worker.Detach();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_LT(worker.computed_columns(), kMaxColumns);  // stopped part way
  FreeSegments(sound);
  blocks.clear();
  ExpectNoLeak();
}

}  // namespace
}  // namespace sonavel
