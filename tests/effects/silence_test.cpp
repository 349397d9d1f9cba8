// Automatic trimming and splitting: the peak map by exact bytes (gain scaling, a block
// whose peak file is gone measured from its samples), the trim and split edge cases by
// exact frames, and both against sox's `silence` effect on the same sound.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "effects/dsp/fixed_point.h"
#include "effects/effect.h"
#include "effects/silence.h"
#include "memory_source.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::WriteSound;

constexpr int kRate = 44100;

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status == -1 ? -1 : WEXITSTATUS(status);
}

// Mono samples, each 256-frame block at the level given for it (a square wave of that
// magnitude, so both peaks of the block are `level`).
std::vector<std::int32_t> Blocks(const std::vector<std::int32_t>& levels) {
  std::vector<std::int32_t> samples;
  for (const std::int32_t level : levels)
    for (int i = 0; i < 256; ++i) samples.push_back(i % 2 == 0 ? level : -level);
  return samples;
}

class AutoTrim : public testing::StoreTest {};

TEST_F(AutoTrim, PeakMapScalesByTheGainAndMeasuresABlockWithoutPeakFile) {
  // Blocks of byte 4, 40 and 200 (level = byte << 11), then a partial block.
  std::vector<std::int32_t> samples = Blocks({4 << 11, 40 << 11, 200 << 11, 10 << 11});
  samples.resize(868);
  Sound sound = WriteSound(samples);
  const std::vector<std::uint8_t> own = BuildPeakMap(sound);
  EXPECT_EQ(own, (std::vector<std::uint8_t>{4, 4, 40, 40, 200, 200, 10, 10}));
  // Half the gain: byte × (2^23 >> 16) >> 8, that is byte / 2; twice: limited to 255.
  ScaleGain(sound, 50);
  EXPECT_EQ(BuildPeakMap(sound), (std::vector<std::uint8_t>{2, 2, 20, 20, 100, 100, 5, 5}));
  ScaleGain(sound, 400);
  EXPECT_EQ(BuildPeakMap(sound), (std::vector<std::uint8_t>{8, 8, 80, 80, 255, 255, 20, 20}));
  ScaleGain(sound, 50);
  // Without its peak file the block is measured from its samples to the same bytes, and
  // trimming still keeps the loud audio instead of taking it for silence.
  std::filesystem::remove(BlockPeakPath(sound.head->block));
  EXPECT_EQ(BuildPeakMap(sound), own);
  EXPECT_EQ(TrimRange(BuildPeakMap(sound), 1, 868, -20), (LoudRange{0, 768}));
  // A silence segment in the middle contributes nothing; the entries after it move on.
  InsertSilence(sound, 512, 256);
  EXPECT_EQ(BuildPeakMap(sound), (std::vector<std::uint8_t>{4, 4, 0, 0, 0, 0, 40, 40, 200, 200, 10, 10}));
  FreeSegments(sound);
  ExpectNoLeak();
}

