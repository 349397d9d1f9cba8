#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "formats/pump.h"
#include "formats/wav_reader.h"
#include "platform/ui.h"
#include "store/peak_limiter.h"
#include "wav_fixture.h"

namespace sonavel {
namespace {

using testing::Drain;
using testing::FormatTest;
using testing::WriteSound;

// A sound louder than full scale (gains and mixes make them) is saved through the limiter:
// no sample wraps or sits at the rail where the limiter takes the level down, and away
// from the loud part the file holds the plain conversion.
TEST_F(FormatTest, SavingASoundBeyondFullScaleLimitsItInsteadOfClipping) {
  constexpr std::int32_t kRate = 8000;
  std::vector<std::int32_t> signal(8000);
  for (std::size_t i = 0; i < signal.size(); ++i) {
    const double amplitude = i >= 3000 && i < 5000 ? 3.0 * kFullScale : 0.4 * kFullScale;
    signal[i] = static_cast<std::int32_t>(std::sin(static_cast<double>(i) * 0.07) * amplitude);
  }
  Sound sound = WriteSound(signal, 1, kRate);
  SilentProgress progress;
  const std::string wav = Path("loud.wav");
  ASSERT_EQ(SaveSoundAsWav(sound, PcmFormat(kRate, 1, 16), wav, progress), kDone);
  SourceRef reader = OpenWavReader(wav);
  const std::vector<std::int32_t> file = Drain(*reader);
  ASSERT_EQ(file.size(), signal.size());

  const std::int32_t block = LimiterBlockLength(kRate);
  const std::size_t touched_from = static_cast<std::size_t>((3000 / block - 2) * block);
  const std::size_t touched_to = static_cast<std::size_t>((5000 / block + 3) * block);
  SourceRef limited = MakePeakLimiter(OpenSoundReader(sound), kFullScale);
  const std::vector<std::int32_t> expected = testing::ReadFrames(*limited, 8000);
  int at_rail = 0;
  for (std::size_t i = 0; i < signal.size(); ++i) {
    const std::int32_t plain = ((signal[i] + 8) >> 4) * 16;  // what the writer makes of it
    if (i < touched_from || i >= touched_to) {
      ASSERT_EQ(file[i], plain) << "frame " << i;
      continue;
    }
    ASSERT_EQ(file[i], ((expected[i] + 8) >> 4) * 16) << "frame " << i;
    ASSERT_EQ(file[i] > 0, signal[i] > 8) << "frame " << i << " wrapped";
    ASSERT_LE(std::abs(file[i]), std::abs(signal[i]) + 32) << "frame " << i;
    at_rail += file[i] >= 32767 * 16 || file[i] <= -32767 * 16;
  }
  // The plain conversion would pin a third of the loud part's samples at the rails.
  EXPECT_LE(at_rail, 4);
  // The loud part still reaches close to full scale.
  std::int32_t loudest = 0;
  for (std::size_t i = 3000; i < 5000; ++i) loudest = std::max(loudest, std::abs(file[i]));
  EXPECT_GT(loudest, 32000 * 16);
}

}  // namespace
}  // namespace sonavel
