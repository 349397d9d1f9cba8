// Click repair: the window sizes and thresholds by exact values, the manual repair's
// selection limit, the automatic repair of a hundred clicks on two tones in noise (beside
// ffmpeg's adeclick on the same samples), a click at the selection's very end, and cancel.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "effects/click_repair.h"
#include "effects/effect.h"
#include "memory_source.h"
#include "peer_files.h"
#include "store/store_fixture.h"

namespace sonavel {
namespace {

using testing::Memory;
using testing::ReadAll;
using testing::ReadInOddChunks;
using testing::ReadRaw16;
using testing::RunCommand;
using testing::WriteRaw16;
using testing::WriteSound;

constexpr int kRate = 44100;

TEST(ClickRepair, WindowsAndThresholdsAreExact) {
  ClickRepairFilter manual(Memory({}, kRate), 35, 450);
  EXPECT_EQ(manual.window, 441);
  EXPECT_EQ(manual.lag, 3);
  EXPECT_EQ(manual.longest, 19);  // 19.845 frames, truncated
  EXPECT_EQ(manual.span, 441 - 4 - 19 - 2);
  // A slow rate: the longest click is at least 4 frames.
  ClickRepairFilter slow(Memory({}, 8000), 35, 450);
  EXPECT_EQ(slow.longest, 4);
  EXPECT_EQ(slow.span, 80 - 0 - 4 - 2);
  // A long click widens the window to twice its length.
  ClickRepairFilter wide(Memory({}, kRate), 35, 20000);
  EXPECT_EQ(wide.window, 2 * 882);

  // c = 5, e = 10, σ = 0 → jump (0 + 10 + 100) × 5, level 10 + 5.
  const std::vector<std::int32_t> h = {0, 10, 0, 10};
  ClickThresholds t = WindowThresholds(h.data(), 1, 4, 1, 50);
  EXPECT_EQ(t.jump, 550);
  EXPECT_EQ(t.level, 15);
  // Changes 0, 40 (e = 20, σ = 20) at sensitivity 35: (20 × 35 / 50 + 20 + 100) × 3.
  const std::vector<std::int32_t> g = {0, 0, 0, 40, 99};
  t = WindowThresholds(g.data(), 1, 4, 2, 35);
  EXPECT_EQ(t.jump, (20 * 35 / 50 + 20 + 100) * 3);
  EXPECT_EQ(t.level, 20 + 10 * 35 / 50);
  // Full-scale magnitudes over a long window do not overflow.
  const std::vector<std::int32_t> loud(8192, -0x7FFFFFFF);
  t = WindowThresholds(loud.data(), 1, 8192, 1, 99);
  EXPECT_EQ(t.jump, (0 + 0 + 100) * 9);
  EXPECT_EQ(t.level, 0x7FFFFFFFLL * 99 / 50);
}

// One channel of two tones (440 Hz and 1 kHz) and faint noise, as 16-bit values, with 100
// one-frame clicks of 0.3 to 0.9 full scale, alternating in sign, every 1500 frames.
struct ClickedTones {
  std::vector<std::int16_t> clean;
  std::vector<std::int16_t> clicked;
  std::vector<std::int32_t> clicks;
};

ClickedTones MakeClickedTones() {
  ClickedTones tones;
  const std::int32_t frames = 101 * 1500;
  std::uint32_t noise = 2024;
  for (std::int32_t i = 0; i < frames; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i) / kRate;
    const double v = 6000 * std::sin(2 * std::numbers::pi * 440 * t) +
                     3000 * std::sin(2 * std::numbers::pi * 1000 * t) + static_cast<double>(static_cast<std::int32_t>(noise >> 24) - 128);
    tones.clean.push_back(static_cast<std::int16_t>(std::lround(v)));
  }
  tones.clicked = tones.clean;
  for (int k = 0; k < 100; ++k) {
    const std::int32_t at = 1500 + k * 1500 + (k * 37) % 200;
    const double height = (0.3 + 0.6 * k / 99.0) * 32767 * (k % 2 == 0 ? 1 : -1);
    tones.clicked[at] = static_cast<std::int16_t>(std::clamp<double>(tones.clean[at] + height, -32767, 32767));
    tones.clicks.push_back(at);
  }
  return tones;
}

// How many clicks lost at least 20 dB of their error, and the farthest changed frame from
// any click.
struct ClickFigures {
  int repaired = 0;
  std::int32_t farthest_change = 0;
  double mean_gain_db = 0;
};

ClickFigures Measure(const ClickedTones& tones, const std::vector<std::int32_t>& out16) {
  ClickFigures figures;
  for (std::int32_t at : tones.clicks) {
    const double before = std::abs(tones.clicked[at] - tones.clean[at]);
    const double after = std::max(1.0, std::abs(static_cast<double>(out16[at] - tones.clean[at])));
    figures.mean_gain_db += 20 * std::log10(before / after) / static_cast<double>(tones.clicks.size());
    if (after * 10 <= before) ++figures.repaired;
  }
  for (std::size_t i = 0; i < out16.size(); ++i) {
    if (out16[i] == tones.clicked[i]) continue;
    std::int32_t nearest = 1 << 30;
    for (std::int32_t at : tones.clicks) nearest = std::min(nearest, std::abs(static_cast<std::int32_t>(i) - at));
    figures.farthest_change = std::max(figures.farthest_change, nearest);
  }
  return figures;
}

class ClickRunTest : public testing::StoreTest {
 protected:
  Result Run(Sound& sound, std::int32_t start, std::int32_t end, Progress& progress, int command = 7009) {
    const EffectDefinition* effect = FindEffect(command);
    EXPECT_NE(effect, nullptr);
    EffectValues values;
    for (const EffectParameter& parameter : effect->parameters) values[parameter.name] = parameter.fallback;
    EffectRun run{.sound = sound, .start = start, .end = end, .values = values, .points = {}, .progress = progress};
    return effect->run(run);
  }
};

TEST_F(ClickRunTest, RepairsClicksOnTonesInNoiseBesideFfmpegAdeclick) {
  const ClickedTones tones = MakeClickedTones();
  std::vector<std::int32_t> store(tones.clicked.begin(), tones.clicked.end());
  for (std::int32_t& sample : store) sample *= 16;
  Sound sound = WriteSound(store, 1, kRate);
  SilentProgress progress;
  ASSERT_EQ(Run(sound, 0, SoundLength(sound), progress), kDone);
  const std::vector<std::int32_t> out = ReadAll(sound);
  ASSERT_EQ(out.size(), store.size());
  std::vector<std::int32_t> out16(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) out16[i] = out[i] / 16;
  const ClickFigures ours = Measure(tones, out16);
  EXPECT_GE(ours.repaired, 80);
  EXPECT_LE(ours.farthest_change, 30);
  std::printf("ours: %d of 100 clicks 20 dB lower, mean %.1f dB, farthest change %d frames\n", ours.repaired,
              ours.mean_gain_db, ours.farthest_change);
  // Only the mended spans became new audio: the sound is the old block with short splices.
  EXPECT_LE(SegmentCount(sound), 2 * 100 + 1);

  if (RunCommand("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string folder = folder_ + "/adeclick";
  std::filesystem::create_directories(folder);
  WriteRaw16(folder + "/in.raw", tones.clicked);
  const std::string raw = " -f s16le -ar 44100 -ac 1 ";
  ASSERT_EQ(RunCommand("ffmpeg -v error -y" + raw + "-i '" + folder + "/in.raw' -af adeclick" + raw + "'" + folder +
                       "/out.raw'"),
            0);
  const std::vector<std::int16_t> peer = ReadRaw16(folder + "/out.raw");
  ASSERT_EQ(peer.size(), tones.clicked.size());
  const ClickFigures theirs = Measure(tones, std::vector<std::int32_t>(peer.begin(), peer.end()));
  std::printf("adeclick: %d of 100 clicks 20 dB lower, mean %.1f dB, farthest change %d frames\n", theirs.repaired,
              theirs.mean_gain_db, theirs.farthest_change);
}

TEST_F(ClickRunTest, NothingIsMendedAcrossTheSelectionsEndAndCancelChangesNothing) {
  // Quiet noise with one click of a few frames; the selection ends one frame after its peak.
  std::vector<std::int32_t> samples(20000);
  std::uint32_t noise = 7;
  for (std::int32_t& sample : samples) {
    noise = noise * 1664525u + 1013904223u;
    sample = static_cast<std::int32_t>(noise >> 22) - 512;
  }
  const std::int32_t at = 10000;
  for (std::int32_t k = 0; k < 3; ++k) samples[at + k] += 300000 >> k;
  auto changed = [&samples](const Sound& sound) {
    const std::vector<std::int32_t> out = ReadAll(sound);
    std::vector<std::int32_t> frames;
    for (std::size_t i = 0; i < out.size(); ++i)
      if (out[i] != samples[i]) frames.push_back(static_cast<std::int32_t>(i));
    return frames;
  };
  SilentProgress progress;
  {
    // The whole click inside: mended, a few frames around it only.
    Sound sound = WriteSound(samples, 1, kRate);
    ASSERT_EQ(Run(sound, 0, 20000, progress), kDone);
    const std::vector<std::int32_t> frames = changed(sound);
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.front(), at - 3);
    EXPECT_LE(frames.back(), at + 20);
  }
  {
    // Ending within the click: its end lies beyond the selection, so nothing is mended and
    // nothing after the selection is touched.
    Sound sound = WriteSound(samples, 1, kRate);
    ASSERT_EQ(Run(sound, 0, at + 2, progress), kDone);
    EXPECT_TRUE(changed(sound).empty());
  }
  {
    // The manual repair of a 44-frame selection ending inside the click does not reach past it.
    Sound sound = WriteSound(samples, 1, kRate);
    ASSERT_EQ(Run(sound, at - 40, at + 2, progress, 7010), kDone);
    EXPECT_TRUE(changed(sound).empty());
    ASSERT_EQ(Run(sound, at - 20, at + 24, progress, 7010), kDone);
    const std::vector<std::int32_t> frames = changed(sound);
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.front(), at - 20);
    EXPECT_LT(frames.back(), at + 24);
  }
  {
    // Cancelled at the second window: the sound stays as it was.
    Sound sound = WriteSound(samples, 1, kRate);
    class CancelSoon final : public Progress {
     public:
      void SetTexts(std::string_view, std::string_view) override {}
      void SetFraction(double) override {}
      bool Pump() override { return ++pumps > 1; }
      int pumps = 0;
    } cancel;
    EXPECT_EQ(Run(sound, 0, 20000, cancel), kCancelled);
    EXPECT_TRUE(changed(sound).empty());
  }
}

TEST(ClickRepair, ManualRepairTakesAtMostAMillisecond) {
  const EffectDefinition* manual = FindEffect(7010);
  ASSERT_NE(manual, nullptr);
  EXPECT_TRUE(manual->keeps_selection);
  EXPECT_EQ(manual->lead_in_ms, 1000);
  Sound sound(kRate, 2);
  EXPECT_FALSE(manual->refuse(sound, 1000, 1044).has_value());
  const std::optional<Message> refused = manual->refuse(sound, 1000, 1045);
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->text,
            "Sonavel kann einen Bereich dieser Größe nicht manuell reduzieren. Bitte wählen Sie einen kleineren "
            "Bereich.");
  EXPECT_EQ(refused->caption, "Sonavel");
  EXPECT_EQ(refused->icon, MessageIcon::kError);
  // Far beyond the int range of frames × 1000.
  EXPECT_TRUE(manual->refuse(sound, 0, 0x7FFFFFFF).has_value());

  const EffectDefinition* automatic = FindEffect(7009);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(automatic->progress_title, "Click Detecting");
  ASSERT_EQ(automatic->parameters.size(), 2u);
  EXPECT_EQ(automatic->parameters[0].key, "Settings");
  EXPECT_EQ(automatic->parameters[0].fallback, "50");
  EXPECT_EQ(automatic->parameters[1].fallback, "450");
  EXPECT_EQ(automatic->reset_id, 103);
}

}  // namespace
}  // namespace sonavel