TEST_F(AutoTrim, ScansFromBlockOneKeepsAllAtZeroDecibelsAndComputesTheFloorWide) {
  // Quiet (byte 1) around loud blocks 3 … 6: -20 dB of 200 is the floor 20.
  const std::vector<std::int32_t> levels = {1 << 11, 1 << 11, 1 << 11, 200 << 11, 30 << 11,
                                            50 << 11, 21 << 11, 20 << 11, 1 << 11, 1 << 11};
  Sound sound = WriteSound(Blocks(levels));
  const std::vector<std::uint8_t> map = BuildPeakMap(sound);
  ASSERT_EQ(map.size(), 22u);
  EXPECT_EQ(200 * DecibelToQ24(-20) / kQ24Unity, 20);
  EXPECT_EQ(TrimRange(map, 1, 2560, -20), (LoudRange{512, 1792}));
  EXPECT_EQ(TrimRange(map, 1, 2560, -10), (LoudRange{512, 1024}));  // floor 63: block 3 only
  // 0 dB: nothing exceeds the loudest peak, the whole sound stays. So does a loud sound at
  // 127 dB, whose floor 200 × 0x7FFFFFFF / 2^24 would wrap in 32 bits and trim everything.
  EXPECT_EQ(TrimRange(map, 1, 2560, 0), (LoudRange{0, 2560}));
  EXPECT_EQ(TrimRange(map, 1, 2560, 127), (LoudRange{0, 2560}));
  // The first 256 frames loud: the scan begins at block 1, so start is 0 when block 1 is
  // loud too; when it is quiet, block 0 goes unseen and start is a block before the next
  // loud one.
  Sound first = WriteSound(Blocks({200 << 11, 200 << 11, 1 << 11, 1 << 11}));
  EXPECT_EQ(TrimRange(BuildPeakMap(first), 1, 1024, -20), (LoudRange{0, 512}));
  Sound only_first = WriteSound(Blocks({200 << 11, 1 << 11, 1 << 11, 90 << 11, 1 << 11, 1 << 11}));
  EXPECT_EQ(TrimRange(BuildPeakMap(only_first), 1, 1536, -20), (LoudRange{512, 1024}));
  // Stereo loud only in block 0's second channel and the last partial block: the two scans
  // would cross (start 768, end 256) and delete everything; the whole sound stays.
  std::vector<std::uint8_t> crossing(2 * 2 * 5, 0);
  crossing[3] = 100;   // block 0, right channel
  crossing[17] = 100;  // block 4, left channel's negative peak
  EXPECT_EQ(TrimRange(crossing, 2, 1100, -20), (LoudRange{0, 1100}));

  // The command: both ends deleted, cursor at 0, the whole sound shown.
  const EffectDefinition* trim = FindEffect(kAutoTrimCommand);
  ASSERT_NE(trim, nullptr);
  EXPECT_EQ(trim->undo_name, "Automatisches Trimmen");
  SilentProgress progress;
  EffectRun run{sound, 100, 200, {{"AutoTrimThreshold", "-20"}}, {}, progress};
  ASSERT_EQ(trim->run(run), kDone);
  const std::vector<std::int32_t> all = Blocks(levels);
  EXPECT_EQ(testing::ReadAll(sound), std::vector<std::int32_t>(all.begin() + 512, all.begin() + 1792));
  EXPECT_EQ(run.cursor, 0);
  EXPECT_TRUE(run.show_all);
  FreeSegments(sound);
  FreeSegments(first);
  FreeSegments(only_first);
  ExpectNoLeak();
}

// A progress window whose Cancel is pressed at the `at`-th pump.
class CancelAt final : public Progress {
 public:
  explicit CancelAt(int at) : at_(at) {}
  void SetTexts(std::string_view, std::string_view) override {}
  void SetFraction(double) override {}
  bool Pump() override { return ++pumps_ >= at_; }

 private:
  int at_;
  int pumps_ = 0;
};

// Blocks of 2205 frames (44100 / 20) at the magnitudes given.
std::vector<std::int32_t> SplitBlocks(const std::vector<std::int32_t>& levels) {
  std::vector<std::int32_t> samples;
  for (const std::int32_t level : levels) samples.insert(samples.end(), 2205, level);
  return samples;
}

TEST(AutoSplit, RegionsByTheBlockRulesExactly) {
  EXPECT_EQ(SplitBlockFrames(44100), 2205);
  EXPECT_EQ(SplitBlockFrames(300), 20);
  EXPECT_EQ(SplitBlockFrames(192000), 8192);
  EXPECT_EQ(SplitThreshold(-36), 2077);  // 10^-1.8 × 2^17 = 2077.3
  EXPECT_EQ(SplitThreshold(0), 131072);
  constexpr std::int32_t B = 2205;
  constexpr std::int32_t L = 3000;  // loud: above 2077
  constexpr std::int32_t Q = 2077;  // quiet: at the threshold is not above it
  auto find = [](const std::vector<std::int32_t>& samples, int duration_ms) {
    SilentProgress progress;
    SourceRef reader = Memory(samples, kRate);
    return *FindLoudRanges(*reader, reader->Length(), -36, duration_ms, progress);
  };
  using Ranges = std::vector<LoudRange>;
  // Duration 0: every quiet block ends a region. A region beginning in block 0 starts at 0;
  // one beginning at block p starts half a block earlier; each ends two blocks after its
  // last loud block.
  const std::vector<std::int32_t> pattern = SplitBlocks({L, L, Q, Q, Q, Q, L, Q, L, Q, Q, Q, Q, Q, Q});
  EXPECT_EQ(find(pattern, 0), (Ranges{{0, 3 * B}, {6 * B - B / 2, 8 * B}, {8 * B - B / 2, 10 * B}}));
  // 100 ms (4410 frames, two blocks): the one-block gap joins the last two regions.
  EXPECT_EQ(find(pattern, 100), (Ranges{{0, 3 * B}, {6 * B - B / 2, 10 * B}}));
  // A region still open at the end ends at the sound's end, not two blocks past it; a
  // negative reader (magnitudes count) works as well.
  std::vector<std::int32_t> tail = SplitBlocks({Q, -L, Q, Q, Q, L});
  tail.resize(tail.size() - 1000);
  EXPECT_EQ(find(tail, 0), (Ranges{{B - B / 2, 3 * B}, {5 * B - B / 2, 6 * B - 1000}}));
  // Cancelled: nothing.
  SourceRef reader = Memory(pattern, kRate);
  CancelAt cancel(2);
  EXPECT_FALSE(FindLoudRanges(*reader, reader->Length(), -36, 0, cancel).has_value());
  // The region windows' names.
  EXPECT_EQ(RegionDocumentPath("/a/b.c/song.wav", 2), "/a/b.c/song (2).wav");
  EXPECT_EQ(RegionDocumentPath("/a/b.c/take", 0), "/a/b.c/take (0)");
}

// ---- Against sox.

struct SoxFolder {
  SoxFolder() {
    char pattern[] = "/tmp/sonavel-silence-XXXXXX";
    path = ::mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~SoxFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

void WriteRaw16(const std::string& path, const std::vector<std::int16_t>& samples) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(2 * samples.size()));
}

std::vector<std::int16_t> ReadRaw16(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(file.tellg()) / 2);
  file.seekg(0).read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(2 * samples.size()));
  return samples;
}

// Stereo 16-bit: faint noise (about `noise` 16-bit steps), with bursts of a 440 Hz tone at
// `tone` steps over the frame ranges given.
std::vector<std::int16_t> Bursts(std::int32_t frames, const std::vector<LoudRange>& bursts, double tone, int noise) {
  std::vector<std::int16_t> samples(2 * static_cast<std::size_t>(frames));
  std::uint32_t state = 777;
  for (std::int32_t i = 0; i < frames; ++i) {
    bool loud = false;
    for (const LoudRange& burst : bursts) loud = loud || (i >= burst.start && i < burst.end);
    for (int c = 0; c < 2; ++c) {
      state = state * 1664525u + 1013904223u;
      double v = static_cast<double>(static_cast<int>(state >> 16) % (2 * noise + 1) - noise);
      if (loud) v += tone * std::sin(2 * std::numbers::pi * 440 * i / kRate + c);
      samples[2 * static_cast<std::size_t>(i) + c] = static_cast<std::int16_t>(std::lround(v));
    }
  }
  return samples;
}

const char kSoxFormat[] = " -t raw -r 44100 -e signed -b 16 -c 2 -L ";

TEST_F(AutoTrim, KeepsWhatSoxSilenceKeepsWithinTwoBlocks) {
  if (RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  // Full-scale bursts (so -20 dB of the loudest peak is -20 dBFS), their edges off the
  // 256-frame grid, in noise at -60 dBFS.
  const std::int32_t frames = 5 * kRate;
  const std::vector<std::int16_t> input =
      Bursts(frames, {{kRate + 77, 2 * kRate}, {2 * kRate + 5000, 4 * kRate - 123}}, 32700, 32);
  SoxFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::string in = folder.path + "/in.raw";
  const std::string out = folder.path + "/out.raw";
  WriteRaw16(in, input);
  ASSERT_EQ(RunCommand(std::string("sox -D") + kSoxFormat + in + kSoxFormat + out +
                       " silence 1 0.01 -20d reverse silence 1 0.01 -20d reverse 2>/dev/null"),
            0);
  const std::vector<std::int16_t> peer = ReadRaw16(out);
  ASSERT_GT(peer.size(), 0u);
  // Where sox's first kept sample lies in the input.
  std::int32_t peer_start = -1;
  for (std::int32_t f = 0; f + 64 <= frames && peer_start < 0; ++f)
    if (std::equal(peer.begin(), peer.begin() + 128, input.begin() + 2 * static_cast<std::ptrdiff_t>(f))) peer_start = f;
  ASSERT_GE(peer_start, 0);
  const std::int32_t peer_end = peer_start + static_cast<std::int32_t>(peer.size() / 2);

  std::vector<std::int32_t> store(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) store[i] = input[i] * 16;
  Sound sound = WriteSound(store, 2);
  const LoudRange kept = TrimRange(BuildPeakMap(sound), 2, frames, -20);
  SilentProgress progress;
  EffectRun run{sound, 0, frames, {{"AutoTrimThreshold", "-20"}}, {}, progress};
  ASSERT_EQ(FindEffect(kAutoTrimCommand)->run(run), kDone);
  EXPECT_NEAR(kept.start, peer_start, 512);
  EXPECT_NEAR(kept.end, peer_end, 512);
  EXPECT_EQ(SoundLength(sound), kept.end - kept.start);
  const std::vector<std::int32_t> ours = testing::ReadAll(sound);
  EXPECT_TRUE(std::equal(ours.begin(), ours.end(), store.begin() + 2 * static_cast<std::ptrdiff_t>(kept.start)));
  FreeSegments(sound);
}

TEST(AutoSplit, GivesTheMinusFortyEightDecibelPartsOfSoxSilenceWithinTwoBlocks) {
  if (RunCommand("sox --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  // Bursts at -12 dBFS in noise at -70 dBFS, separated by a second of quiet, except one
  // gap of 0.2 s that both keep inside a part (shorter than the 0.5 s they wait for).
  const std::int32_t frames = 9 * kRate;
  const std::vector<LoudRange> bursts = {{kRate / 2 + 31, kRate + 1000},
                                         {2 * kRate + 7, 3 * kRate},
                                         {3 * kRate + kRate / 5, 4 * kRate + 333},
                                         {5 * kRate + 4321, 7 * kRate}};
  const std::vector<std::int16_t> input = Bursts(frames, bursts, 8192, 10);
  SoxFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const std::string in = folder.path + "/in.raw";
  WriteRaw16(in, input);
  ASSERT_EQ(RunCommand(std::string("sox -D") + kSoxFormat + in + kSoxFormat + folder.path +
                       "/part.raw silence 1 0.05 -48d 1 0.5 -48d : newfile : restart 2>/dev/null"),
            0);
  // Each part of sox found in the input, in order.
  std::vector<LoudRange> peer;
  std::int32_t from = 0;
  for (int n = 1;; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "/part%03d.raw", n);
    if (!std::filesystem::exists(folder.path + name)) break;
    const std::vector<std::int16_t> part = ReadRaw16(folder.path + name);
    if (part.size() < 128) continue;
    std::int32_t at = from;
    while (at + 64 <= frames &&
           !std::equal(part.begin(), part.begin() + 128, input.begin() + 2 * static_cast<std::ptrdiff_t>(at)))
      ++at;
    ASSERT_LE(at + 64, frames) << name;
    peer.push_back({at, at + static_cast<std::int32_t>(part.size() / 2)});
    from = peer.back().end;
  }
  ASSERT_EQ(peer.size(), 3u);

  std::vector<std::int32_t> store(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) store[i] = input[i] * 16;
  SilentProgress progress;
  SourceRef reader = Memory(store, kRate, 2);
  const std::vector<LoudRange> ours = *FindLoudRanges(*reader, frames, -36, 500, progress);
  ASSERT_EQ(ours.size(), peer.size());
  for (std::size_t i = 0; i < ours.size(); ++i) {
    EXPECT_NEAR(ours[i].start, peer[i].start, 2 * 2205) << i;
    EXPECT_NEAR(ours[i].end, peer[i].end, 2 * 2205) << i;
  }
}

}  // namespace
}  // namespace sonavel
